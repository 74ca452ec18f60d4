#include "XpIpcLinux.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include "XpUtil.h"

const char* XpNamedMutexLinux::m_pPrefix = "/dev/shm/sem.";
const char* XpSharedMemLinux::m_pPrefix = "/dev/shm/";
const char XpSharedMemLinux::KEY_FILE_TEXT[] =
    "This file is created by the Korvix KXAPI for its unique inode number and should not be deleted!!!";
static_assert(sizeof(XpSharedMemLinux::KEY_FILE_TEXT) - 1 == 97);

// ThreadSanitizer does not see System V semaphores as locks: a named mutex tells it that
// its Lock acquires and its Unlock releases, so threads of one process that share memory
// under it are not reported as racing.
#if defined(__SANITIZE_THREAD__)
#define KX_NAMED_MUTEX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KX_NAMED_MUTEX_TSAN 1
#endif
#endif
#ifdef KX_NAMED_MUTEX_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {

// Semaphores: every reader must be able to take the lock.
constexpr int IPC_MODE = 0666;
// Shared memory: only the creator writes; everyone else attaches read-only.
constexpr int SHM_CREATE_MODE = 0644;
constexpr int SHM_READ_MODE = 0444;

union SemaphoreArgument {
    int m_Value;
    semid_ds* m_pBuffer;
    unsigned short* m_pArray;
};

bool ParseKey(const char* text, int& key)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
        return false;
    key = static_cast<int>(value);
    return true;
}

} // namespace

KXAPI_RESULT XpCreateKeyFile(const char* path, const char* text, unsigned int length, unsigned int mode)
{
    if (!XpUtil::FreePath(path))
        return KXAPI_E_INTERNAL;
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return KXAPI_E_NO_PERMISSION;
    // The service runs with a zero umask; a library client may not, so set the mode anyway.
    fchmod(fd, mode);
    unsigned int done = 0;
    while (done < length) {
        ssize_t n = write(fd, text + done, length - done);
        if (n <= 0) {
            close(fd);
            unlink(path);
            return KXAPI_E_INTERNAL;
        }
        done += static_cast<unsigned int>(n);
    }
    close(fd);
    return KXAPI_OK;
}

// ---------------------------------------------------------------------------------------
// Named mutex: one System V semaphore, value 1 = free.

XpNamedMutexLinux::~XpNamedMutexLinux()
{
    Close();
}

KXAPI_RESULT XpNamedMutexLinux::SetFree()
{
    SemaphoreArgument argument{};
    argument.m_Value = 1;
    if (semctl(m_SemId, 0, SETVAL, argument) != 0) {
        Close();
        m_SemId = -1;
        return KXAPI_E_NO_PERMISSION;
    }
    return KXAPI_OK;
}

KXAPI_RESULT XpNamedMutexLinux::CreateNew(const char* name)
{
    if (m_SemId != -1)
        return KXAPI_E_IN_USE;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    KXAPI_RESULT result = XpUtil::Sprintf(m_Path, sizeof(m_Path), "%s%s", m_pPrefix, name);
    if (KxapiFailed(result)) {
        m_Path[0] = '\0';
        return result;
    }
    if (KxapiFailed(XpCreateKeyFile(m_Path, "", 0))) {
        m_Path[0] = '\0';
        return KXAPI_E_NO_PERMISSION;
    }
    for (int id = 32; id <= 255; id++) {
        key_t key = ftok(m_Path, id);
        if (key == -1)
            continue;
        int semId = semget(key, 1, IPC_CREAT | IPC_EXCL | IPC_MODE);
        if (semId != -1) {
            m_Key = key;
            m_SemId = semId;
            break;
        }
    }
    if (m_SemId == -1) {
        unlink(m_Path);
        m_Path[0] = '\0';
        return KXAPI_E_NO_PERMISSION;
    }
    m_Creator = true;
    return SetFree();
}

KXAPI_RESULT XpNamedMutexLinux::CreateOrOpen(const char* name)
{
    if (m_SemId != -1)
        return KXAPI_E_IN_USE;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    KXAPI_RESULT result = XpUtil::Sprintf(m_Path, sizeof(m_Path), "%s%s", m_pPrefix, name);
    if (KxapiFailed(result)) {
        m_Path[0] = '\0';
        return result;
    }
    struct stat info {};
    // Keep an existing key file (its inode is the lock's identity) unless it is not a
    // plain file, which is replaced rather than followed.
    if (lstat(m_Path, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (KxapiFailed(XpCreateKeyFile(m_Path, "", 0)))
            return KXAPI_E_NO_PERMISSION;
    }
    for (int id = 32; id <= 255; id++) {
        key_t key = ftok(m_Path, id);
        if (key == -1)
            continue;
        int semId = semget(key, 1, IPC_CREAT | IPC_MODE);
        if (semId != -1) {
            m_Key = key;
            m_SemId = semId;
            break;
        }
    }
    if (m_SemId == -1)
        return KXAPI_E_NO_PERMISSION;
    m_Creator = false;
    return SetFree();
}

KXAPI_RESULT XpNamedMutexLinux::OpenExisting(const char* key)
{
    if (m_SemId != -1)
        return KXAPI_E_IN_USE;
    int value = 0;
    if (!ParseKey(key, value))
        return KXAPI_E_INVALID_ARG;
    int semId = semget(value, 1, 0);
    if (semId == -1)
        return KXAPI_E_NOT_FOUND;
    m_Key = value;
    m_SemId = semId;
    m_Creator = false;
    return KXAPI_OK;
}

KXAPI_RESULT XpNamedMutexLinux::GetKey(char* buffer, unsigned int size)
{
    if (m_SemId == -1)
        return KXAPI_E_NOT_INITIALIZED;
    return XpUtil::Sprintf(buffer, static_cast<int>(size), "%d", m_Key);
}

KXAPI_RESULT XpNamedMutexLinux::Lock(int timeoutMs)
{
    if (m_SemId == -1)
        return KXAPI_E_NOT_INITIALIZED;
    if (timeoutMs < 0)
        timeoutMs = 0;
    sembuf operation{};
    operation.sem_num = 0;
    operation.sem_op = -1;
    operation.sem_flg = SEM_UNDO;
    timespec timeout{};
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
    while (semtimedop(m_SemId, &operation, 1, &timeout) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? KXAPI_E_TIMEOUT : KXAPI_E_NO_PERMISSION;
    }
#ifdef KX_NAMED_MUTEX_TSAN
    __tsan_acquire(this);
#endif
    return KXAPI_OK;
}

KXAPI_RESULT XpNamedMutexLinux::Unlock()
{
    if (m_SemId == -1)
        return KXAPI_E_NOT_INITIALIZED;
    sembuf operation{};
    operation.sem_num = 0;
    operation.sem_op = 1;
    operation.sem_flg = SEM_UNDO;
#ifdef KX_NAMED_MUTEX_TSAN
    __tsan_release(this);
#endif
    return semop(m_SemId, &operation, 1) == 0 ? KXAPI_OK : KXAPI_E_NO_PERMISSION;
}

KXAPI_RESULT XpNamedMutexLinux::ForceFree()
{
    if (m_SemId == -1)
        return KXAPI_E_NOT_INITIALIZED;
    // SETVAL also clears every process's undo record of the semaphore, so a holder that
    // exits later cannot push it above 1.
    SemaphoreArgument argument{};
    argument.m_Value = 1;
    return semctl(m_SemId, 0, SETVAL, argument) == 0 ? KXAPI_OK : KXAPI_E_NO_PERMISSION;
}

KXAPI_RESULT XpNamedMutexLinux::Close()
{
    if (m_Creator && m_SemId != -1) {
        semctl(m_SemId, 0, IPC_RMID);
        m_SemId = -1;
        m_Creator = false;
    }
    return KXAPI_OK;
}

// ---------------------------------------------------------------------------------------
// Shared memory.

XpSharedMemLinux::~XpSharedMemLinux()
{
    Close();
}

KXAPI_RESULT XpSharedMemLinux::CreateNew(const char* name, unsigned int size, void*& memory)
{
    if (m_pMemory != nullptr)
        return KXAPI_E_IN_USE;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    KXAPI_RESULT result = XpUtil::Sprintf(m_Path, sizeof(m_Path), "%s%s", m_pPrefix, name);
    if (KxapiFailed(result)) {
        m_Path[0] = '\0';
        return result;
    }
    result = XpCreateKeyFile(m_Path, KEY_FILE_TEXT, sizeof(KEY_FILE_TEXT) - 1, SHM_CREATE_MODE);
    if (KxapiFailed(result)) {
        m_Path[0] = '\0';
        return result;
    }
    for (int id = 0; id <= 255; id++) {
        key_t key = ftok(m_Path, id);
        if (key == -1)
            continue;
        int shmId = shmget(key, size, IPC_CREAT | IPC_EXCL | SHM_CREATE_MODE);
        if (shmId != -1) {
            m_Key = key;
            m_ShmId = shmId;
            break;
        }
    }
    if (m_ShmId == -1) {
        unlink(m_Path);
        m_Path[0] = '\0';
        return KXAPI_E_IN_USE;
    }
    void* address = shmat(m_ShmId, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        unlink(m_Path);
        m_Path[0] = '\0';
        shmctl(m_ShmId, IPC_RMID, nullptr);
        m_ShmId = -1;
        return KXAPI_E_INTERNAL;
    }
    m_pMemory = address;
    memory = address;
    return KXAPI_OK;
}

KXAPI_RESULT XpSharedMemLinux::OpenExisting(const char* key, unsigned int size, void*& memory, bool readOnly)
{
    if (m_pMemory != nullptr)
        return KXAPI_E_IN_USE;
    int value = 0;
    if (!ParseKey(key, value))
        return KXAPI_E_NOT_FOUND;
    // A reader asks only for read access, which every user has.
    int shmId = shmget(value, size, readOnly ? SHM_READ_MODE : IPC_MODE);
    if (shmId == -1)
        return KXAPI_E_NOT_FOUND;
    void* address = shmat(shmId, nullptr, readOnly ? SHM_RDONLY : 0);
    if (address == reinterpret_cast<void*>(-1))
        return KXAPI_E_INTERNAL;
    m_Key = value;
    m_pMemory = address;
    memory = address;
    return KXAPI_OK;
}

KXAPI_RESULT XpSharedMemLinux::GetKey(char* buffer, unsigned int size)
{
    if (m_pMemory == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    return XpUtil::Sprintf(buffer, static_cast<int>(size), "%d", m_Key);
}

KXAPI_RESULT XpSharedMemLinux::Close()
{
    if (m_pMemory != nullptr) {
        shmdt(m_pMemory);
        m_pMemory = nullptr;
    }
    if (m_ShmId != -1) {
        shmctl(m_ShmId, IPC_RMID, nullptr);
        m_ShmId = -1;
    }
    if (m_Path[0] != '\0') {
        unlink(m_Path);
        m_Path[0] = '\0';
    }
    return KXAPI_OK;
}

void* XpSharedMemLinux::GetMemPtr()
{
    return m_pMemory;
}
