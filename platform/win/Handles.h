// Kernel handles: one process-wide table, so that CloseHandle closes files, searches and any other
// object kind that a part of the platform layer registers.
#pragma once

#include "platform/win/WinTypes.h"

#include <memory>
#include <typeinfo>
#include <utility>

namespace win {

// An object behind a HANDLE; its destructor releases what the handle holds.
class KernelObject {
public:
    virtual ~KernelObject() = default;
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object of that handle, or null when the handle is not open.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// Removes the handle and answers its object (null when it was not open).
std::shared_ptr<KernelObject> TakeHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> FindHandleOf(HANDLE handle)
{
    std::shared_ptr<KernelObject> object = FindHandle(handle);
    // Asked for every read and write: an object of exactly T needs no search of the class tree.
    const KernelObject* raw = object.get();
    if (raw && typeid(*raw) == typeid(T))
        return std::static_pointer_cast<T>(std::move(object));
    return std::dynamic_pointer_cast<T>(std::move(object));
}

}  // namespace win

BOOL CloseHandle(HANDLE handle);
