// ZIP extra fields and stored entry names from untrusted archives: the parser must stay inside
// the field, and whatever name it yields must map below the extraction folder or be refused.

#include "core/ZipCommon.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TZipCommon zip;
    static const bool ready = [] {
        zip.SetExtractDir("Z:\\tmp\\torvo-fuzz-out");
        return true;
    }();
    (void)ready;
    zip.UnpackedSize = 0xFFFFFFFF;
    zip.PackedSize = 0xFFFFFFFF;
    zip.HeaderOffset = 0xFFFFFFFF;
    zip.ExtraUtf8Name.clear();
    zip.ParseExtraField(data, size, true, size & 1);
    zip.Encrypted = true;
    (void)zip.GetEntryEncryptMethod();

    const std::string name =
        zip.ExtraUtf8Name.empty() ? std::string(reinterpret_cast<const char*>(data), size) : zip.ExtraUtf8Name;
    if (zip.SetEntryName(name) && !zip.FileName.empty()) {
        const std::string& base = zip.ExtractDir();
        if (zip.FileName.compare(0, base.size(), base) != 0 || zip.FileName.find("\\..\\") != std::string::npos ||
            (zip.FileName.size() >= 3 && zip.FileName.compare(zip.FileName.size() - 3, 3, "\\..") == 0))
            std::abort();
    }
    return 0;
}
