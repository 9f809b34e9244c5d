// TAR+gzip: the TAR compressed by the gzip writer; an existing archive is decoded in one pass.
#include "writers/plxTarGZ.h"

#include "core/Err_Msgs.h"
#include "core/plxStreams.h"
#include "platform/win/SysFiles.h"
#include "readers/GzipFormat.h"
#include "writers/plxGZip.h"

#include <algorithm>

TTarGZ::TTarGZ(TObject* AOwner) : TCompressedTar(AOwner)
{
    FClassDefaultExt = ".tgz";
    SetDefaultExt("");
    FArcType = atTarGz;
    CompressMethod.Restrict({cmTarGz}, cmTarGz);
}

bool TTarGZ::DecompressExisting(const std::string& Archive, const std::string& Tar)
{
    TFileStream32 in(Archive, fmOpenRead | fmShareDenyWrite);
    TFileStream32 out(Tar, fmCreate);
    if (!in.HandleValid() || !out.HandleValid()) {
        DoError(Archive, "", E_OPENFILE, Archive);
        return false;
    }
    const TGzipDecodeResult r = DecodeGzipStream(
        [&in](std::uint8_t* b, std::size_t n) { return std::size_t(std::max(in.Read(b, std::int32_t(n)), 0)); },
        [&out](const std::uint8_t* d, std::size_t n) { out.WriteBuffer(d, std::int32_t(n)); });
    if (r.Status != TCodecStatus::Ok) {
        DoError(Archive, "", CodecStatusMessage(r.Status), Archive);
        return false;
    }
    return true;
}

std::string TTarGZ::CompressTar(const std::string& Tar, const std::string& WorkDir)
{
    TGZip gz;
    ShareEvents(*this, gz);
    gz.OnRead = OnRead;
    gz.Extension = exNone;
    gz.ConfirmOverwrites = false;
    gz.DeflateType = DeflateType;
    gz.SetFileSpec({Tar});
    const std::string output = WorkDir + win::ExtractFileName(FArchiveFile);
    gz.SetArchiveFile(output);
    const int n = gz.Compress();
    const std::string written = gz.ApplyExtension(Tar, output);
    return n == 1 && win::FileExists(written) ? written : std::string();
}
