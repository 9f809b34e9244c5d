#pragma once
// The traditional ZIP cipher and its seed keys. The seeds of the two key sets (entry data and
// encrypted headers) are process-wide, so that a host can change them for every component; the
// working keys, which every processed byte changes, live in a TZipCipher owned by the operation.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/plxConsts.h"

inline constexpr std::uint8_t kDataKeySet = 0;
inline constexpr std::uint8_t kHeaderKeySet = 1;

using TKeyTriple = std::array<std::uint32_t, 3>;

inline constexpr TKeyTriple kDefaultDataKeys = {0x12345678, 0x23456789, 0x34567890};
inline constexpr TKeyTriple kDefaultHeaderKeys = {0x6D2A91F4, 0x3C7E0B58, 0x0F94D6A2};

// Selector 1 is the header set; any other value the data set.
TKeyTriple SeedKeysOf(std::uint8_t selector);

class TZipCipher {
public:
    // Starts from the selected set's seed keys.
    explicit TZipCipher(std::uint8_t selector = kDataKeySet);

    void ResetKeys();  // working keys := the set's seed keys
    void UpdateKeys(std::uint8_t plain);
    std::uint8_t KeyByte() const;
    void DecryptBuffer(void* buffer, std::size_t n);
    void EncryptBuffer(void* buffer, std::size_t n);
    std::uint8_t EncryptByte(std::uint8_t plain);

    // Working keys := seeds, then the password's bytes. Returns 0.
    int InitDataKeys(const std::string& password);
    // The 12-byte header that precedes an entry's enciphered data; the keys are left ready for
    // that data.
    std::string MakeCryptHeader(const std::string& password, std::uint32_t crc);
    // buffer holds 24 bytes: the enciphered header in its second half, which is deciphered into
    // the first. With general-purpose flag bit 3 the check byte is the DOS time's high byte,
    // otherwise the CRC's. An empty password never passes.
    bool CheckCryptHeader(std::uint8_t* buffer, std::uint16_t flags, std::uint32_t crc, const std::string& password,
                          std::uint16_t dosTime);

    // Saving and restoring the key state (an entry rewritten stored after its header).
    TKeyTriple Keys() const { return FKeys; }
    void SetKeys(const TKeyTriple& keys) { FKeys = keys; }

private:
    std::uint8_t FSelector;
    TKeyTriple FKeys;
};

// The published view of one key set. Creating one leaves the set as it stands: the defaults are
// loaded once per process, and only Reset brings them back.
class TSeedKeys {
public:
    explicit TSeedKeys(std::uint8_t selector = kDataKeySet);
    virtual ~TSeedKeys() = default;

    std::uint8_t Selector() const { return FSelector; }
    void Reset();
    void SetKeys(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2);
    // Decimal (or $-prefixed hexadecimal) 32-bit integers; throws win::EConvertError
    // "'<text>' is not a valid integer value" for anything else.
    void SetKeysFromText(const std::string& s0, const std::string& s1, const std::string& s2);

    // Key0..Key2: the set's published working keys, which SetKeys and Reset also set. Writing one
    // does not change the seeds, so the next key-stream start overwrites it.
    std::uint32_t GetKey(int index) const;
    void SetKey(int index, std::uint32_t value);
    std::uint32_t Key0() const { return GetKey(0); }
    std::uint32_t Key1() const { return GetKey(1); }
    std::uint32_t Key2() const { return GetKey(2); }
    void SetKey0(std::uint32_t v) { SetKey(0, v); }
    void SetKey1(std::uint32_t v) { SetKey(1, v); }
    void SetKey2(std::uint32_t v) { SetKey(2, v); }

private:
    std::uint8_t FSelector;
};

// True for the encryption methods below 7 (the AES kinds and the traditional ZIP cipher).
bool IsOwnEncryptionMethod(TEncryptionMethod method);
