// Running the real archivers from tests: a private scratch folder, shell commands in it, and the
// file and data helpers that go with them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A fresh folder under the system's temporary folder, removed with the object.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Runs Command with the folder as working directory; answers the exit status.
    int Run(const std::string& Command) const;
    // Standard output of Command (run as above).
    std::string Capture(const std::string& Command) const;

private:
    std::filesystem::path path_;
};

// Standard output of a shell command; *ExitCode gets its exit status (-1 when it did not exit).
std::string CaptureCommand(const std::string& Command, int* ExitCode = nullptr);
// Whether a program of that name is on PATH.
bool HaveTool(const std::string& Name);
// Name in single quotes for the shell.
std::string ShellQuote(const std::string& Name);

// CRC-32 as ZIP, gzip and the others store it, computed here apart from the engine's tables.
std::uint32_t Crc32Of(const void* Data, std::size_t Size);
inline std::uint32_t Crc32Of(std::string_view Text)
{
    return Crc32Of(Text.data(), Text.size());
}
inline std::uint32_t Crc32Of(const std::vector<std::uint8_t>& Bytes)
{
    return Crc32Of(Bytes.data(), Bytes.size());
}

// A host path as the program names it through the Z: drive, which is the host's root.
std::string ZDrivePath(const std::filesystem::path& Host);

// Reads at an offset of Bytes (a string or byte vector that must outlive the reader), as the
// format readers read their archives.
template <class TBytesLike>
auto MemoryReadAt(const TBytesLike& Bytes)
{
    return [&Bytes](std::int64_t At, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (At < 0 || At >= std::int64_t(Bytes.size()))
            return 0;
        Count = std::min<std::int64_t>(Count, std::int64_t(Bytes.size()) - At);
        std::memcpy(Buffer, Bytes.data() + At, std::size_t(Count));
        return Count;
    };
}

// Value's bytes, least significant first, appended to Out.
template <class T>
void AppendLE(std::string& Out, T Value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        Out += char((std::uint64_t(Value) >> (8 * i)) & 0xFF);
}

// The file as a string ("" when it cannot be read); writing makes the parent folders first.
std::string ReadText(const std::filesystem::path& Path);
void WriteText(const std::filesystem::path& Path, const std::string& Text);
// The shared fixtures: $TORVO_FIXTURES, else the folder beside the source tree. Tests skip when
// the folder they need is absent.
std::filesystem::path FixtureRoot();

// For a test of the shared fixtures (and of the tools that judge them): skips while the fixtures
// folder is absent, but fails once it is there, so a run that has the fixtures cannot pass by
// skipping them. Needs <gtest/gtest.h>.
#define TORVO_NEED_FIXTURES(Present, Why)                                                                              \
    do {                                                                                                               \
        if (!(Present)) {                                                                                              \
            if (std::filesystem::is_directory(FixtureRoot()))                                                          \
                FAIL() << "fixtures present at " << FixtureRoot() << " but: " << Why;                                  \
            GTEST_SKIP() << "fixtures absent: " << Why;                                                                \
        }                                                                                                              \
    } while (0)

// Throws std::runtime_error when the file cannot be read or written.
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& Path);
void WriteWholeFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes);
// Bytes of varied kinds: text-like runs, then noise, then text again, seeded for repeatability.
std::vector<std::uint8_t> MixedBytes(std::size_t Size, std::uint32_t Seed);
// Noise that no coder can shrink, seeded for repeatability.
std::string RandomBytes(std::size_t Size, unsigned Seed);
