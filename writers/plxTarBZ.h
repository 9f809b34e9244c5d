// TAR+bzip2 archives (.tbz): a TAR built, then compressed by the bzip2 writer.
#pragma once

#include <functional>
#include <string>

#include "writers/plxTar.h"

class TTarBZ : public TCompressedTar {
public:
    explicit TTarBZ(TObject* AOwner = nullptr);

    int CompressLevel = 9;  // bzip2 block size in 100,000 bytes

    std::function<void(TObject* Sender, const std::string& InFilename, const std::string& OutFilename)> OnFilename;

protected:
    TArcType OwnArcType() const override { return atTarBz; }
    bool DecompressExisting(const std::string& Archive, const std::string& Tar) override;
    std::string CompressTar(const std::string& Tar, const std::string& WorkDir) override;
};
