// The writing half of each archive format (core/ArcDescriptor.h): the writers by the names the
// command line takes, and the writer that updates an archive of a type in place.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "core/plxBase.h"

struct TFormatWriter {
    std::string_view Name;    // "zip", "tgz", "uue": plxtool's -t
    std::string_view Format;  // the descriptor's key
    std::unique_ptr<TCompBase> (*New)();
};

// A format's first row is the writer that also updates its archives.
std::span<const TFormatWriter> FormatWriters();
// The row named Name; null for any other name.
const TFormatWriter* WriterByName(std::string_view Name);
// The first row of Format; null when nothing writes it.
const TFormatWriter* WriterOfFormat(std::string_view Format);
