#include "platform/win/Handles.h"

#include "platform/win/Errors.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace win {
namespace {

// The open handles by value. Values only grow, so a new handle goes at the end and a lookup
// bisects; few are open at once, and the one closed is mostly the newest: no node per handle for
// the files a walk opens and closes one after another.
// The table's lock: held for a lookup in a short vector, taken several times for every file a
// run writes. A mutex cost more than the lookups; a waiter yields rather than spin.
class TableLock {
public:
    void lock()
    {
        while (FHeld.exchange(true, std::memory_order_acquire))
            while (FHeld.load(std::memory_order_relaxed))
                std::this_thread::yield();
    }
    void unlock() { FHeld.store(false, std::memory_order_release); }

private:
    std::atomic<bool> FHeld{false};
};

struct HandleTable {
    TableLock lock;
    std::vector<std::pair<std::uintptr_t, std::shared_ptr<KernelObject>>> objects;
    std::uintptr_t next = 4;  // multiples of 4, as Windows hands them out; never 0 or -1

    auto Find(HANDLE handle)
    {
        const auto value = reinterpret_cast<std::uintptr_t>(handle);
        const auto it = std::lower_bound(objects.begin(), objects.end(), value,
                                         [](const auto& entry, std::uintptr_t v) { return entry.first < v; });
        return it != objects.end() && it->first == value ? it : objects.end();
    }
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
    t.objects.emplace_back(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle)
{
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.Find(handle);
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> TakeHandle(HANDLE handle)
{
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.Find(handle);
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
