#include "support/ZipWalk.h"

#include <stdexcept>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Get(const Bytes& b, std::size_t at, int bytes)
{
    if (at + bytes > b.size())
        throw std::runtime_error("zip record past the end");
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + i];
    return v;
}

void Put(Bytes& b, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}

}  // namespace

std::vector<TZipWalkEntry> WalkZip(const Bytes& zip)
{
    if (zip.size() < 22)
        throw std::runtime_error("too short for a zip");
    std::size_t end = zip.size() - 22;
    while (Get(zip, end, 4) != 0x06054b50) {
        if (end == 0 || zip.size() - end > 22 + 65535)
            throw std::runtime_error("no end record");
        --end;
    }
    const std::uint32_t count = Get(zip, end + 10, 2);
    std::size_t at = Get(zip, end + 16, 4);
    std::vector<TZipWalkEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (Get(zip, at, 4) != 0x02014b50)
            throw std::runtime_error("bad central header");
        TZipWalkEntry e;
        e.Version = std::uint16_t(Get(zip, at + 6, 2));
        e.Flags = std::uint16_t(Get(zip, at + 8, 2));
        e.Method = std::uint16_t(Get(zip, at + 10, 2));
        e.DosTime = std::uint16_t(Get(zip, at + 12, 2));
        e.DosDate = std::uint16_t(Get(zip, at + 14, 2));
        e.Crc = Get(zip, at + 16, 4);
        e.CompressedSize = Get(zip, at + 20, 4);
        e.UncompressedSize = Get(zip, at + 24, 4);
        const std::size_t nameLen = Get(zip, at + 28, 2);
        const std::size_t extraLen = Get(zip, at + 30, 2);
        const std::size_t commentLen = Get(zip, at + 32, 2);
        const std::size_t local = Get(zip, at + 42, 4);
        if (at + 46 + nameLen > zip.size())
            throw std::runtime_error("name past the end");
        e.Name.assign(zip.begin() + long(at + 46), zip.begin() + long(at + 46 + nameLen));
        if (Get(zip, local, 4) != 0x04034b50)
            throw std::runtime_error("bad local header");
        e.DataOffset = local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2);
        if (e.DataOffset + e.CompressedSize > zip.size())
            throw std::runtime_error("member past the end");
        e.Data.assign(zip.begin() + long(e.DataOffset), zip.begin() + long(e.DataOffset + e.CompressedSize));
        entries.push_back(std::move(e));
        at += 46 + nameLen + extraLen + commentLen;
    }
    return entries;
}

Bytes OneEntryZip(const TZipWalkEntry& e)
{
    Bytes zip;
    auto header = [&](bool central) {
        Put(zip, central ? 0x02014b50 : 0x04034b50, 4);
        if (central)
            Put(zip, e.Version, 2);
        for (std::uint16_t field : {e.Version, e.Flags, e.Method, e.DosTime, e.DosDate})
            Put(zip, field, 2);
        Put(zip, e.Crc, 4);
        Put(zip, std::uint32_t(e.Data.size()), 4);
        Put(zip, std::uint32_t(e.UncompressedSize), 4);
        Put(zip, std::uint32_t(e.Name.size()), 2);
        Put(zip, 0, 2);  // extra length
        if (central) {
            Put(zip, 0, 2);  // comment length
            Put(zip, 0, 2);  // disk
            Put(zip, 0, 2);  // internal attributes
            Put(zip, 0, 4);  // external attributes
            Put(zip, 0, 4);  // local header offset
        }
        zip.insert(zip.end(), e.Name.begin(), e.Name.end());
    };
    header(false);
    zip.insert(zip.end(), e.Data.begin(), e.Data.end());
    const auto cdStart = std::uint32_t(zip.size());
    header(true);
    const auto cdSize = std::uint32_t(zip.size() - cdStart);
    Put(zip, 0x06054b50, 4);
    Put(zip, 0, 4);  // disk numbers
    Put(zip, 1, 2);
    Put(zip, 1, 2);
    Put(zip, cdSize, 4);
    Put(zip, cdStart, 4);
    Put(zip, 0, 2);  // comment length
    return zip;
}
