#include "writers/WriterForType.h"

#include "core/ArcDescriptor.h"
#include "writers/FormatWriters.h"

std::unique_ptr<TCompBase> NewWriterForType(TArcType type)
{
    if (!HasArcFlag(type, arcflag::Update))
        return nullptr;
    const TFormatWriter* writer = WriterOfFormat(DescriptorOf(type)->Key);
    return writer ? writer->New() : nullptr;
}
