// One row per writer. A new format that is written adds its writer and its row here.
#include "writers/FormatWriters.h"

#include "writers/BlakHole.h"
#include "writers/Lha.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxJar.h"
#include "writers/plxMakeCab.h"
#include "writers/plxTar.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"

namespace {

template <class T>
std::unique_ptr<TCompBase> New()
{
    return std::make_unique<T>();
}

template <TCompressMethod Method>
std::unique_ptr<TCompBase> NewEncoder()
{
    auto encoder = std::make_unique<TUUEncode>();
    encoder->CompressMethod = Method;
    return encoder;
}

constexpr TFormatWriter kWriters[] = {
    {"zip", "zip", New<TZip>},
    {"jar", "jar", New<TJar>},
    {"tar", "tar", New<TTar>},
    {"tgz", "tgz", New<TTarGZ>},
    {"tbz", "tbz", New<TTarBZ>},
    {"gz", "gzip", New<TGZip>},
    {"bz2", "bz2", New<TBZip>},
    {"lha", "lha", New<TLha>},
    {"bh", "bh", New<TBlakHole>},
    {"cab", "cab", New<TMakeCab>},
    {"uue", "text", NewEncoder<cmUUEncode>},
    {"xxe", "text", NewEncoder<cmXXEncode>},
    {"b64", "text", NewEncoder<cmBase64>},
};

}  // namespace

std::span<const TFormatWriter> FormatWriters()
{
    return kWriters;
}

const TFormatWriter* WriterByName(std::string_view Name)
{
    for (const TFormatWriter& row : kWriters)
        if (row.Name == Name)
            return &row;
    return nullptr;
}

const TFormatWriter* WriterOfFormat(std::string_view Format)
{
    for (const TFormatWriter& row : kWriters)
        if (row.Format == Format)
            return &row;
    return nullptr;
}
