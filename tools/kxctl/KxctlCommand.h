// The command table of kxctl. A command registers itself from its own source file:
//
//   static KxctlRegistrar g_Version({"version", "", "print the service version", RunVersion});
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "KxapiResult.h"

// Exit statuses of every command.
constexpr int KXCTL_EXIT_OK = 0;      // done
constexpr int KXCTL_EXIT_FAILED = 1;  // the service or the device refused or failed
constexpr int KXCTL_EXIT_USAGE = 2;   // the command line is wrong
constexpr int KXCTL_EXIT_NO_SERVICE = 3; // no service answers on the FIFOs
constexpr int KXCTL_EXIT_NOT_LOCKED = 4; // tune --wait-lock: no lock within the wait

// One object of --json output: fields in the order they are added.
using KxctlJson = nlohmann::ordered_json;

struct KxctlCommand {
    const char* m_pName;  // first word on the command line
    const char* m_pArgs;  // argument synopsis for the usage text
    const char* m_pHelp;  // one line of help
    // Runs the command with the words after its name; returns the exit status.
    int (*m_pRun)(int argc, char** argv);
};

// A table of commands that register themselves from their own source files, one table per
// level of the command line (`Level` tells them apart: kxctl's commands, the demod
// sub-commands).
template <class Level> class KxctlCommandTable {
public:
    explicit KxctlCommandTable(const KxctlCommand& command) { Table().push_back(command); }
    static const std::vector<KxctlCommand>& Commands() { return Table(); }

private:
    static std::vector<KxctlCommand>& Table()
    {
        static std::vector<KxctlCommand> commands;
        return commands;
    }
};

struct KxctlTopLevel {};
using KxctlRegistrar = KxctlCommandTable<KxctlTopLevel>;

// --json: every command prints one JSON object per reading, a line each, instead of text.
bool KxctlJsonOutput();
void KxctlSetJsonOutput(bool json);
// Prints `object` on a line of its own and flushes.
void KxctlEmit(const KxctlJson& object);
// Prints `object` with --json, else the line `text`.
void KxctlPrint(const KxctlJson& object, const std::string& text);

// Prints "kxctl: <what>: <result name> (<value>)" and what to do next where there is something
// to do on stderr (with --json also {"error": ...} on stdout); returns KXCTL_EXIT_NO_SERVICE
// when no service answered, else KXCTL_EXIT_FAILED.
int KxctlFail(const char* what, KXAPI_RESULT result);
// What to do next after `result`, or "" when there is nothing particular to do.
const char* KxctlHint(KXAPI_RESULT result);
// Prints "kxctl: <message>" and the usage of `command` on stderr; returns exit status 2.
int KxctlUsage(const char* command, const char* message);

// Number parsing: the whole word must be a number (decimal or 0x hex); false otherwise.
bool ParseI64(const char* pText, int64_t& value);
bool ParseI32(const char* pText, int32_t& value);
