// The writer that rewrites an archive of a given type in its own format.
#pragma once

#include "core/plxBase.h"

#include <memory>

// Nothing for a type that no writer here updates in place.
std::unique_ptr<TCompBase> NewWriterForType(TArcType type);
