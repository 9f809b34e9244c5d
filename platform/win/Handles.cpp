#include "platform/win/Handles.h"

#include "platform/win/Errors.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace win {
namespace {

struct HandleTable {
    std::mutex lock;
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 4;  // multiples of 4, as Windows hands them out; never 0 or -1
};

HandleTable& Table()
{
    static HandleTable table;
    return table;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object)
{
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    const std::uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle)
{
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> TakeHandle(HANDLE handle)
{
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.objects.end())
        return nullptr;
    auto object = std::move(it->second);
    t.objects.erase(it);
    return object;
}

}  // namespace win

BOOL CloseHandle(HANDLE handle)
{
    // The object is released outside the table's lock; its destructor may take time (close()).
    auto object = win::TakeHandle(handle);
    if (!object)
        return win::FailWith(ERROR_INVALID_HANDLE);
    object.reset();
    return TRUE;
}
