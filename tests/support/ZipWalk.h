// A minimal ZIP reader and writer for tests, independent of the engine's own records:
// central directory -> local header -> raw member bytes, and one-entry archives made by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TZipWalkEntry {
    std::string Name;
    std::uint16_t Version = 20;  // needed to extract (and, when written, made by)
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0x5A21;  // 2025-01-01
    std::uint32_t Crc = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::uint64_t DataOffset = 0;    // where Data starts in the archive
    std::vector<std::uint8_t> Data;  // the member's compressed bytes
};

// Throws std::runtime_error on anything malformed.
std::vector<TZipWalkEntry> WalkZip(const std::vector<std::uint8_t>& archive);
// A one-entry archive of Entry's fields and Data; CompressedSize and DataOffset are taken from Data.
std::vector<std::uint8_t> OneEntryZip(const TZipWalkEntry& Entry);
