// The ARJ extractor: methods 0 to 4, garbled members, multi-volume sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/UnBase.h"
#include "readers/ArjFormat.h"
#include "readers/ArjMethod4.h"
#include "readers/StaticHuffman.h"

class TUnARJ : public TUnBase {
public:
    explicit TUnARJ(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;

private:
    struct TMember {
        TArjHeader Header;
        std::string Name;  // program form
    };

    // Lists the selected members of one volume; answers whether the set goes on in another.
    bool CollectMembers(TStream32& Archive);
    bool OpenNextVolume(int Number);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    // One try at the member's data; answers 0, the number of the failure, or -1 when the write
    // hook has reported it.
    int DecodeMember(TStream32& Archive, const TArjHeader& Header, TStream32* Out);
    bool OpenMemberOutput(const TArjHeader& Header, std::unique_ptr<TStream32>& Out);
    // The password for the next try at a garbled member; false when there is none.
    bool NextPassword(int Attempt, std::string& Password);
    void FailEntry(int ECode);

    std::vector<TMember> FMembers;
    std::string FContinuedTarget;  // the output that the next volume's first member goes on with
    TStaticHuffmanDecoder FStatic;
    TArjMethod4Decoder FMethod4;
};

// The static-Huffman parameters of ARJ methods 1 to 3.
TStaticHuffmanParams ArjStaticParams();
