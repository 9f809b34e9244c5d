// The architecture notes go stale silently when code moves; these checks make a rename or a
// removed file fail here instead.

// GCC 12 warns inside its own <regex> at -O1 (a known false positive in std::function's move).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path Root{TORVO_SOURCE_DIR};

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> BacktickSpans(const std::string& text)
{
    std::vector<std::string> spans;
    static const std::regex span("`([^`\n]+)`");
    for (std::sregex_iterator it(text.begin(), text.end(), span), end; it != end; ++it)
        spans.push_back((*it)[1]);
    return spans;
}

// A '*' stands for any run of characters within one component, as in `core/plxGbls.*`.
bool PathExists(const std::string& pattern)
{
    if (pattern.find('*') == std::string::npos)
        return fs::exists(Root / pattern);
    const fs::path p(pattern);
    const fs::path folder = Root / p.parent_path();
    if (!fs::is_directory(folder))
        return false;
    std::string re;
    for (char c : p.filename().string())
        re += c == '*' ? std::string(".*")
                       : std::regex_replace(std::string(1, c), std::regex(R"([.^$|()\[\]{}+?\\])"), R"(\$&)");
    const std::regex name(re);
    for (const auto& entry : fs::directory_iterator(folder))
        if (std::regex_match(entry.path().filename().string(), name))
            return true;
    return false;
}

std::set<std::string> SourceWords()
{
    std::set<std::string> words;
    const auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; };
    for (const char* top :
         {"core", "readers", "writers", "platform", "app", "unit", "tools", "tests", "bench", "fuzz"}) {
        if (!fs::is_directory(Root / top))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(Root / top)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".c"))
                continue;
            const std::string text = ReadAll(entry.path());
            for (std::size_t i = 0; i < text.size();) {
                if (!isWordChar(text[i])) {
                    ++i;
                    continue;
                }
                std::size_t j = i;
                while (j < text.size() && isWordChar(text[j]))
                    ++j;
                words.insert(text.substr(i, j - i));
                i = j;
            }
        }
    }
    return words;
}

}  // namespace

TEST(ArchitectureNotes, NamedPathsAndIdentifiersExist)
{
    const std::string notes = ReadAll(Root / "docs/architecture.md");
    ASSERT_FALSE(notes.empty());

    std::set<std::string> tops;
    for (const auto& entry : fs::directory_iterator(Root))
        if (entry.is_directory() && entry.path().filename().string().rfind("build", 0) != 0)
            tops.insert(entry.path().filename().string());

    const std::set<std::string> words = SourceWords();
    static const std::regex identifier(R"((T[A-Z]\w*|plx[A-Z]\w*|On[A-Z]\w*)(::\w+)?)");
    static const std::regex placeholder(R"([<\s])");
    std::vector<std::string> missing;
    for (std::string span : BacktickSpans(notes)) {
        const auto slash = span.find('/');
        if (slash != std::string::npos && tops.count(span.substr(0, slash)) != 0) {
            // `readers/PelixWalk<Format>.cpp` names a pattern, not a file.
            if (std::regex_search(span, placeholder))
                continue;
            while (span.size() > 1 && span.back() == '/')
                span.pop_back();
            if (!PathExists(span))
                missing.push_back("path " + span);
        } else if (std::regex_match(span, identifier)) {
            std::istringstream parts(std::regex_replace(span, std::regex("::"), " "));
            for (std::string part; parts >> part;)
                if (words.count(part) == 0)
                    missing.push_back("name " + span);
        }
    }
    EXPECT_TRUE(missing.empty()) << [&] {
        std::string all;
        for (const auto& m : missing)
            all += m + "\n";
        return all;
    }();
}

// The check itself must see a stale name, or it proves nothing.
TEST(ArchitectureNotes, CheckerSeesStaleNames)
{
    EXPECT_TRUE(PathExists("core/plxGbls.*"));
    EXPECT_FALSE(PathExists("core/plxNoSuchUnit.*"));
    EXPECT_FALSE(PathExists("readers/NoSuchFile.h"));
    const auto spans = BacktickSpans("a `TOne` and `core/x.h`, not this");
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[1], "core/x.h");
}
