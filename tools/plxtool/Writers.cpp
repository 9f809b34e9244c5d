#include "tools/plxtool/Writers.h"
#include "tools/plxtool/ToolSupport.h"

#include "platform/win/SysFiles.h"
#include "writers/plxBZip.h"
#include "writers/BlakHole.h"
#include "writers/plxGZip.h"
#include "writers/Lha.h"
#include "writers/plxMakeCab.h"
#include "writers/plxTar.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxUUEncode.h"
#include "writers/plxJar.h"
#include "writers/plxZip.h"
#include "writers/plxZipSplitter.h"

#include <iostream>

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
    if (Type == "lha") return std::make_unique<TLha>();
    if (Type == "bh") return std::make_unique<TBlakHole>();
    if (Type == "cab") return std::make_unique<TMakeCab>();
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

std::unique_ptr<TCompressClass> MakeSplitWriter(std::int64_t VolumeSize)
{
    auto zip = std::make_unique<TZipSplitter>();
    zip->SetPartType(ptOtherSize);
    zip->SetCustomSizeType(stBytes);
    zip->SetPartSize(VolumeSize);
    zip->OnSplitBegin = [](TObject*, const std::string&, const std::string&, bool& Cancel) { Cancel = false; };
    return zip;
}

void BindDiskPrompts(TZipBase& Writer)
{
    Writer.OnInsertDisk = [](TObject*, const std::string& Volume, bool& Cancel) {
        Cancel = !Confirm("Insert disk " + Volume + ".");
    };
    Writer.OnClearDisk = [](TObject*, const std::string& Drive, std::int64_t Required, std::int64_t Free,
                            std::int64_t, bool& Cancel) {
        Cancel = !Confirm("Disk in " + Drive + " has " + std::to_string(Free) + " bytes free; " +
                          std::to_string(Required) + " are needed. Make room.");
    };
    Writer.OnDiskSpanFileExists = [](TObject*, const std::string& File, TDateTime, TOverwriteMode& Mode) {
        Mode = Confirm(File + " is on this disk and belongs to another set. Overwrite it?") ? omOverwrite : omSkip;
    };
}

}  // namespace plxtool
