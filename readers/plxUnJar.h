// The ZIP extractor for JAR archives: a member is a folder when its name has no file part.
#pragma once

#include "readers/plxUnZIP.h"

class TUnJar : public TUnZip {
public:
    using TUnZip::TUnZip;
};
