// The one answer to "which extractor reads this archive type": the integrity test, extract-and-run
// and plxtool all take their temporary extractor from here.
#pragma once

#include <memory>

#include "core/UnBase.h"
#include "core/plxConsts.h"

// A fresh extractor for Type, or null when no extractor reads that type.
std::unique_ptr<TUnBase> NewExtractor(TArcType Type);

// A temporary extractor for Caller's archive as Caller detected it, with Caller's selection,
// passwords, seed keys, temporary folder and cancel flag; null when no extractor reads the type.
// The caller binds the events it relays.
std::unique_ptr<TUnBase> NewTemporaryExtractor(TZipCommon& Caller);
