// The writers that "plxtool add -t TYPE" makes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TCompressClass;
class TZipBase;

namespace plxtool {

// A writer by the names of writers/FormatWriters.cpp (zip, tgz, uue, ...); null for any other name.
std::unique_ptr<TCompressClass> MakeWriter(const std::string& Type);
// uue, xxe, b64: one input encoded into the archive named (and its numbered parts).
bool IsTextEncoding(const std::string& Type);
// Types whose writer encrypts (ZIP, JAR, BH), and that keep an archive comment (ZIP, JAR).
bool TakesPassword(const std::string& Type);
bool TakesComment(const std::string& Type);
// Settings of the one-file-per-input writers that follow from the archive name.
void PrepareWriter(TCompressClass& Writer, const std::string& ArchiveFile);
// A ZIP writer whose archive becomes a split set of VolumeSize-byte volumes.
std::unique_ptr<TCompressClass> MakeSplitWriter(std::int64_t VolumeSize);
// Spanning prompts on the terminal: each disk is asked for on stderr and confirmed on stdin.
void BindDiskPrompts(TZipBase& Writer);

}  // namespace plxtool
