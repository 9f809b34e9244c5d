// A small ACE writer for tests, independent of the engine's decoder: stored members, ACE 1.0
// LZ77 members (literals, new and repeated distances, several Huffman blocks) and ACE 2.0
// blocked members whose stretches use the LZ77, sound and picture modes; volume sets and
// enciphered members. The decoder is checked against the reference reader on these.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One stretch of a blocked member in one mode: 0 LZ77, 3 to 6 sound (8-bit, 16-bit, two 32-bit
// layouts), 7 picture (rows of Width bytes in Planes interleaved planes).
struct TAceTestBlock {
    int Mode = 0;
    std::size_t Size = 0;
    int Width = 0;
    int Planes = 0;
};

struct TAceTestMember {
    std::string Name;
    std::vector<std::uint8_t> Data;
    bool Compress = true;
    std::vector<TAceTestBlock> Blocks{};  // given: an ACE 2.0 blocked member of these stretches
    bool Encrypt = false;
};

struct TAceTestOptions {
    int BlockSymbols = 3000;      // bounds the symbols of one Huffman block
    std::size_t VolumeBytes = 0;  // not 0: a volume set with about this many packed bytes each
    bool Solid = false;
    // Enciphers the packed bytes (padded to 8) of an encrypted member.
    std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> Encipher;
};

// The whole archive, or the volumes of a set in order.
std::vector<std::vector<std::uint8_t>> WriteAceVolumes(const std::vector<TAceTestMember>& Members,
                                                       const TAceTestOptions& Options);
std::vector<std::uint8_t> WriteAce10Archive(const std::vector<TAceTestMember>& Members, int BlockSymbols = 3000);
