// Names found in a shared folder decide what a sweep removes: any name must parse without a crash,
// and a name that claims this process as its owner is never taken for a dead owner's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/win/TempFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    win::IsDeadOwnersTempName(name, ".~x");
    win::IsDeadOwnersTempName(name, "");
    win::IsDeadOwnersTempName(name);  // any prefix: every split of the digits is tried
    // Our own pid with whatever follows: dead only if the start time differs, and then it is not
    // ours, so the verdict must not flip between two calls.
    char own[32];
    std::snprintf(own, sizeof own, ".~x%lx-", static_cast<unsigned long>(getpid()));
    const std::string claimed = own + name;
    if (win::IsDeadOwnersTempName(claimed, ".~x") != win::IsDeadOwnersTempName(claimed, ".~x"))
        std::abort();
    return 0;
}
