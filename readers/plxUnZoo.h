// The ZOO extractor: stored, LZW (method 1) and static-Huffman LZ (method 2) members.
#pragma once

#include <string>
#include <vector>

#include "core/UnBase.h"
#include "readers/StaticHuffman.h"
#include "readers/ZooFormat.h"

class TUnZoo : public TUnBase {
public:
    explicit TUnZoo(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;

private:
    struct TMember {
        TZooEntry Entry;
        std::string Name;  // program form
    };

    void CollectMembers(TStream32& Archive);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    // Answers 0, the number of the failure, or kFailureReported when the write hook has reported it.
    int DecodeMember(TStream32& Archive, const TZooEntry& Entry, TStream32* Out);

    std::vector<TMember> FMembers;
    TStaticHuffmanDecoder FStatic;
};
