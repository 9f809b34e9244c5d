// The cipher of encrypted ACE members: a 64-bit block cipher in CBC mode (zero IV, words
// little-endian) keyed by a one-block SHA-style digest of the password.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TAceCipher {
public:
    static constexpr std::size_t kBlock = 8;

    explicit TAceCipher(const std::string& Password);
    // Deciphers whole blocks in place, chained on from the previous call.
    void Decrypt(std::uint8_t* Data, std::size_t Size);

private:
    std::uint32_t Round(std::uint32_t X) const;
    void Encipher(std::uint32_t& L, std::uint32_t& R) const;
    void Decipher(std::uint32_t& L, std::uint32_t& R) const;

    std::uint32_t FP[18];
    std::uint32_t FS[4][256];
    std::uint32_t FLastL = 0, FLastR = 0;
};
