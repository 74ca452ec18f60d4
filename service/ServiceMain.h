// Process start-up of the service: single-instance check, daemon, PID file, signals.
#pragma once

#include <dirent.h>

struct ServiceStartOptions {
    // Fork twice, start a new session and redirect the standard streams to /dev/null.
    bool m_Daemonise = true;
    // Refuse to start when another process of the same program file name runs.
    bool m_CheckSingleInstance = true;
    // Path of the PID file, or null for none.
    const char* m_pPidFile = nullptr;
    // Called once the managers run (after any daemonising, with stop signals still blocked),
    // so that a caller's own threads live in the final process; null for none.
    void (*m_pOnStarted)(void* arg) = nullptr;
    void* m_pOnStartedArg = nullptr;
};

// Runs the service from start-up to exit; returns the process exit status.
int ServiceMain(const char* programPath, const ServiceStartOptions& options);

// False only when "/proc/" cannot be opened; `found` tells whether another process whose
// first argument has the file name of `programPath` runs (the own parent never counts).
bool IsAlreadyRunning(const char* programPath, bool& found);

// The first command-line argument of the process behind one "/proc/" entry, into `text`
// (`size` bytes); false when it cannot be read or is empty.
bool GetProcessName(const dirent* entry, char* text, int size);
