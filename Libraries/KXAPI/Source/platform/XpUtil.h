// Small time, atomic, text and process helpers of the platform layer.
#pragma once

#include <string>

#include "KxapiResult.h"

class XpUtil {
public:
    // Milliseconds of the monotonic clock, wrapping at 2^32; compare by unsigned difference.
    static unsigned int GetTickCount();
    static void Sleep(int ms);
    static void USleep(int us);

    // Locked +1 / -1; return the new value.
    static long AtomicIncrement(long* value);
    static long AtomicDecrement(long* value);
    // Locked compare-and-exchange; returns the value found before.
    static long AtomicCompareExchange(long* value, long exchange, long comparand);
    // Stores newValue; returns the value found before.
    static long AtomicSet(long* value, long newValue);

    // snprintf that never writes past size bytes: KXAPI_E_INVALID_ARG for null buffer or
    // format, KXAPI_E_BUF_TOO_SMALL when the text and its terminator do not fit.
    static KXAPI_RESULT Sprintf(char* buffer, int size, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    static int GetCurrentProcessId();

    // Makes `path` free for a new file: removes what is there (never following a link), and
    // moves aside under a fresh name, logged with both names, what unlink cannot remove (a
    // directory planted there, say). True when nothing is left at `path`.
    static bool FreePath(const char* path);

    // True when `name` is one safe component of the FIFO directory (letters, digits, '_', '.',
    // '-'; not empty, "." or ".."): the rule every name a client hands over meets before it
    // becomes part of a path.
    static bool IsSafeName(const char* name);

    // Wide (4-byte) text to narrow and back, in the C library's locale.
    static KXAPI_RESULT WsToCs(char* buffer, const wchar_t* text, int size);
    static KXAPI_RESULT CsToWs(wchar_t* buffer, const char* text, int size);

    // Device power switching by name; not available on this platform.
    static KXAPI_RESULT ChangeDeviceState(const std::string& name, bool state);
};
