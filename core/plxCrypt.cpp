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

std::uint32_t ParseInteger(const std::string& text)
{
    const auto fail = [&] { return win::EConvertError("'" + text + "' is not a valid integer value"); };
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        throw fail();
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            throw fail();
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            throw fail();
    }
    // A 32-bit signed integer, as the class library converts; hexadecimal may use all 32 bits.
    if (base == 10 && value > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        throw fail();
    const auto v = static_cast<std::uint32_t>(value);
    return negative ? 0u - v : v;
}

}  // namespace

TKeyTriple SeedKeysOf(std::uint8_t selector) { return Set(selector).seeds; }

// ---- TZipCipher ----

TZipCipher::TZipCipher(std::uint8_t selector)
    : selector_(selector == kHeaderKeySet ? kHeaderKeySet : kDataKeySet), keys_(SeedKeysOf(selector_))
{
}

void TZipCipher::ResetKeys() { keys_ = SeedKeysOf(selector_); }

void TZipCipher::UpdateKeys(std::uint8_t plain)
{
    keys_[0] = Crc32Step(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = Crc32Step(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

std::uint8_t TZipCipher::KeyByte() const
{
    const std::uint32_t t = (keys_[2] & 0xFFFF) | 2;
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

TSeedKeys::TSeedKeys(std::uint8_t selector) : selector_(selector) {}

void TSeedKeys::Reset()
{
    const TKeyTriple& defaults = selector_ == kHeaderKeySet ? kDefaultHeaderKeys : kDefaultDataKeys;
    Set(selector_) = {defaults, defaults};
}

void TSeedKeys::SetKeys(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2)
{
    Set(selector_) = {{k0, k1, k2}, {k0, k1, k2}};
}

void TSeedKeys::SetKeysFromText(const std::string& s0, const std::string& s1, const std::string& s2)
{
    const std::uint32_t k0 = ParseInteger(s0), k1 = ParseInteger(s1), k2 = ParseInteger(s2);
    SetKeys(k0, k1, k2);
}

std::uint32_t TSeedKeys::GetKey(int index) const
{
    return index >= 0 && index < 3 ? Set(selector_).published[static_cast<std::size_t>(index)] : 0;
}

void TSeedKeys::SetKey(int index, std::uint32_t value)
{
    if (index >= 0 && index < 3)
        Set(selector_).published[static_cast<std::size_t>(index)] = value;
}

bool IsOwnEncryptionMethod(TEncryptionMethod method) { return static_cast<int>(method) < 7; }
