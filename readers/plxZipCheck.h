// The integrity test: tests an archive of any extractable type through a temporary extractor of
// that type (operation code 7: every member decoded and checked, nothing written) and reports each
// member's result through OnStatus.
#pragma once

#include <functional>
#include <string>

#include "core/UnBase.h"

using TOnIntegrityStatus = std::function<void(TObject* Sender, const std::string& FileName, bool PassFail)>;

class TZipCheck : public TUnBase {
public:
    // Every member selected until the host narrows it.
    explicit TZipCheck(TObject* AOwner = nullptr) : TUnBase(AOwner) { SetFileSpec({"*.*"}); }

    TOnIntegrityStatus OnStatus;  // required
    // The base's OnEnd fires after OnStatus with the same result, so a handler bound through a
    // TZipCommon& is not lost.
    TOnChangeArchive OnChangeArchive;  // a GZip or bzip2 file held a TAR whose members were tested

    // Tests ArchiveFile as detected; answers the number of members tested (also left in
    // FileCount). A missing archive, a missing OnStatus and a type that no extractor reads are
    // reported and test nothing.
    int Activate();

private:
    void BindExtractor(TUnBase& Extractor);
};
