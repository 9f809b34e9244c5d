// One row per archive format that is read. A new format adds its walker file and its extractor,
// and its row here.
#include "readers/FormatReaders.h"

#include "core/ArcDescriptor.h"
#include "readers/PelixWalker.h"
#include "readers/plxUUDecode.h"
#include "readers/plxUnAce.h"
#include "readers/plxUnArc.h"
#include "readers/plxUnArj.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnBh.h"
#include "readers/plxUnCab.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnTar.h"
#include "readers/plxUnZoo.h"

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

template <class T>
std::unique_ptr<TUnBase> New()
{
    return std::make_unique<T>();
}

constexpr TFormatReaders kReaders[] = {
    {"ace", MakeAceWalker, New<TUnACE>},
    {"arc", MakeArcWalker, New<TUnArc>},
    {"pak", MakeArcWalker, New<TUnArc>},
    {"arj", MakeArjWalker, New<TUnARJ>},
    {"bh", MakeBhWalker, New<TUnBh>},
    {"bz2", MakeBz2Walker, New<TUnBZip>},
    {"cab", MakeCabWalker, New<TUnCab>},
    {"gzip", MakeGzipWalker, New<TUnGZip>},
    {"ha", MakeHaWalker, nullptr},
    {"jar", MakeZipWalker, New<TUnJar>},
    {"lha", MakeLhaWalker, New<TUnLha>},
    {"msgz", MakeMsGZWalker, nullptr},
    {"rar", MakeRarWalker, New<TUnRar>},
    {"tar", MakeTarWalker, New<TUnTar>},
    {"text", MakeEncodedTextWalker, New<TUUDecode>},
    {"zip", MakeZipWalker, New<TUnZip>},
    {"zoo", MakeZooWalker, New<TUnZoo>},
};

}  // namespace

std::span<const TFormatReaders> FormatReaders()
{
    return kReaders;
}

const TFormatReaders* ReadersOf(TArcType Type)
{
    const TArcDescriptor* format = DescriptorOf(Type);
    if (format == nullptr)
        return nullptr;
    for (const TFormatReaders& row : kReaders)
        if (row.Format == format->Key)
            return &row;
    return nullptr;
}
