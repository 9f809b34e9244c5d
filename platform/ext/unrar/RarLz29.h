// Our own decoder of RAR 2.9's LZ blocks, for a non-solid entry that libunarr rejects. It reads
// neither PPMd blocks nor VM filters: such an entry fails here as it did there.
#pragma once

#include "platform/ext/unrar/RarDecoders.h"

#include <cstdint>
#include <functional>

// Reads up to Count packed bytes into Buffer; answers how many it read (0 at the end).
using TRarPackedRead = std::function<std::size_t(std::uint8_t* Buffer, std::size_t Count)>;

// Decodes Unpacked bytes from the packed stream; the first Skip of them are not handed to
// Sink (they went out already). Answers an ERAR_ code.
int DecodeRar29Lz(const TRarPackedRead& Read, std::uint64_t Unpacked, std::uint64_t Skip, const TRarSink& Sink);
