// Kernel handles: one process-wide table, so that CloseHandle closes files, searches and any other
// object kind that a part of the platform layer registers.
#pragma once

#include "platform/win/WinTypes.h"

#include <memory>

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
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

}  // namespace win

BOOL CloseHandle(HANDLE handle);
