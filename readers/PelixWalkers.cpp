// The table of walkers by archive type. A new format adds its walker file and a row here.
#include <utility>

#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "readers/PelixWalker.h"

std::unique_ptr<TPelixWalker> MakeAceWalker();
std::unique_ptr<TPelixWalker> MakeArcWalker();
std::unique_ptr<TPelixWalker> MakeArjWalker();
std::unique_ptr<TPelixWalker> MakeBhWalker();
std::unique_ptr<TPelixWalker> MakeBz2Walker();
std::unique_ptr<TPelixWalker> MakeCabWalker();
std::unique_ptr<TPelixWalker> MakeEncodedTextWalker();
std::unique_ptr<TPelixWalker> MakeGzipWalker();
std::unique_ptr<TPelixWalker> MakeHaWalker();
std::unique_ptr<TPelixWalker> MakeLhaWalker();
std::unique_ptr<TPelixWalker> MakeMsGZWalker();
std::unique_ptr<TPelixWalker> MakeRarWalker();
std::unique_ptr<TPelixWalker> MakeTarWalker();
std::unique_ptr<TPelixWalker> MakeZipWalker();
std::unique_ptr<TPelixWalker> MakeZooWalker();

namespace {

struct TWalkerRow {
    TArcType Type;
    std::unique_ptr<TPelixWalker> (*Make)();
};

constexpr TWalkerRow kWalkers[] = {
    {atAce, MakeAceWalker},   {atAceExe, MakeAceWalker},
    {atArc, MakeArcWalker},   {atArcExe, MakeArcWalker},   {atPak, MakeArcWalker}, {atPakExe, MakeArcWalker},
    {atArj, MakeArjWalker},   {atArjExe, MakeArjWalker},
    {atBh, MakeBhWalker},     {atBhExe, MakeBhWalker},
    {atBz2, MakeBz2Walker},
    {atCab, MakeCabWalker},   {atCabExe, MakeCabWalker},
    {atGZip, MakeGzipWalker},
    {atHA, MakeHaWalker},
    {atLha, MakeLhaWalker},   {atLhaExe, MakeLhaWalker},   {atLzh, MakeLhaWalker}, {atLzhExe, MakeLhaWalker},
    {atMsGZ, MakeMsGZWalker},
    {atRar, MakeRarWalker},   {atRarExe, MakeRarWalker},
    {atTar, MakeTarWalker},
    {atZoo, MakeZooWalker},
    {atZip, MakeZipWalker},   {atZipExe, MakeZipWalker},   {atZipDS, MakeZipWalker}, {atZipMV, MakeZipWalker},
    {atJar, MakeZipWalker},   {atJarExe, MakeZipWalker},
    {atB64, MakeEncodedTextWalker}, {atUUE, MakeEncodedTextWalker},
};

}  // namespace

std::unique_ptr<TPelixWalker> MakePelixWalker(TArcType Type)
{
    for (const TWalkerRow& row : kWalkers)
        if (row.Type == Type)
            return row.Make();
    return nullptr;
}

std::string PelixMemberName(const std::string& Name, std::initializer_list<const char*> Dropped,
                            std::initializer_list<const char*> ToTar)
{
    const std::string ext = win::ExtractFileExt(Name);
    const std::string stem = Name.substr(0, Name.size() - ext.size());
    for (const char* d : Dropped)
        if (win::SameText(ext, d))
            return stem;
    for (const char* t : ToTar)
        if (win::SameText(ext, t))
            return stem + ".tar";
    return Name;
}
