// Running the real archivers from tests: a private scratch folder and shell commands in it.
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

void WriteWholeFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes);
// Bytes of varied kinds: text-like runs, then noise, then text again, seeded for repeatability.
std::vector<std::uint8_t> MixedBytes(std::size_t Size, std::uint32_t Seed);
