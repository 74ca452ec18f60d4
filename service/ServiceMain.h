// Process start-up of the service: single-instance check, daemon, PID file, signals.
#pragma once

#include <dirent.h>

struct ServiceStartOptions {
    // Fork twice, start a new session and redirect the standard streams to /dev/null.
    bool m_Daemonise = true;
    // Refuse to start when another instance holds the instance lock, or when another process
    // of the service's user runs under the same program file name.
    bool m_CheckSingleInstance = true;
    // With the check: also look for another process of the service's user under the same
    // program file name. Off for a program whose instances are told apart by their FIFO
    // directory alone (the simulator), where the instance lock is the whole rule.
    bool m_CheckProcessNames = true;
    // The instance lock: a file of the service's user, locked with flock for the process's life.
    const char* m_pInstanceLockFile = "/run/KxapiService.lock";
    // Path of the PID file, or null for none.
    const char* m_pPidFile = nullptr;
    // Called once the managers run (after any daemonising, with stop signals still blocked),
    // so that a caller's own threads live in the final process; null for none.
    void (*m_pOnStarted)(void* arg) = nullptr;
    void* m_pOnStartedArg = nullptr;
};

// Runs the service from start-up to exit; returns the process exit status.
int ServiceMain(const char* programPath, const ServiceStartOptions& options);

// False only when "/proc/" cannot be opened; `found` tells whether another process of the same
// user whose first argument has the file name of `programPath` runs (the own parent never
// counts).
bool IsAlreadyRunning(const char* programPath, bool& found);

// Opens (creating it, mode 0644, never through a link) and locks the instance lock file;
// false when another process holds it or the file is not the service user's own regular file.
// A service that does not run as root and cannot create the file goes without it (fd -1).
bool AcquireInstanceLock(const char* path, int& fd);

// Writes the process id into a newly created PID file, mode 0644, never through a link; a stale
// entry at the path is replaced. False when that fails.
bool WritePidFile(const char* path);

// The first command-line argument of the process behind one "/proc/" entry, into `text`
// (`size` bytes); false when it cannot be read or is empty.
bool GetProcessName(const dirent* entry, char* text, int size);
