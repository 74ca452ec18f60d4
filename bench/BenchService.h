// A KxapiServiceSim of a benchmark's own: started on a private FIFO directory, which the
// benchmark process also uses for its clients, and removed with it at the end.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "CrossPlatform.h"
#include "DemodPortClient.h"
#include "XpUtil.h"

// Starts the service on the FIFO directory `dir` (its standard error discarded), with
// --scenario when one is given; KX_BENCH_SERVICE names another service program (a build to
// compare with). Returns at once with its process id.
inline pid_t SpawnBenchService(const std::string& dir, const char* scenario)
{
    pid_t service = fork();
    if (service == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        const char* program = getenv("KX_BENCH_SERVICE") != nullptr ? getenv("KX_BENCH_SERVICE") : KX_SIM_BINARY;
        if (scenario != nullptr)
            execl(program, program, "--fifo-dir", dir.c_str(), "--no-daemon", "--scenario", scenario,
                  static_cast<char*>(nullptr));
        else
            execl(program, program, "--fifo-dir", dir.c_str(), "--no-daemon", static_cast<char*>(nullptr));
        _exit(127);
    }
    return service;
}

// Opens a port of the service's card once the service holds the card (up to `attempts` tries
// 100 ms apart); false on any other refusal.
inline bool OpenPortWhenReady(Kxapi::DemodPortClient& client, int64_t serial, int32_t port, int attempts = 200)
{
    for (int attempt = 0; attempt < attempts; attempt++) {
        KXAPI_RESULT result = client.Init(serial, port);
        if (result == KXAPI_OK)
            return true;
        if (result != KXAPI_E_NO_SUCH_DEVICE && result != KXAPI_E_CONNECT_TO_SERVICE)
            return false;
        XpUtil::Sleep(100);
    }
    return false;
}

// Makes the directory, points this process's FIFOs at it and starts the service there (its
// standard error discarded); returns once the FIFO `waitFor` exists (or after 5 s). -1 when the
// directory cannot be made.
inline pid_t StartBenchService(std::string& dir, const char* waitFor, const char* scenario = nullptr)
{
    signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/kxbench.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return -1;
    dir = pattern;
    Xp::SetIpcDirectory(dir.c_str());
    pid_t service = SpawnBenchService(dir, scenario);
    std::string listener = dir + "/" + waitFor;
    for (int i = 0; i < 500 && access(listener.c_str(), F_OK) != 0; i++)
        usleep(10000);
    return service;
}

// Stops the service cleanly and removes its directory.
inline void StopBenchService(pid_t service, const std::string& dir)
{
    if (service > 0) {
        kill(service, SIGTERM);
        waitpid(service, nullptr, 0);
    }
    std::string cleanup = "rm -rf '" + dir + "'";
    if (system(cleanup.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", dir.c_str());
}
