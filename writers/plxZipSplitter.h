// The splitting ZIP writer: a ZIP run whose finished archive becomes a split set of the chosen
// volume size instead of one file.
#pragma once

#include "writers/plxArchiveSplitter.h"
#include "writers/plxZip.h"

class TZipSplitter : public TZipBase {
public:
    explicit TZipSplitter(TObject* AOwner = nullptr);

    int Compress() override;
    void SetArchiveFile(const std::string& Name) override;

    TCustomSizeType GetCustomSizeType() const override { return FSplitter.CustomSizeType; }
    void SetCustomSizeType(TCustomSizeType Value) override { FSplitter.CustomSizeType = Value; }
    TPartType GetPartType() const override { return FSplitter.PartType; }
    void SetPartType(TPartType Value) override { FSplitter.PartType = Value; }
    std::int64_t GetPartSize() const override { return FSplitter.PartSize; }
    void SetPartSize(std::int64_t Value) override { FSplitter.PartSize = Value; }
    const std::vector<std::string>* GetSplitList() const override { return &FSplitter.PartTypeList; }
    void SetSplitList(const std::vector<std::string>& Value) override { FSplitter.PartTypeList = Value; }

    TOnSplitNewVolume OnSplitNewVolume;
    TOnSplitDeleteVolume OnSplitDeleteVolume;
    TTmpFileMoveBegin OnSplitBegin;
    TOnSplitEnd OnSplitEnd;
    TOnProgress OnSplitProgress;

    TArchiveSplitter& Splitter() { return FSplitter; }

protected:
    bool PlaceTempOutput(TStream32* Stream, const std::string& Target, bool SameDrive, const std::string& TempName,
                         const TTempStreamOwner& Owner) override;

private:
    TArchiveSplitter FSplitter;
};
