#include "readers/plxUnBZip.h"

#include "core/Err_Msgs.h"
#include "core/plxBZip2.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

std::string BzipOutputName(const std::string& ArchiveFileName)
{
    const std::string ext = win::ExtractFileExt(ArchiveFileName);
    const std::string stem = ArchiveFileName.substr(0, ArchiveFileName.size() - ext.size());
    for (const char* dropped : {".bz", ".bz2", ".bzip", ".bzip2"})
        if (win::SameText(ext, dropped))
            return stem;
    for (const char* tarred : {".tbz", ".tbz2"})
        if (win::SameText(ext, tarred))
            return stem + ".tar";
    return ArchiveFileName;
}

void TUnBZip::ProcessArchive(TStream32* Archive)
{
    if (ArcType() != atBz2 || Archive == nullptr) {
        DoError(ArchiveFile(), "", E_UNSUPPORTEDARCTYPE, VolumeName);
        return;
    }
    std::string name = BzipOutputName(win::ExtractFileName(ArchiveFile()));
    if (OnGetOutFilename)
        OnGetOutFilename(this, ArchiveFile(), name);
    UnpackedTotal = ArchiveSize;
    // The file holds no date of its own: the output takes the archive's, as bzip2 does.
    const std::uint32_t date = std::uint32_t(win::FileAge(ArchiveFile()));
    const std::optional<std::int64_t> exact = win::FileUnixTime(ArchiveFile());
    ExtractOutput(
        *Archive, name, date,
        [this](TStream32& In, const TByteSink& Sink) -> int {
            TBz2Owner owner;
            owner.Output = Sink;
            owner.Cancel = CancelPtr;
            try {
                // Every stream of a file made by concatenation, as the bzip2 tool decodes it.
                const int rc = DecodeBzip2Region(owner, &In, ArchiveSize, true);
                if (rc == E_USERCANCEL)
                    throw ECancel();
                return rc;
            } catch (const Ebz2USERError&) {
                throw ECancel();
            } catch (const Ebz2libError& e) {
                return e.ECode != 0 ? e.ECode : E_CORRUPTINPUT;
            }
        },
        exact);
}
