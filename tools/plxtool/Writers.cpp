#include "tools/plxtool/Writers.h"
#include "tools/plxtool/ToolSupport.h"

#include "core/ArcDescriptor.h"
#include "platform/win/SysFiles.h"
#include "writers/FormatWriters.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxZipSplitter.h"

#include <iostream>

namespace plxtool {

namespace {

// The flags of the type that Type's writer makes.
bool WrittenTypeHas(const std::string& Type, TArcTypeFlags Flag)
{
    const TFormatWriter* writer = WriterByName(Type);
    const TArcDescriptor* format = writer ? DescriptorByKey(writer->Format) : nullptr;
    return format && !format->Types.empty() && HasArcFlag(format->Types.front().Type, Flag);
}

}  // namespace

std::unique_ptr<TCompressClass> MakeWriter(const std::string& Type)
{
    const TFormatWriter* writer = WriterByName(Type);
    return writer ? writer->New() : nullptr;
}

bool IsTextEncoding(const std::string& Type)
{
    const TFormatWriter* writer = WriterByName(Type);
    return writer && writer->Format == "text";
}

bool TakesPassword(const std::string& Type)
{
    return WrittenTypeHas(Type, arcflag::Encrypt);
}

bool TakesComment(const std::string& Type)
{
    return WrittenTypeHas(Type, arcflag::Comment);
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
    Writer.OnClearDisk = [](TObject*, const std::string& Drive, std::int64_t Required, std::int64_t Free, std::int64_t,
                            bool& Cancel) {
        Cancel = !Confirm("Disk in " + Drive + " has " + std::to_string(Free) + " bytes free; " +
                          std::to_string(Required) + " are needed. Make room.");
    };
    Writer.OnDiskSpanFileExists = [](TObject*, const std::string& File, TDateTime, TOverwriteMode& Mode) {
        Mode = Confirm(File + " is on this disk and belongs to another set. Overwrite it?") ? omOverwrite : omSkip;
    };
}

}  // namespace plxtool
