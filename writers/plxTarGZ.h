// TAR+gzip archives (.tgz): a TAR built, then compressed by the gzip writer.
#pragma once

#include "writers/plxTar.h"

class TTarGZ : public TCompressedTar {
public:
    explicit TTarGZ(TObject* AOwner = nullptr);

protected:
    TArcType OwnArcType() const override { return atTarGz; }
    bool DecompressExisting(const std::string& Archive, const std::string& Tar) override;
    std::string CompressTar(const std::string& Tar, const std::string& WorkDir) override;
};
