#include "core/plxCrypt.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/crypt_test_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

Bytes ReadFile(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& p, const Bytes& data)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

unsigned Le16(const Bytes& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t Le32(const Bytes& b, std::size_t at) { return Le16(b, at) | (std::uint32_t{Le16(b, at + 2)} << 16); }
void Put16(Bytes& b, unsigned v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
void Put32(Bytes& b, std::uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

struct Member {
    unsigned flags = 0, dosTime = 0;
    std::uint32_t crc = 0;
    Bytes packed;  // the 12-byte header and the enciphered data
};

Member FirstMember(const Bytes& zip)
{
    Member m;
    const std::size_t cd = Le32(zip, zip.size() - 6);
    EXPECT_EQ(0x02014B50u, Le32(zip, cd));
    m.flags = Le16(zip, cd + 8);
    m.dosTime = Le16(zip, cd + 12);
    m.crc = Le32(zip, cd + 16);
    const std::size_t size = Le32(zip, cd + 20), local = Le32(zip, cd + 42);
    const std::size_t start = local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
    m.packed.assign(zip.begin() + static_cast<std::ptrdiff_t>(start),
                    zip.begin() + static_cast<std::ptrdiff_t>(start + size));
    return m;
}

// A one-entry stored ZIP with the given enciphered payload (flags bit 0, CRC check byte).
Bytes StoredZip(const std::string& name, const Bytes& payload, std::uint32_t crc, std::size_t plainSize)
{
    Bytes zip;
    auto header = [&](bool central) {
        Put32(zip, central ? 0x02014B50 : 0x04034B50);
        if (central)
            Put16(zip, 20);
        Put16(zip, 20);
        Put16(zip, 1);       // enciphered
        Put16(zip, 0);       // stored
        Put16(zip, 0x6000);  // 12:00
        Put16(zip, 0x5A21);  // 2025-01-01
        Put32(zip, crc);
        Put32(zip, static_cast<std::uint32_t>(payload.size()));
        Put32(zip, static_cast<std::uint32_t>(plainSize));
        Put16(zip, static_cast<unsigned>(name.size()));
        Put16(zip, 0);
        if (central) {
            Put16(zip, 0);
            Put16(zip, 0);
            Put16(zip, 0);
            Put32(zip, 0);
            Put32(zip, 0);  // local header offset
        }
        zip.insert(zip.end(), name.begin(), name.end());
    };
    header(false);
    zip.insert(zip.end(), payload.begin(), payload.end());
    const auto cdStart = static_cast<std::uint32_t>(zip.size());
    header(true);
    const auto cdSize = static_cast<std::uint32_t>(zip.size() - cdStart);
    Put32(zip, 0x06054B50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 1);
    Put16(zip, 1);
    Put32(zip, cdSize);
    Put32(zip, cdStart);
    Put16(zip, 0);
    return zip;
}

Bytes SampleData(std::size_t n)
{
    std::mt19937 rng(42);
    Bytes d(n);
    for (auto& b : d)
        b = static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() : 'a' + rng() % 26);
    return d;
}

std::uint32_t Crc32(const Bytes& d) { return static_cast<std::uint32_t>(crc32(0, d.data(), static_cast<uInt>(d.size()))); }

// The seed sets are process-wide: every test leaves them at their defaults.
class ZipCipher : public ::testing::Test {
protected:
    void TearDown() override
    {
        TSeedKeys(kDataKeySet).Reset();
        TSeedKeys(kHeaderKeySet).Reset();
    }
};

// Enciphers plain as an entry: header then data, continuing the key state.
Bytes Encipher(const Bytes& plain, const std::string& password)
{
    TZipCipher cipher;
    const std::string header = cipher.MakeCryptHeader(password, Crc32(plain));
    Bytes out(header.begin(), header.end());
    Bytes body = plain;
    cipher.EncryptBuffer(body.data(), body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Checks the header and deciphers the data; false when the password is refused.
bool Decipher(const Member& m, const std::string& password, Bytes& plain)
{
    TZipCipher cipher;
    std::uint8_t buffer[24] = {};
    std::copy(m.packed.begin(), m.packed.begin() + 12, buffer + 12);
    if (!cipher.CheckCryptHeader(buffer, static_cast<std::uint16_t>(m.flags), m.crc, password,
                                 static_cast<std::uint16_t>(m.dosTime)))
        return false;
    plain.assign(m.packed.begin() + 12, m.packed.end());
    cipher.DecryptBuffer(plain.data(), plain.size());
    return true;
}

}  // namespace

TEST_F(ZipCipher, ReadsWhatZipWritesAndZipReadsWhatWeWrite)
{
    TempDir dir;
    const Bytes data = SampleData(70000);
    WriteFile(dir.path / "file", data);
    const std::string zipCmd = "cd '" + dir.path.string() + "' && zip -q -P secret -0 a.zip file";
    ASSERT_EQ(0, std::system(zipCmd.c_str()));
    const Member m = FirstMember(ReadFile(dir.path / "a.zip"));
    ASSERT_EQ(data.size() + 12, m.packed.size());
    Bytes plain;
    ASSERT_TRUE(Decipher(m, "secret", plain));  // zip sets flag bit 3: the time byte is checked
    EXPECT_TRUE(plain == data);
    // A wrong password passes the one-byte check at most by chance, and then yields other bytes.
    for (const char* wrong : {"Secret", "secret ", "x", "letmein"}) {
        if (Decipher(m, wrong, plain)) {
            EXPECT_FALSE(plain == data) << wrong;
        }
    }

    const Bytes ours = StoredZip("ours.bin", Encipher(data, "secret"), Crc32(data), data.size());
    WriteFile(dir.path / "b.zip", ours);
    const std::string unzipCmd =
        "cd '" + dir.path.string() + "' && unzip -P secret -p b.zip ours.bin > out.bin 2> err.txt";
    if (std::system(unzipCmd.c_str()) != 0) {
        const Bytes err = ReadFile(dir.path / "err.txt");
        FAIL() << "unzip refused our member: " << std::string(err.begin(), err.end());
    }
    EXPECT_TRUE(ReadFile(dir.path / "out.bin") == data);
}

TEST_F(ZipCipher, HeaderChecksAndTheirCheckBytes)
{
    const std::uint32_t crc = 0xA1B2C3D4;
    TZipCipher cipher;
    const std::string header = cipher.MakeCryptHeader("pw", crc);
    ASSERT_EQ(12u, header.size());
    EXPECT_NE(header, TZipCipher().MakeCryptHeader("pw", crc));  // fresh random bytes each time

    auto check = [&](const std::string& password, std::uint16_t flags, std::uint16_t dosTime, Bytes* plain) {
        std::uint8_t buffer[24] = {};
        std::copy(header.begin(), header.end(), buffer + 12);
        TZipCipher c;
        const bool ok = c.CheckCryptHeader(buffer, flags, crc, password, dosTime);
        if (plain)
            plain->assign(buffer, buffer + 12);
        return ok;
    };
    Bytes plain;
    EXPECT_TRUE(check("pw", 0, 0, &plain));
    EXPECT_EQ(0xB2, plain[10]);  // both high CRC bytes, for readers that check two
    EXPECT_EQ(0xA1, plain[11]);
    // Flag bit 3: the high byte of the DOS time word decides, not the CRC.
    EXPECT_TRUE(check("pw", 0x0008, 0xA100, nullptr));
    EXPECT_FALSE(check("pw", 0x0008, 0xA000, nullptr));
    EXPECT_TRUE(check("pw", 0x0001, 0x0000, nullptr));
    // An empty password never passes, even against a header made with one.
    TZipCipher empty;
    const std::string emptyHeader = empty.MakeCryptHeader("", crc);
    std::uint8_t buffer[24] = {};
    std::copy(emptyHeader.begin(), emptyHeader.end(), buffer + 12);
    EXPECT_FALSE(TZipCipher().CheckCryptHeader(buffer, 0, crc, "", 0));

    EXPECT_TRUE(IsOwnEncryptionMethod(emAes1_128));
    EXPECT_TRUE(IsOwnEncryptionMethod(emZip_V2));
    EXPECT_FALSE(IsOwnEncryptionMethod(static_cast<TEncryptionMethod>(7)));
    EXPECT_FALSE(IsOwnEncryptionMethod(emNone));
}

TEST_F(ZipCipher, SeedKeysAreSharedAndSurviveNewComponents)
{
    const Bytes data = SampleData(3000);
    TSeedKeys seeds(kDataKeySet);
    EXPECT_EQ(0x12345678u, seeds.Key0());
    seeds.SetKeys(1, 2, 3);
    EXPECT_EQ(2u, seeds.Key1());
    const Member custom{0, 0, Crc32(data), Encipher(data, "pw")};

    // Another component's key objects keep the custom seeds a caller set.
    TSeedKeys another(kDataKeySet);
    EXPECT_EQ(1u, another.Key0());
    Bytes plain;
    ASSERT_TRUE(Decipher(custom, "pw", plain));
    EXPECT_TRUE(plain == data);

    // With the published keys the archive no longer reads.
    another.Reset();
    EXPECT_EQ(0x12345678u, seeds.Key0());
    if (Decipher(custom, "pw", plain)) {
        EXPECT_FALSE(plain == data);
    }

    // The header set is independent of the data set.
    TSeedKeys header(kHeaderKeySet);
    EXPECT_EQ(0x6D2A91F4u, header.Key0());
    header.SetKeysFromText("10", "-1", "$FF");
    EXPECT_EQ((TKeyTriple{10, 0xFFFFFFFF, 255}), SeedKeysOf(kHeaderKeySet));
    EXPECT_EQ(kDefaultDataKeys, SeedKeysOf(kDataKeySet));
    EXPECT_THROW(header.SetKeysFromText("1", "two", "3"), win::EConvertError);
    EXPECT_THROW(header.SetKeysFromText("1", "2", "4294967295"), win::EConvertError);
    EXPECT_EQ(10u, header.Key0());  // a failed conversion changes nothing

    // Writing a published key does not move the seeds.
    header.SetKey0(77);
    EXPECT_EQ(77u, header.Key0());
    EXPECT_EQ(10u, SeedKeysOf(kHeaderKeySet)[0]);
}
