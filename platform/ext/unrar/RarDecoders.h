// The decoders behind the RAR library: libarchive for RAR 5, libunarr for RAR 1.5 to 4 (a set
// or a self-extractor joined into one plain volume for it).
#pragma once

#include "platform/ext/unrar/RarHeaders.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Takes each decoded block; false stops the entry.
using TRarSink = std::function<bool(const void* Data, std::size_t Size)>;

class TRarDecoder {
public:
    virtual ~TRarDecoder() = default;
    // Decodes the file entry that is the Ordinal-th (from 0) first part of the set; Ordinal
    // never goes back. Answers an ERAR_ code.
    virtual int Decode(int Ordinal, const TRarHeader& Header, const TRarSink& Sink) = 0;
};

std::unique_ptr<TRarDecoder> MakeLibarchiveDecoder(const std::vector<std::string>& Volumes);
std::unique_ptr<TRarDecoder> MakeUnarrDecoder(const std::vector<std::string>& Volumes, std::int64_t Start);
