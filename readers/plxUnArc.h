// The ARC and PAK extractor: methods 1 to 9 and the folders of methods 30 and 31.
#pragma once

#include <string>
#include <vector>

#include "core/UnBase.h"
#include "readers/ArcDecoders.h"
#include "readers/ArcFormat.h"

class TUnArc : public TUnBase {
public:
    explicit TUnArc(TObject* AOwner = nullptr);

    void ProcessArchive(TStream32* Archive) override;

private:
    struct TMember {
        TArcHeader Header;
        std::string Name;  // program form, with its folders
    };

    void CollectMembers(TStream32& Archive);
    void ExtractMember(TStream32& Archive, const TMember& Member);
    // Answers 0, the number of the failure, or kFailureReported when the write hook has reported it.
    int DecodeMember(TStream32& Archive, const TArcHeader& Header, TStream32* Out);

    std::vector<TMember> FMembers;
    TArcCrunchDecoder FCrunch;
};

// Whether we decode the method: 1 to 9 and folders.
bool ArcMethodSupported(std::uint8_t Method);
