// The reading half of each archive format (core/ArcDescriptor.h): its listing walker and its
// extractor, found by the descriptor's key.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "core/UnBase.h"
#include "core/plxConsts.h"

class TPelixWalker;

struct TFormatReaders {
    std::string_view Format;                       // the descriptor's key
    std::unique_ptr<TPelixWalker> (*NewWalker)();  // null: not listed
    std::unique_ptr<TUnBase> (*NewExtractor)();    // null: listed only
};

std::span<const TFormatReaders> FormatReaders();
// The readers of Type's format; null for a type without a format or without a row here.
const TFormatReaders* ReadersOf(TArcType Type);
