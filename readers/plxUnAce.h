// The ACE extractor over the external ACE library (libplxunace26): the library walks and
// decodes, the component selects, names, asks and checks through the extract driver. Every
// decoded block reaches it through the library's progress callback, so a file is written by the
// driver and replaces nothing until its CRC has passed.
#pragma once

#include "core/UnBase.h"

#include <memory>
#include <string>

struct tACECallbackStruc;

class TUnACE : public TUnBase {
public:
    explicit TUnACE(TObject* AOwner = nullptr);
    ~TUnACE() override;

    void ProcessArchive(TStream32* Archive) override;

    // Library callbacks.
    int InfoCallback(tACECallbackStruc& C);
    int ErrorCallback(tACECallbackStruc& C);
    int RequestCallback(tACECallbackStruc& C);
    int StateCallback(tACECallbackStruc& C);

private:
    int StartEntry(tACECallbackStruc& C);
    int FinishEntry(tACECallbackStruc& C);
    int AskPassword(tACECallbackStruc& C);
    // The set's next volume, named by the volume rule and confirmed through OnNextVolume.
    int NextVolume(tACECallbackStruc& C);
    // The masks of FileSpec, each ended by a carriage return; "*" when there is none.
    std::string FileList() const;

    bool FMatched = false;
    std::unique_ptr<TStream32> FOut;
    std::int64_t FEntryDone = 0;
    int FFileCounter = 0;
};
