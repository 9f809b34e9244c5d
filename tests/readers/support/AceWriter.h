// A small ACE 1.0 writer for tests, independent of the engine's decoder: stored members and LZ77
// members (literals, new and repeated distances, several Huffman blocks), so the decoder can be
// checked against the reference reader on more than the fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TAceTestMember {
    std::string Name;
    std::vector<std::uint8_t> Data;
    bool Compress = true;
};

// The whole archive. BlockSymbols bounds the symbols of one Huffman block.
std::vector<std::uint8_t> WriteAce10Archive(const std::vector<TAceTestMember>& Members, int BlockSymbols = 3000);
