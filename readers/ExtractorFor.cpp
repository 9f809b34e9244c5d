#include "readers/ExtractorFor.h"

#include "readers/plxUUDecode.h"
#include "readers/plxUnAce.h"
#include "readers/plxUnArc.h"
#include "readers/plxUnArj.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnBh.h"
#include "readers/plxUnCab.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnTar.h"
#include "readers/plxUnZoo.h"

std::unique_ptr<TUnBase> NewExtractor(TArcType Type)
{
    switch (Type) {
    case atZip: case atZipExe: case atZipDS: case atZipMV:
        return std::make_unique<TUnZip>();
    case atJar: case atJarExe:
        return std::make_unique<TUnJar>();
    case atTar:
        return std::make_unique<TUnTar>();
    case atGZip:
        return std::make_unique<TUnGZip>();
    case atBz2:
        return std::make_unique<TUnBZip>();
    case atLha: case atLhaExe: case atLzh: case atLzhExe:
        return std::make_unique<TUnLha>();
    case atBh: case atBhExe:
        return std::make_unique<TUnBh>();
    case atArc: case atArcExe: case atPak: case atPakExe:
        return std::make_unique<TUnArc>();
    case atArj: case atArjExe:
        return std::make_unique<TUnARJ>();
    case atZoo:
        return std::make_unique<TUnZoo>();
    case atAce: case atAceExe:
        return std::make_unique<TUnACE>();
    case atRar: case atRarExe:
        return std::make_unique<TUnRar>();
    case atCab: case atCabExe:
        return std::make_unique<TUnCab>();
    case atUUE: case atB64:
        return std::make_unique<TUUDecode>();
    default:
        return nullptr;
    }
}

std::unique_ptr<TUnBase> NewTemporaryExtractor(TZipCommon& Caller)
{
    // Creating a component may bring back the default seeds: the caller's are taken first.
    const TSeedKeySnapshot keys = TSeedKeySnapshot::Take();
    std::unique_ptr<TUnBase> extractor = NewExtractor(Caller.ArcType());
    if (extractor == nullptr)
        return nullptr;
    extractor->CopySettingsFrom(Caller, keys);
    extractor->SetTempDir(Caller.TempDir());
    return extractor;
}
