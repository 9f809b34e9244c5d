// The decoders behind the RAR library: libarchive for RAR 2.9 to 5 (solid and multi-volume),
// libunarr for the older methods and what libarchive refuses in a single volume.
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
std::unique_ptr<TRarDecoder> MakeUnarrDecoder(const std::string& Volume);
