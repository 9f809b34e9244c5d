#include "readers/support/ZipWalk.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {
std::uint32_t Get(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    if (at + bytes > b.size()) throw std::runtime_error("zip record past the end");
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + i];
    return v;
}
}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<TZipWalkEntry> WalkZip(const std::vector<std::uint8_t>& zip) {
    if (zip.size() < 22) throw std::runtime_error("too short for a zip");
    std::size_t end = zip.size() - 22;
    while (Get(zip, end, 4) != 0x06054b50) {
        if (end == 0 || zip.size() - end > 22 + 65535) throw std::runtime_error("no end record");
        --end;
    }
    const std::uint32_t count = Get(zip, end + 10, 2);
    std::size_t at = Get(zip, end + 16, 4);
    std::vector<TZipWalkEntry> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (Get(zip, at, 4) != 0x02014b50) throw std::runtime_error("bad central header");
        TZipWalkEntry e;
        e.Flags = std::uint16_t(Get(zip, at + 8, 2));
        e.Method = std::uint16_t(Get(zip, at + 10, 2));
        e.Crc = Get(zip, at + 16, 4);
        e.CompressedSize = Get(zip, at + 20, 4);
        e.UncompressedSize = Get(zip, at + 24, 4);
        const std::size_t nameLen = Get(zip, at + 28, 2);
        const std::size_t extraLen = Get(zip, at + 30, 2);
        const std::size_t commentLen = Get(zip, at + 32, 2);
        const std::size_t local = Get(zip, at + 42, 4);
        if (at + 46 + nameLen > zip.size()) throw std::runtime_error("name past the end");
        e.Name.assign(zip.begin() + long(at + 46), zip.begin() + long(at + 46 + nameLen));
        if (Get(zip, local, 4) != 0x04034b50) throw std::runtime_error("bad local header");
        const std::size_t data = local + 30 + Get(zip, local + 26, 2) + Get(zip, local + 28, 2);
        if (data + e.CompressedSize > zip.size()) throw std::runtime_error("member past the end");
        e.Data.assign(zip.begin() + long(data), zip.begin() + long(data + e.CompressedSize));
        entries.push_back(std::move(e));
        at += 46 + nameLen + extraLen + commentLen;
    }
    return entries;
}
