// The walker of an archive type (its row in readers/FormatReaders.cpp) and member names.
#include <utility>

#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "readers/FormatReaders.h"
#include "readers/PelixWalker.h"

std::unique_ptr<TPelixWalker> MakePelixWalker(TArcType Type)
{
    const TFormatReaders* readers = ReadersOf(Type);
    return readers && readers->NewWalker ? readers->NewWalker() : nullptr;
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
