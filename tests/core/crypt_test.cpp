#include "core/plxCrypt.h"

#include "support/ToolRun.h"
#include "support/ZipWalk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SampleData(std::size_t n)
{
    std::mt19937 rng(42);
    Bytes d(n);
    for (auto& b : d)
        b = static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() : 'a' + rng() % 26);
    return d;
}

std::uint32_t Crc32(const Bytes& d)
{
    return static_cast<std::uint32_t>(crc32(0, d.data(), static_cast<uInt>(d.size())));
}

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
// m.Data holds the 12-byte header and the enciphered data.
bool Decipher(const TZipWalkEntry& m, const std::string& password, Bytes& plain)
{
    TZipCipher cipher;
    std::uint8_t buffer[24] = {};
    std::copy(m.Data.begin(), m.Data.begin() + 12, buffer + 12);
    if (!cipher.CheckCryptHeader(buffer, m.Flags, m.Crc, password, m.DosTime))
        return false;
    plain.assign(m.Data.begin() + 12, m.Data.end());
    cipher.DecryptBuffer(plain.data(), plain.size());
    return true;
}

}  // namespace

TEST_F(ZipCipher, ReadsWhatZipWritesAndZipReadsWhatWeWrite)
{
    TScratchDir dir;
    const Bytes data = SampleData(70000);
    WriteWholeFile(dir / "file", data);
    ASSERT_EQ(0, dir.Run("zip -q -P secret -0 a.zip file"));
    const TZipWalkEntry m = WalkZip(ReadWholeFile(dir / "a.zip")).at(0);
    ASSERT_EQ(data.size() + 12, m.Data.size());
    Bytes plain;
    ASSERT_TRUE(Decipher(m, "secret", plain));  // zip sets flag bit 3: the time byte is checked
    EXPECT_TRUE(plain == data);
    // A wrong password passes the one-byte check at most by chance, and then yields other bytes.
    for (const char* wrong : {"Secret", "secret ", "x", "letmein"}) {
        if (Decipher(m, wrong, plain)) {
            EXPECT_FALSE(plain == data) << wrong;
        }
    }

    TZipWalkEntry ours;
    ours.Name = "ours.bin";
    ours.Flags = 1;         // enciphered, stored
    ours.DosTime = 0x6000;  // 12:00
    ours.Crc = Crc32(data);
    ours.UncompressedSize = data.size();
    ours.Data = Encipher(data, "secret");
    WriteWholeFile(dir / "b.zip", OneEntryZip(ours));
    if (dir.Run("unzip -P secret -p b.zip ours.bin > out.bin 2> err.txt") != 0) {
        const Bytes err = ReadWholeFile(dir / "err.txt");
        FAIL() << "unzip refused our member: " << std::string(err.begin(), err.end());
    }
    EXPECT_TRUE(ReadWholeFile(dir / "out.bin") == data);
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
    TZipWalkEntry custom;
    custom.Crc = Crc32(data);
    custom.Data = Encipher(data, "pw");

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
