#include "platform/ext/unace/AceCipher.h"

#include "core/Endian.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

#include "platform/ext/unace/AcePiDigits.inc"

// The password's key: 160 bits from one block of the digest (the password cut to 50 bytes,
// 0x80, zeros, the bit length in the last word; words little-endian; the schedule not rotated).
std::array<std::uint32_t, 5> DeriveKey(const std::string& Password)
{
    const std::size_t length = std::min<std::size_t>(Password.size(), 50);
    std::uint8_t block[64] = {};
    std::memcpy(block, Password.data(), length);
    block[length] = 0x80;
    std::uint32_t w[80];
    for (int i = 0; i < 15; ++i)
        w[i] = GetLE32(block + 4 * i);
    w[15] = std::uint32_t(length << 3);
    for (int i = 16; i < 80; ++i)
        w[i] = w[i - 16] ^ w[i - 14] ^ w[i - 8] ^ w[i - 3];
    const std::uint32_t init[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::uint32_t a = init[0], b = init[1], c = init[2], d = init[3], e = init[4];
    for (int i = 0; i < 80; ++i) {
        std::uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const std::uint32_t t = std::rotl(a, 5) + f + e + w[i] + k;
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    return {a + init[0], b + init[1], c + init[2], d + init[3], e + init[4]};
}

}  // namespace

TAceCipher::TAceCipher(const std::string& Password)
{
    std::memcpy(FS, kPiSBoxes, sizeof FS);
    // The format's first S-box differs from pi's digits in three words; archives depend on them.
    FS[0][48] = 0x2DA9C55D;
    FS[0][51] = 0x9B87901E;
    FS[0][139] = 0x412C7279;
    const auto key = DeriveKey(Password);
    for (int i = 0; i < 18; ++i)
        FP[i] = kPiRoundKeys[i] ^ key[std::size_t(i % 5)];
    std::uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        Encipher(l, r);
        FP[i] = l;
        FP[i + 1] = r;
    }
    for (auto& box : FS)
        for (int j = 0; j < 256; j += 2) {
            Encipher(l, r);
            box[j] = l;
            box[j + 1] = r;
        }
}

std::uint32_t TAceCipher::Round(std::uint32_t X) const
{
    return ((FS[0][X >> 24] + FS[1][X >> 16 & 0xFF]) ^ FS[2][X >> 8 & 0xFF]) + FS[3][X & 0xFF];
}

void TAceCipher::Encipher(std::uint32_t& L, std::uint32_t& R) const
{
    for (int i = 0; i < 16; i += 2) {
        L ^= FP[i];
        R ^= Round(L) ^ FP[i + 1];
        L ^= Round(R);
    }
    const std::uint32_t l = L ^ FP[16];
    L = R ^ FP[17];
    R = l;
}

void TAceCipher::Decipher(std::uint32_t& L, std::uint32_t& R) const
{
    for (int i = 16; i > 0; i -= 2) {
        L ^= FP[i + 1];
        R ^= Round(L) ^ FP[i];
        L ^= Round(R);
    }
    const std::uint32_t l = L ^ FP[1];
    L = R ^ FP[0];
    R = l;
}

void TAceCipher::Decrypt(std::uint8_t* Data, std::size_t Size)
{
    for (std::size_t at = 0; at + kBlock <= Size; at += kBlock) {
        const std::uint32_t cl = GetLE32(Data + at), cr = GetLE32(Data + at + 4);
        std::uint32_t l = cl, r = cr;
        Decipher(l, r);
        PutLE32(Data + at, l ^ FLastL);
        PutLE32(Data + at + 4, r ^ FLastR);
        FLastL = cl;
        FLastR = cr;
    }
}
