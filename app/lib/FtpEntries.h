// The FTP servers of a run: one table for every transfer (entries 0-2 for the target menu, an
// upload with transfer code c uses entry c - 10).
#pragma once

#include <array>
#include <string>

struct TFtpEntry {
    std::string Name;
    std::string Details;
};
constexpr int FtpEntryCount = 10;
using TFtpEntries = std::array<TFtpEntry, FtpEntryCount>;
