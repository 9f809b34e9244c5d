// The BH extractor: stored, static-Huffman (methods 1 and 3), deflate and bzip2 members, folders,
// and the traditional ZIP cipher with its password check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/UnBase.h"
#include "readers/BhFormat.h"
#include "readers/StaticHuffman.h"
#include "readers/plxInflate64.h"

class TUnBh : public TUnBase {
public:
    explicit TUnBh(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;
    bool CheckPassword() override;

private:
    struct TMember {
        TBhHeader Header;
        std::string Name;  // program form: UTF-8, "\" separators
    };

    void CollectMembers(TStream32& Archive);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    // The password search for the current member; false when none fitted.
    bool Unlock(TStream32& Archive, const TBhHeader& Header);
    // Decodes the member's data into Out; answers 0, the number of the failure, or
    // kFailureReported for a failed write that the output hook has reported.
    int DecodeMember(TStream32& Archive, const TBhHeader& Header, TStream32* Out);

    std::vector<TMember> FMembers;
    TBhHeader FCurrent;  // the member whose password is checked
    std::unique_ptr<TStaticHuffmanDecoder> FStatic;
    std::unique_ptr<TInflateWorkspace> FInflate;
};

// The decoder's parameters of BH methods 1 and 3; false for any other method.
bool BhStaticParams(std::uint8_t Method, TStaticHuffmanParams& Params);
