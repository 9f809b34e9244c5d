// A minimal ZIP reader for tests: central directory -> local header -> raw member bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TZipWalkEntry {
    std::string Name;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint32_t Crc = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::vector<std::uint8_t> Data;  // the member's compressed bytes
};

std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
// Throws std::runtime_error on anything malformed.
std::vector<TZipWalkEntry> WalkZip(const std::vector<std::uint8_t>& archive);
