// TAR+bzip2: the TAR compressed by the bzip2 writer; an existing archive may hold several streams.
#include "writers/plxTarBZ.h"

#include "core/Err_Msgs.h"
#include "core/plxBZip2.h"
#include "core/plxStreams.h"
#include "platform/win/SysFiles.h"
#include "writers/plxBZip.h"

#include <vector>

TTarBZ::TTarBZ(TObject* AOwner) : TCompressedTar(AOwner)
{
    FClassDefaultExt = ".tbz";
    SetDefaultExt("");
    FArcType = atTarBz;
    CompressMethod.Restrict({cmTarBz}, cmTarBz);
}

bool TTarBZ::DecompressExisting(const std::string& Archive, const std::string& Tar)
{
    TFileStream32 in(Archive, fmOpenRead | fmShareDenyWrite);
    TFileStream32 out(Tar, fmCreate);
    if (!in.HandleValid() || !out.HandleValid()) {
        DoError(Archive, "", E_OPENFILE, Archive);
        return false;
    }
    try {
        TBzDecompressStream bz({}, &in, 0, in.Size());
        bz.Concatenated = true;
        std::vector<std::uint8_t> block(65536);
        for (;;) {
            const std::int32_t n = bz.Read(block.data(), std::int32_t(block.size()));
            if (n <= 0)
                break;
            out.WriteBuffer(block.data(), n);
        }
    } catch (const Ebz2libError& e) {
        DoError(Archive, e.what(), e.ECode ? e.ECode : E_CORRUPTINPUT, Archive);
        return false;
    }
    return true;
}

std::string TTarBZ::CompressTar(const std::string& Tar, const std::string& WorkDir)
{
    TBZip bz;
    ShareEvents(*this, bz);
    bz.OnRead = OnRead;
    bz.OutputDir = WorkDir;
    bz.KeepFileExt = true;
    bz.CompressLevel = CompressLevel;
    bz.SetFileSpec({Tar});
    std::string written;
    bz.OnFilename = [this, &written](TObject*, const std::string& in, const std::string& out) {
        written = out;
        if (OnFilename)
            OnFilename(this, in, FArchiveFile);
    };
    const int n = bz.Compress();
    return n == 1 && win::FileExists(written) ? written : std::string();
}
