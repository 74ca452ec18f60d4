// The command table of kxctl. A command registers itself from its own source file:
//
//   static KxctlRegistrar g_Version({"version", "", "print the service version", RunVersion});
#pragma once

#include <cstdint>
#include <vector>

#include "KxapiResult.h"

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

// Prints "kxctl: <what>: <result name> (<value>)" on stderr and returns exit status 1.
int KxctlFail(const char* what, KXAPI_RESULT result);
// Prints "kxctl: <message>" and the usage of `command` on stderr; returns exit status 2.
int KxctlUsage(const char* command, const char* message);

// Number parsing: the whole word must be a number (decimal or 0x hex); false otherwise.
bool ParseI64(const char* pText, int64_t& value);
bool ParseI32(const char* pText, int32_t& value);
