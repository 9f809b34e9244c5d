// What the GZip, .Z and bzip2 extractors share: one compressed file decoded into one output, and
// a TAR found at the start of that output extracted in its place (OnNestedTarFile decides).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/ByteIO.h"
#include "core/UnBase.h"

class TUnCompressedFile : public TUnBase {
public:
    // Every entry selected until the host narrows it.
    explicit TUnCompressedFile(TObject* AOwner = nullptr) : TUnBase(AOwner) { SetFileSpec({"*.*"}); }

    // Fired after a nested TAR gave entries: the run's results are that TAR's.
    TOnChangeArchive OnChangeArchive;

protected:
    // Decodes the whole file, read from Archive's current position, into Sink; answers 0, or the
    // message number of the failure (damaged or truncated data, a failed check).
    using TDecoder = std::function<int(TStream32& Archive, const TByteSink& Sink)>;

    // A byte source over Archive from where it stands.
    static TByteSource SourceOf(TStream32& Archive);

    // Extracts the file's one output, named OutName (a file name), dated DosDate (or exactly
    // UnixTime, where the file stores one). A decoded TAR
    // goes to a temporary file of our own and on through ExtractNestedTar; nothing named OutName
    // is then written.
    void ExtractOutput(TStream32& Archive, const std::string& OutName, std::uint32_t DosDate, const TDecoder& Decode,
                       std::optional<std::int64_t> UnixTime = {});
    // The stream has no length or check of its own (.Z): set before ExtractOutput.
    bool UncheckedStream = false;
    // Reports ECode for the current entry and ends it as failed.
    void FailEntry(int ECode);

private:
    enum : int { kWriteFailed = -1 };
    int RunDecoder(TStream32& Archive, const TDecoder& Decode, const TByteSink& Write);
    // Whether the decoded data starts with a TAR header, or is a TAR cut inside its first one.
    enum class TNestedTar { None, Whole, Cut };
    TNestedTar FindNestedTar(TStream32& Archive, const TDecoder& Decode, const std::string& OutName);
    bool WantsNestedTar();
    void ExtractPlain(TStream32& Archive, std::uint32_t DosDate, const TDecoder& Decode,
                      std::optional<std::int64_t> UnixTime);
    void ExtractThroughTar(TStream32& Archive, const TDecoder& Decode);
};
