#include "XpUtil.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <ctime>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "CrossPlatform.h"
#include "XpPipeConnectionLinux.h"

unsigned int XpUtil::GetTickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                            static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
    return static_cast<unsigned int>(ms);
}

void XpUtil::Sleep(int ms)
{
    usleep(static_cast<useconds_t>(ms) * 1000);
}

void XpUtil::USleep(int us)
{
    usleep(static_cast<useconds_t>(us));
}

long XpUtil::AtomicIncrement(long* value)
{
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

long XpUtil::AtomicDecrement(long* value)
{
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

long XpUtil::AtomicCompareExchange(long* value, long exchange, long comparand)
{
    long expected = comparand;
    __atomic_compare_exchange_n(value, &expected, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return expected;
}

long XpUtil::AtomicSet(long* value, long newValue)
{
    long old = __atomic_load_n(value, __ATOMIC_SEQ_CST);
    while (!__atomic_compare_exchange_n(value, &old, newValue, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
        // old now holds the current value; try again with it.
    }
    return old;
}

KXAPI_RESULT XpUtil::Sprintf(char* buffer, int size, const char* format, ...)
{
    if (buffer == nullptr || format == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (size <= 0)
        return KXAPI_E_BUF_TOO_SMALL;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, static_cast<size_t>(size), format, args);
    va_end(args);
    if (written < 0) {
        buffer[0] = '\0';
        return KXAPI_E_INVALID_ARG;
    }
    if (written >= size)
        return KXAPI_E_BUF_TOO_SMALL;
    return KXAPI_OK;
}

int XpUtil::GetCurrentProcessId()
{
    return static_cast<int>(getpid());
}

KXAPI_RESULT XpUtil::WsToCs(char* buffer, const wchar_t* text, int size)
{
    if (text == nullptr)
        return KXAPI_E_INVALID_ARG;
    return Sprintf(buffer, size, "%ls", text);
}

KXAPI_RESULT XpUtil::CsToWs(wchar_t* buffer, const char* text, int size)
{
    if (buffer == nullptr || text == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (size <= 0)
        return KXAPI_E_BUF_TOO_SMALL;
    int written = swprintf(buffer, static_cast<size_t>(size), L"%s", text);
    if (written < 0) {
        // swprintf fails both for a text that does not fit and for one it cannot convert.
        buffer[0] = L'\0';
        return mbstowcs(nullptr, text, 0) == static_cast<size_t>(-1) ? KXAPI_E_INVALID_ARG : KXAPI_E_BUF_TOO_SMALL;
    }
    return KXAPI_OK;
}

KXAPI_RESULT XpUtil::ChangeDeviceState(const std::string& name, bool state)
{
    (void)name;
    (void)state;
    return KXAPI_E_NOT_IMPLEMENTED;
}

bool XpUtil::FreePath(const char* path)
{
    struct stat info {};
    if (lstat(path, &info) != 0)
        return errno == ENOENT;
    if (unlink(path) == 0)
        return true;
    // Something unlink cannot remove (a directory, say): move it aside, never into it.
    for (int attempt = 0; attempt < 10; attempt++) {
        char aside[256];
        if (KxapiFailed(XpUtil::Sprintf(aside, sizeof(aside), "%s.blocked-%d-%ld", path,
                                        XpUtil::GetCurrentProcessId(), random())))
            return false;
        if (lstat(aside, &info) == 0)
            continue;
        if (rename(path, aside) == 0) {
            Xp::Instance()->EventLog(XP_EVENT_PATH_MOVED_ASIDE, 2, path, aside);
            return true;
        }
        if (errno != EEXIST && errno != ENOTEMPTY)
            return false;
    }
    return false;
}

bool XpUtil::IsSafeName(const char* name)
{
    return XpPipeBaseLinux::IsSafeName(name);
}
