// Running the real archivers from tests: a private scratch folder, shell commands in it, and the
// file and data helpers that go with them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
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

// Throws std::runtime_error when the file cannot be read or written.
std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& Path);
void WriteWholeFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes);
// Bytes of varied kinds: text-like runs, then noise, then text again, seeded for repeatability.
std::vector<std::uint8_t> MixedBytes(std::size_t Size, std::uint32_t Seed);
// Noise that no coder can shrink, seeded for repeatability.
std::string RandomBytes(std::size_t Size, unsigned Seed);
