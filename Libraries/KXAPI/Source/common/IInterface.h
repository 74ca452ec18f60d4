// Root of every platform and service interface.
#pragma once

class IInterface {
public:
    virtual ~IInterface() = default;
};
