#include "tools/plxtool/Writers.h"

#include "platform/win/SysFiles.h"
#include "writers/BZip.h"
#include "writers/GZip.h"
#include "writers/Tar.h"
#include "writers/plxUUEncode.h"
#include "writers/plxJar.h"
#include "writers/plxZip.h"

namespace plxtool {

std::unique_ptr<TCompressClass> MakeWriter(const std::string& Type)
{
    if (Type == "zip") return std::make_unique<TZip>();
    if (Type == "jar") return std::make_unique<TJar>();
    if (Type == "tar") return std::make_unique<TTar>();
    if (Type == "tgz") return std::make_unique<TTarGZ>();
    if (Type == "tbz") return std::make_unique<TTarBZ>();
    if (Type == "gz") return std::make_unique<TGZip>();
    if (Type == "bz2") return std::make_unique<TBZip>();
    if (Type == "uue" || Type == "xxe" || Type == "b64") {
        auto encoder = std::make_unique<TUUEncode>();
        encoder->CompressMethod = Type == "uue" ? cmUUEncode : Type == "xxe" ? cmXXEncode : cmBase64;
        return encoder;
    }
    return nullptr;
}

bool IsTextEncoding(const std::string& Type)
{
    return Type == "uue" || Type == "xxe" || Type == "b64";
}

bool IsZipFamily(const std::string& Type)
{
    return Type == "zip" || Type == "jar";
}

void PrepareWriter(TCompressClass& Writer, const std::string& ArchiveFile)
{
    if (auto* gz = dynamic_cast<TGZip*>(&Writer)) {
        gz->ConfirmOverwrites = false;  // the command line asks for the output by name
        gz->Extension = exNone;
    } else if (auto* bz = dynamic_cast<TBZip*>(&Writer)) {
        bz->OutputDir = win::ExtractFilePath(ArchiveFile);
    }
}

}  // namespace plxtool
