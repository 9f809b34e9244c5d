// The ARJ extractor: methods 0 to 4, garbled members, multi-volume sets.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
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
        TArjHeader Header;         // of a hard link: the header of the member it links to, for its data
        std::string Name;          // program form
        std::string LinkTarget;    // of a hard link: the linked member's name in program form
        bool MissingLink = false;  // a hard link to no member before it in the volume
    };

    // Lists the selected members of one volume; answers whether the set goes on in another.
    bool CollectMembers(TStream32& Archive);
    bool OpenNextVolume(int Number);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    // One try at the member's data; answers 0, the number of the failure, or -1 when the write
    // hook has reported it.
    int DecodeMember(TStream32& Archive, const TArjHeader& Header, TStream32* Out);
    bool OpenMemberOutput(const TArjHeader& Header, std::unique_ptr<TStream32>& Out, bool Prepared);
    // A hard link whose member this run wrote is made a link to that file; false: its data are
    // decoded instead (from the linked member's header).
    bool LinkMember(const TMember& Member);
    void NoteWritten(const std::string& Name);
    // The file this run wrote for a stored name, while it still holds that member's data; else empty.
    std::string WrittenFile(const std::string& Name) const;
    // The password for the next try at a garbled member; false when there is none.
    bool NextPassword(int Attempt, std::string& Password);
    void FailEntry(int ECode);

    std::vector<TMember> FMembers;
    std::unordered_map<std::string, TArjHeader> FVolumeFiles;  // every file of the volume so far, by name
    std::unordered_map<std::string, std::string> FWritten;     // stored name to the file written for it
    std::unordered_map<std::string, std::string> FWrittenBy;   // that file to the name whose data it holds
    std::string FContinuedTarget;  // the output that the next volume's first member goes on with
    TStaticHuffmanDecoder FStatic;
    TArjMethod4Decoder FMethod4;
};

// The static-Huffman parameters of ARJ methods 1 to 3.
TStaticHuffmanParams ArjStaticParams();
