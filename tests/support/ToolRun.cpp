#include "support/ToolRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include <sys/wait.h>

namespace {

int ExitStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TScratchDir::TScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "torvo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("no scratch folder");
    path_ = pattern;
}

TScratchDir::~TScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int TScratchDir::Run(const std::string& Command) const
{
    return ExitStatus(std::system(("cd " + ShellQuote(path_.string()) + " && { " + Command + " ; }").c_str()));
}

std::string TScratchDir::Capture(const std::string& Command) const
{
    return CaptureCommand("cd " + ShellQuote(path_.string()) + " && { " + Command + " ; }");
}

std::string CaptureCommand(const std::string& Command, int* ExitCode)
{
    std::string text;
    FILE* pipe = popen(Command.c_str(), "r");
    if (!pipe) {
        if (ExitCode)
            *ExitCode = -1;
        return text;
    }
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    const int status = pclose(pipe);
    if (ExitCode)
        *ExitCode = ExitStatus(status);
    return text;
}

bool HaveTool(const std::string& Name)
{
    return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ShellQuote(const std::string& Name)
{
    std::string out = "'";
    for (char c : Name)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::uint32_t Crc32Of(const void* Data, std::size_t Size)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < Size; ++i) {
        crc ^= static_cast<const std::uint8_t*>(Data)[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string ZDrivePath(const std::filesystem::path& Host)
{
    std::string path = "Z:" + Host.string();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string ReadText(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::filesystem::path& Path, const std::string& Text)
{
    if (Path.has_parent_path())
        std::filesystem::create_directories(Path.parent_path());
    std::ofstream(Path, std::ios::binary).write(Text.data(), std::streamsize(Text.size()));
}

std::filesystem::path FixtureRoot()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    return env ? std::filesystem::path(env) : std::filesystem::path(TORVO_SOURCE_DIR) / ".." / "shared" / "fixtures";
}

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& Path)
{
    std::ifstream f(Path, std::ios::binary);
    if (!f)
        throw std::runtime_error("cannot open " + Path.string());
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes)
{
    std::ofstream out(Path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + Path.string());
}

std::vector<std::uint8_t> MixedBytes(std::size_t Size, std::uint32_t Seed)
{
    std::mt19937 rng(Seed);
    static const char* words[] = {"archive ", "backup ", "folder ", "restore\n", "entry ", "0123 "};
    std::vector<std::uint8_t> bytes;
    bytes.reserve(Size);
    while (bytes.size() < Size) {
        const std::size_t third = bytes.size() * 3 / std::max<std::size_t>(Size, 1);
        if (third == 1) {
            bytes.push_back(std::uint8_t(rng()));
        } else {
            for (const char* w = words[rng() % 6]; *w && bytes.size() < Size; ++w)
                bytes.push_back(std::uint8_t(*w));
        }
    }
    return bytes;
}

std::string RandomBytes(std::size_t Size, unsigned Seed)
{
    std::mt19937 gen(Seed);
    std::string s(Size, '\0');
    for (auto& c : s)
        c = char(gen());
    return s;
}
