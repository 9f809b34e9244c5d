#include "writers/WriterForType.h"

#include "writers/BlakHole.h"
#include "writers/Lha.h"
#include "writers/Tar.h"
#include "writers/plxJar.h"
#include "writers/plxZip.h"

std::unique_ptr<TCompBase> NewWriterForType(TArcType type)
{
    switch (type) {
    case atZip:
    case atZipExe: return std::make_unique<TZip>();
    case atJar:
    case atJarExe: return std::make_unique<TJar>();
    case atTar: return std::make_unique<TTar>();
    case atLha:
    case atLzh: return std::make_unique<TLha>();
    case atBh: return std::make_unique<TBlakHole>();
    default: return nullptr;
    }
}
