#include "readers/support/ToolRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include <sys/wait.h>

TScratchDir::TScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "torvo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    path_ = pattern;
}

TScratchDir::~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int TScratchDir::Run(const std::string& Command) const {
    const std::string full = "cd '" + path_.string() + "' && { " + Command + " ; }";
    const int status = std::system(full.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TScratchDir::Capture(const std::string& Command) const {
    const std::string full = "cd '" + path_.string() + "' && { " + Command + " ; }";
    std::string text;
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    pclose(pipe);
    return text;
}

void WriteWholeFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes) {
    std::ofstream out(Path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + Path.string());
}

std::vector<std::uint8_t> MixedBytes(std::size_t Size, std::uint32_t Seed) {
    std::mt19937 rng(Seed);
    static const char* words[] = {"archive ", "backup ", "folder ", "restore\n", "entry ", "0123 "};
    std::vector<std::uint8_t> bytes;
    bytes.reserve(Size);
    while (bytes.size() < Size) {
        const std::size_t third = bytes.size() * 3 / std::max<std::size_t>(Size, 1);
        if (third == 1) {
            bytes.push_back(std::uint8_t(rng()));
        } else {
            for (const char* w = words[rng() % 6]; *w && bytes.size() < Size; ++w) bytes.push_back(std::uint8_t(*w));
        }
    }
    return bytes;
}
