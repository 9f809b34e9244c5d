// The drive table file: whatever it holds parses without harm, and a table we write back reads
// as the same drives (the configured entries are saved through FormatDriveTable). Labels with
// quotes or tabs come only from a hand-edited file: SetVolumeLabelA refuses them.
#include "platform/win/Drives.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool SameDrive(const win::DriveEntry& a, const win::DriveEntry& b)
{
    return a.letter == b.letter && a.server == b.server && a.share == b.share && a.type == b.type && a.root == b.root &&
           a.capacity == b.capacity && a.label == b.label;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto drives = win::ParseDriveTable(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& drive : drives)
        if (drive.label.find_first_of("\"\t") != std::string::npos)
            return 0;
    const auto again = win::ParseDriveTable(win::FormatDriveTable(drives));
    if (again.size() != drives.size())
        std::abort();
    for (std::size_t i = 0; i < drives.size(); ++i)
        if (!SameDrive(drives[i], again[i]))
            std::abort();
    (void)win::DrivesFromMounts(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
