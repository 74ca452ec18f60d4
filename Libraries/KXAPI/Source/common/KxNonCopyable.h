// Base of classes whose objects own something (a thread, a lock, a connection, a device) and
// so must be neither copied nor assigned: derive privately from it.
#pragma once

class KxNonCopyable {
protected:
    KxNonCopyable() = default;
    ~KxNonCopyable() = default;

public:
    KxNonCopyable(const KxNonCopyable&) = delete;
    KxNonCopyable& operator=(const KxNonCopyable&) = delete;
};
