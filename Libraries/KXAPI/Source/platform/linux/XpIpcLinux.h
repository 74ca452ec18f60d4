// System V named mutex and named shared memory, named through key files.
#pragma once

#include "XpInterfaces.h"

class XpNamedMutexLinux : public IXpNamedMutex {
public:
    // Key-file prefix, "/dev/shm/sem." by default; tests point it at a private directory.
    static const char* m_pPrefix;

    XpNamedMutexLinux() = default;
    ~XpNamedMutexLinux() override;

    KXAPI_RESULT CreateNew(const char* name) override;
    KXAPI_RESULT CreateOrOpen(const char* name) override;
    KXAPI_RESULT OpenExisting(const char* key) override;
    KXAPI_RESULT GetKey(char* buffer, unsigned int size) override;
    KXAPI_RESULT Lock(int timeoutMs) override;
    KXAPI_RESULT Unlock() override;
    KXAPI_RESULT Close() override;
    KXAPI_RESULT ForceFree() override;

private:
    KXAPI_RESULT SetFree();

    char m_Path[100] = {};
    int m_Key = 0;
    int m_SemId = -1;
    bool m_Creator = false;
};

// Shared memory is written only by its creator: other users attach it read-only.
class XpSharedMemLinux : public IXpSharedMem {
public:
    // Key-file prefix, "/dev/shm/" by default; tests point it at a private directory.
    static const char* m_pPrefix;
    // The contents of every shared-memory key file (97 bytes, no terminator written).
    static const char KEY_FILE_TEXT[];

    XpSharedMemLinux() = default;
    ~XpSharedMemLinux() override;

    KXAPI_RESULT CreateNew(const char* name, unsigned int size, void*& memory) override;
    KXAPI_RESULT OpenExisting(const char* key, unsigned int size, void*& memory, bool readOnly) override;
    KXAPI_RESULT GetKey(char* buffer, unsigned int size) override;
    KXAPI_RESULT Close() override;
    void* GetMemPtr() override;

private:
    char m_Path[260] = {};
    int m_Key = 0;
    int m_ShmId = -1;
    void* m_pMemory = nullptr;
};

// Creates a key file without following links: any old entry is removed first and the file
// is made with O_CREAT | O_EXCL | O_NOFOLLOW, mode `mode`, holding `length` bytes of `text`.
KXAPI_RESULT XpCreateKeyFile(const char* path, const char* text, unsigned int length, unsigned int mode = 0666);
