#include "readers/ExtractorFor.h"

#include "readers/FormatReaders.h"

std::unique_ptr<TUnBase> NewExtractor(TArcType Type)
{
    const TFormatReaders* readers = ReadersOf(Type);
    return readers && readers->NewExtractor ? readers->NewExtractor() : nullptr;
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
