#include "readers/EncodedLines.h"

#include <algorithm>
#include <cstring>

bool TLineReader::Next(std::string_view& Line, bool& Complete)
{
    if (FBack) {
        FBack = false;
        Line = FLast;
        Complete = FLastComplete;
        return true;
    }
    for (;;) {
        const char* start = FBuf.get() + FPos;
        if (const void* nl = std::memchr(start, '\n', FEnd - FPos)) {
            const std::size_t length = std::size_t(static_cast<const char*>(nl) - start);
            FPos += length + 1;
            return Give(Line, Complete, start, length, true);
        }
        if (FEof) {
            if (FPos == FEnd)
                return false;
            const std::size_t length = FEnd - FPos;
            FPos = FEnd;
            return Give(Line, Complete, start, length, true);
        }
        if (FPos == 0 && FEnd == FCapacity) {
            FPos = FEnd;
            return Give(Line, Complete, start, FEnd, false);
        }
        Refill();
    }
}

bool TLineReader::Give(std::string_view& Line, bool& Complete, const char* Start, std::size_t Length, bool Whole)
{
    if (Whole && Length > 0 && Start[Length - 1] == '\r')
        --Length;
    FLast = Line = std::string_view(Start, Length);
    FLastComplete = Complete = Whole;
    return true;
}

void TLineReader::Refill()
{
    std::memmove(FBuf.get(), FBuf.get() + FPos, FEnd - FPos);
    FEnd -= FPos;
    FPos = 0;
    const std::size_t got = FSource(reinterpret_cast<std::uint8_t*>(FBuf.get()) + FEnd, FCapacity - FEnd);
    FEof = got == 0;
    FEnd += got;
}

int DecodeUuLine(std::string_view Line, const TReverseAlphabet& Rev, std::uint8_t* Out)
{
    if (Line.empty())
        return -1;
    const int count = Rev[static_cast<unsigned char>(Line[0])];
    if (count < 0)
        return -1;
    const std::size_t body = Line.size() - 1;
    // Encoders that leave out the padding characters of the last group are read too.
    if (body < (std::size_t(count) * 4 + 2) / 3)
        return -1;
    const auto* p = reinterpret_cast<const unsigned char*>(Line.data()) + 1;
    const int groups = (count + 2) / 3;
    int bad = 0;
    if (body >= std::size_t(groups) * 4) {
        // Every group whole: the common case, without a check per character.
        for (int g = 0; g < groups; ++g, p += 4, Out += 3) {
            const int a = Rev[p[0]], b = Rev[p[1]], c = Rev[p[2]], d = Rev[p[3]];
            bad |= a | b | c | d;
            Out[0] = std::uint8_t(a << 2 | b >> 4);
            Out[1] = std::uint8_t(b << 4 | c >> 2);
            Out[2] = std::uint8_t(c << 6 | d);
        }
        return bad < 0 ? -1 : count;
    }
    for (int g = 0; g < groups; ++g) {
        int v[4];
        for (int k = 0; k < 4; ++k) {
            const std::size_t at = std::size_t(g) * 4 + std::size_t(k);
            v[k] = at < body ? Rev[p[at]] : 0;
            bad |= v[k];
        }
        Out[g * 3] = std::uint8_t(v[0] << 2 | v[1] >> 4);
        Out[g * 3 + 1] = std::uint8_t(v[1] << 4 | v[2] >> 2);
        Out[g * 3 + 2] = std::uint8_t(v[2] << 6 | v[3]);
    }
    return bad < 0 ? -1 : count;
}

int DecodeDamagedUuLine(std::string_view Line, const TReverseAlphabet& Rev, std::uint8_t* Out, TUuLineDamage& Damage)
{
    if (Line.empty())
        return -1;
    const int count = Rev[static_cast<unsigned char>(Line[0])];
    if (count < 0)
        return -1;
    const std::string_view body = Line.substr(1);
    const bool uu = Rev['`'] == 0;
    const int groups = (count + 2) / 3;
    // Characters past the last needed one carry no bits of the data (some encoders end lines
    // with a check character).
    const std::size_t needed = (std::size_t(count) * 4 + 2) / 3;
    if (body.size() < needed)
        Damage.Short = true;
    for (int g = 0; g < groups; ++g) {
        int v[4];
        for (int k = 0; k < 4; ++k) {
            const std::size_t at = std::size_t(g) * 4 + std::size_t(k);
            if (at >= body.size()) {
                v[k] = 0;
                continue;
            }
            const unsigned char c = static_cast<unsigned char>(body[at]);
            v[k] = Rev[c];
            if (v[k] < 0) {
                Damage.Stray = Damage.Stray || at < needed;
                v[k] = uu ? (c - 0x20) & 63 : 0;
            }
        }
        Out[g * 3] = std::uint8_t(v[0] << 2 | v[1] >> 4);
        Out[g * 3 + 1] = std::uint8_t(v[1] << 4 | v[2] >> 2);
        Out[g * 3 + 2] = std::uint8_t(v[2] << 6 | v[3]);
    }
    return count;
}

bool IsBase64DataLine(std::string_view Line, const TReverseAlphabet& Rev)
{
    if (Line.size() < 4 || Line.size() % 4 != 0)
        return false;
    return std::all_of(Line.begin(), Line.end(),
                       [&](char c) { return c == '=' || Rev[static_cast<unsigned char>(c)] >= 0; });
}

TBase64Decoder::TBase64Decoder() : FRev(AlphabetOf(TTextCode::Base64))
{}

std::size_t TBase64Decoder::Decode(std::string_view Line, std::uint8_t* Out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(Line.data());
    const std::size_t n = Line.size();
    const auto& rev = FRev.Value;
    std::uint8_t* out = Out;
    std::size_t i = 0;
    if (FQuad == 0) {
        for (; i + 4 <= n; i += 4) {
            const int a = rev[p[i]], b = rev[p[i + 1]], c = rev[p[i + 2]], d = rev[p[i + 3]];
            if ((a | b | c | d) < 0)
                break;
            const std::uint32_t v =
                std::uint32_t(a) << 18 | std::uint32_t(b) << 12 | std::uint32_t(c) << 6 | std::uint32_t(d);
            out[0] = std::uint8_t(v >> 16);
            out[1] = std::uint8_t(v >> 8);
            out[2] = std::uint8_t(v);
            out += 3;
        }
    }
    // Padding, blanks and stray characters, a character at a time.
    for (; i < n; ++i) {
        if (p[i] == '=') {
            out += End(out);
            continue;
        }
        const int v = rev[p[i]];
        if (v < 0)
            continue;
        FBits = FBits << 6 | std::uint32_t(v);
        if (++FQuad == 4) {
            out[0] = std::uint8_t(FBits >> 16);
            out[1] = std::uint8_t(FBits >> 8);
            out[2] = std::uint8_t(FBits);
            out += 3;
            FQuad = 0;
            FBits = 0;
        }
    }
    return std::size_t(out - Out);
}

std::size_t TBase64Decoder::End(std::uint8_t* Out)
{
    std::size_t n = 0;
    if (FQuad == 2) {
        Out[n++] = std::uint8_t(FBits >> 4);
    } else if (FQuad == 3) {
        Out[n++] = std::uint8_t(FBits >> 10);
        Out[n++] = std::uint8_t(FBits >> 2);
    }
    FQuad = 0;
    FBits = 0;
    return n;
}
