// Owning handles for platform objects: a std::unique_ptr whose deleter closes the object
// (where its kind has a Close) and deletes it. The Make* factories of Xp return such a
// handle, already initialised, or null; nobody writes create / Init / delete-on-failure out.
#pragma once

#include <memory>
#include <new>

#include "XpInterfaces.h"
#include "XpNetwork.h"

// Closes (when the kind has a Close) and deletes a platform object.
struct XpCloseDelete {
    template <class T> void operator()(T* object) const
    {
        if (object == nullptr)
            return;
        if constexpr (requires { object->Close(); })
            object->Close();
        delete object;
    }
};

template <class T> using XpPtr = std::unique_ptr<T, XpCloseDelete>;

using XpThreadPtr = XpPtr<IXpThread>;
using XpEventPtr = XpPtr<IXpEvent>;
using XpCritSecPtr = XpPtr<IXpCritSec>;
using XpMutexPtr = XpPtr<IXpMutex>;
using XpNamedMutexPtr = XpPtr<IXpNamedMutex>;
using XpSharedMemPtr = XpPtr<IXpSharedMem>;
using XpPipeListenerPtr = XpPtr<IXpPipeListener>;
using XpPipeConnectionPtr = XpPtr<IXpPipeConnection>;
using XpNetworkPtr = XpPtr<IXpNetwork>;

// Takes `object` (fresh, may be null) and runs `init(object)`: the handle when it returns
// KXAPI_OK, otherwise null with the object closed and deleted. The one place every Make*
// factory goes through.
template <class T, class Init> XpPtr<T> XpMakeInitialised(T* object, Init init)
{
    XpPtr<T> handle(object);
    if (handle && init(*handle) != KXAPI_OK)
        handle.reset();
    return handle;
}
