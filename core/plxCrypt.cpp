#include "core/plxCrypt.h"

#include "core/Crc.h"
#include "platform/win/SysStrings.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <sys/random.h>
#include <system_error>

namespace {

struct KeySet {
    TKeyTriple seeds;
    TKeyTriple published;
};

// The two process-wide sets, loaded with their defaults once.
KeySet& Set(std::uint8_t selector)
{
    static KeySet sets[2] = {{kDefaultDataKeys, kDefaultDataKeys}, {kDefaultHeaderKeys, kDefaultHeaderKeys}};
    return sets[selector == kHeaderKeySet ? 1 : 0];
}

void RandomBytes(std::uint8_t* out, std::size_t n)
{
    while (n > 0) {
        const ssize_t got = getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        out += got;
        n -= static_cast<std::size_t>(got);
    }
}

// A 32-bit integer as the class library converts it: decimal within the signed range,
// hexadecimal ($ or 0x) may use all 32 bits.
std::uint32_t ParseInteger(const std::string& text)
{
    const std::int64_t value = win::StrToInt64(text);
    const bool hex = text.find_first_of("$xX") != std::string::npos;
    const std::int64_t low = hex ? -0xFFFFFFFFll : -0x80000000ll;
    const std::int64_t high = hex ? 0xFFFFFFFFll : 0x7FFFFFFFll;
    if (value < low || value > high)
        throw win::EConvertError("'" + text + "' is not a valid integer value");
    return static_cast<std::uint32_t>(value);
}

}  // namespace

TKeyTriple SeedKeysOf(std::uint8_t selector)
{
    return Set(selector).seeds;
}

// ---- TZipCipher ----

TZipCipher::TZipCipher(std::uint8_t selector)
    : FSelector(selector == kHeaderKeySet ? kHeaderKeySet : kDataKeySet), FKeys(SeedKeysOf(FSelector))
{}

void TZipCipher::ResetKeys()
{
    FKeys = SeedKeysOf(FSelector);
}

void TZipCipher::UpdateKeys(std::uint8_t plain)
{
    FKeys[0] = Crc32Step(FKeys[0], plain);
    FKeys[1] = (FKeys[1] + (FKeys[0] & 0xFF)) * 134775813u + 1;
    FKeys[2] = Crc32Step(FKeys[2], static_cast<std::uint8_t>(FKeys[1] >> 24));
}

std::uint8_t TZipCipher::KeyByte() const
{
    const std::uint32_t t = (FKeys[2] & 0xFFFF) | 2;
    return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void TZipCipher::DecryptBuffer(void* buffer, std::size_t n)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i) {
        p[i] ^= KeyByte();
        UpdateKeys(p[i]);
    }
}

void TZipCipher::EncryptBuffer(void* buffer, std::size_t n)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i)
        p[i] = EncryptByte(p[i]);
}

std::uint8_t TZipCipher::EncryptByte(std::uint8_t plain)
{
    const std::uint8_t t = KeyByte();
    UpdateKeys(plain);
    return plain ^ t;
}

int TZipCipher::InitDataKeys(const std::string& password)
{
    ResetKeys();
    for (const char c : password)
        UpdateKeys(static_cast<std::uint8_t>(c));
    return 0;
}

std::string TZipCipher::MakeCryptHeader(const std::string& password, std::uint32_t crc)
{
    InitDataKeys(password);
    // The random bytes only have to be unpredictable; a clock seed would repeat across entries.
    std::uint8_t header[12];
    RandomBytes(header, 10);
    header[10] = static_cast<std::uint8_t>(crc >> 16);
    header[11] = static_cast<std::uint8_t>(crc >> 24);
    for (std::uint8_t& b : header)
        b = EncryptByte(b);
    return std::string(reinterpret_cast<const char*>(header), sizeof header);
}

bool TZipCipher::CheckCryptHeader(std::uint8_t* buffer, std::uint16_t flags, std::uint32_t crc,
                                  const std::string& password, std::uint16_t dosTime)
{
    if (password.empty())
        return false;
    InitDataKeys(password);
    for (int i = 0; i < 12; ++i)
        buffer[i] = buffer[12 + i];
    DecryptBuffer(buffer, 12);
    const std::uint8_t expected =
        (flags & 0x0008) ? static_cast<std::uint8_t>(dosTime >> 8) : static_cast<std::uint8_t>(crc >> 24);
    return buffer[11] == expected;
}

// ---- TSeedKeys ----

TSeedKeys::TSeedKeys(std::uint8_t selector) : FSelector(selector)
{}

void TSeedKeys::Reset()
{
    const TKeyTriple& defaults = FSelector == kHeaderKeySet ? kDefaultHeaderKeys : kDefaultDataKeys;
    Set(FSelector) = {defaults, defaults};
}

void TSeedKeys::SetKeys(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2)
{
    Set(FSelector) = {{k0, k1, k2}, {k0, k1, k2}};
}

void TSeedKeys::SetKeysFromText(const std::string& s0, const std::string& s1, const std::string& s2)
{
    const std::uint32_t k0 = ParseInteger(s0), k1 = ParseInteger(s1), k2 = ParseInteger(s2);
    SetKeys(k0, k1, k2);
}

std::uint32_t TSeedKeys::GetKey(int index) const
{
    return index >= 0 && index < 3 ? Set(FSelector).published[static_cast<std::size_t>(index)] : 0;
}

void TSeedKeys::SetKey(int index, std::uint32_t value)
{
    if (index >= 0 && index < 3)
        Set(FSelector).published[static_cast<std::size_t>(index)] = value;
}

bool IsOwnEncryptionMethod(TEncryptionMethod method)
{
    return static_cast<int>(method) < 7;
}
