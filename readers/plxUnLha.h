// The LHA extractor: stored, -lh1- and -lh4- to -lh7- members, folders, header levels 0 to 3.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/UnBase.h"
#include "readers/AdaptiveHuffman.h"
#include "readers/LhaFormat.h"
#include "readers/StaticHuffman.h"

class TUnLha : public TUnBase {
public:
    explicit TUnLha(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;

private:
    struct TMember {
        TLhaHeader Header;
        std::string Name;  // program form: UTF-8, "\" separators
    };

    void CollectMembers(TStream32& Archive);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    // Decodes the member's data into Out; answers 0, the number of the failure, or
    // kFailureReported for a failed write that the output hook has reported.
    int DecodeMember(TStream32& Archive, const TLhaHeader& Header, TStream32* Out);

    std::vector<TMember> FMembers;
    TStaticHuffmanDecoder FStatic;
    TAdaptiveHuffmanDecoder FAdaptive;
};

// Whether we decode the member's method: "-lh0-", "-lh1-", "-lh4-" to "-lh7-", "-lhd-".
bool LhaMethodSupported(const TLhaHeader& Header);
// The member's stamp as a local DOS date-time.
std::uint32_t LhaDosDateTime(const TLhaHeader& Header);
// The stored UNIX time, where the header has one.
std::optional<std::int64_t> LhaUnixTime(const TLhaHeader& Header);
// A stored LHA name in the program's form.
std::string LhaNameToUtf8(const std::string& Stored);
// A byte reader over Archive for the header parser.
TReadAt LhaReaderOf(TStream32& Archive);
