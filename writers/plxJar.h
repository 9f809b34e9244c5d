// The JAR writer: ZIP records, stored or deflated entries only.
#pragma once

#include "writers/plxZip.h"

class TJar : public TZip {
public:
    explicit TJar(TObject* AOwner = nullptr);
};
