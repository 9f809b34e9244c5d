// Vocabulary shared by every archive component: enumerations, event types, the engine's
// exception and the numbered message table.
#pragma once

#include "core/Err_Msgs.h"
#include "platform/win/SysStrings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// Base of the engine's objects, passed as Sender to every event.
class TObject {
public:
    virtual ~TObject() = default;
};

using TDateTime = double;  // days since 1899-12-30, fraction = time of day

// Enumerations. Ordinals are stored in files and compared in ranges: never reorder.

enum TArcType : std::uint8_t {
    atNA,
    atUnsupported,
    atFileOpenErr,
    atUnknown,
    atAce,
    atAceExe,
    atArc,
    atArcExe,
    atArj,
    atArjExe,
    atB64,
    atBh,
    atBhExe,
    atBz2,
    atCab,
    atCabExe,
    atGZip,
    atHA,
    atJar,
    atJarExe,
    atLha,
    atLhaExe,
    atLzh,
    atLzhExe,
    atMsGZ,
    atPak,
    atPakExe,
    atRar,
    atRarExe,
    atTar,
    atTarGz,
    atTarBz,
    atUUE,
    atZip,
    atZipExe,
    atZipDS,
    atZipMV,
    atZoo
};

enum TCompressMethod : std::uint8_t {
    cmStore,
    cmDeflate,
    cmFuse,
    cmFrozen5,
    cmFrozen6,
    cmFrozen7,
    cmMsZip,
    cmLzx,
    cmQuantum,
    cmUUEncode,
    cmXXEncode,
    cmBase64,
    cmTar,
    cmTarGz,
    cmTarBz,
    cmBz2,
    cmPPMDi
};

enum TEncryptionMethod : std::uint8_t {
    emAes1_128,
    emAes1_192,
    emAes1_256,
    emAes2_128,
    emAes2_192,
    emAes2_256,
    emZip_V2,
    emPkAes1_128,
    emPkAes1_192,
    emPkAes1_256,
    emPkAes2_128,
    emPkAes2_192,
    emPkAes2_256,
    emNone,
    emUnsupported
};

enum TOverwriteMode : std::uint8_t { omOverwrite, omSkip };

enum TStoredDirNames : std::uint8_t {
    sdNone,
    sdAbsolute,
    sdAbsoluteNoDrv,
    sdAbsoluteNoRoot,
    sdRelative,
    sdRelativeStoreStart,
    sdExplorer_Auto,
    sdExplorer_UserDefineDefaultDir
};

enum TPartType : std::uint8_t {
    pt1mb,
    ptFloppy_120mb,
    ptFloppy_144mb,
    ptFloppy_288mb,
    ptZipDisk_100mb,
    ptZipDisk_250mb,
    ptCDRom_650mb,
    ptCDRom_700mb,
    ptDVD_4700mb,
    ptOtherSize,
    ptNoSplit
};

enum TCustomSizeType : std::uint8_t { stBytes, stKB, stMB };
enum TSwitch : std::uint8_t { swAdd, swRefresh, swMove, swDelete, swRead };
enum TDateAttribute : std::uint8_t { daFileDate, daSysDate, daMaxFileDate };
enum TDeflateType : std::uint8_t { dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX };
enum TRelativeDir : std::uint8_t { byItem, byList };
enum TDeleteOptions : std::uint8_t { doFinal, doAllowUndo };
enum TStreamType : std::uint8_t { stMemory, stFile };
enum TCpuType : std::uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };
enum TNextVolumeName : std::uint8_t { nvChangeFilename, nvChangeExt };

enum TplxFileAttribute : std::uint8_t {
    fsZeroAttr,
    fsReadOnly,
    fsHidden,
    fsSysFile,
    fsVolumeID,
    fsDirectory,
    fsArchive,
    fsCompressed,
    fsEncrypted,
    fsReparsePoints
};
// A set of TplxFileAttribute, bit n for ordinal n.
using TplxFileAttributes = std::uint16_t;
constexpr TplxFileAttributes AttrBit(TplxFileAttribute a)
{
    return TplxFileAttributes(1u << a);
}
constexpr TplxFileAttributes DefaultAttributes = 451;    // ZeroAttr, ReadOnly, Archive, Compressed, Encrypted
constexpr TplxFileAttributes DefaultAttributesEx = 512;  // ReparsePoints

enum TplxSortOptions : std::uint8_t { soUnsort, soByName, soByType, soBySize, soByTime, soByPath };
enum TfsScanOptions : std::uint8_t { soScanDir, soScanDrvs };

enum THeaderType : std::uint8_t { htLocal, htCentral, htEnding, htLocator, htEnding64, htSfx, htNone };
// A set of THeaderType, bit n for ordinal n.
using THeaderTypeState = std::uint8_t;
constexpr THeaderTypeState HeaderBit(THeaderType t)
{
    return THeaderTypeState(1u << t);
}

using TRangeTen = int;  // 1 to 9
constexpr bool InRangeTen(int v)
{
    return v >= 1 && v <= 9;
}

// Number of declared values, so that setters can refuse ordinals outside an enumeration.
template <class E>
struct TEnumCount;
#define TORVO_ENUM_COUNT(E, last)                                                                                      \
    template <>                                                                                                        \
    struct TEnumCount<E> {                                                                                             \
        static constexpr int value = int(last) + 1;                                                                    \
    }
TORVO_ENUM_COUNT(TArcType, atZoo);
TORVO_ENUM_COUNT(TCompressMethod, cmPPMDi);
TORVO_ENUM_COUNT(TEncryptionMethod, emUnsupported);
TORVO_ENUM_COUNT(TOverwriteMode, omSkip);
TORVO_ENUM_COUNT(TStoredDirNames, sdExplorer_UserDefineDefaultDir);
TORVO_ENUM_COUNT(TPartType, ptNoSplit);
TORVO_ENUM_COUNT(TCustomSizeType, stMB);
TORVO_ENUM_COUNT(TSwitch, swRead);
TORVO_ENUM_COUNT(TDateAttribute, daMaxFileDate);
TORVO_ENUM_COUNT(TDeflateType, dtDeflateX);
TORVO_ENUM_COUNT(TRelativeDir, byList);
TORVO_ENUM_COUNT(TDeleteOptions, doAllowUndo);
TORVO_ENUM_COUNT(TStreamType, stFile);
TORVO_ENUM_COUNT(TCpuType, cpt80486);
TORVO_ENUM_COUNT(TNextVolumeName, nvChangeExt);
TORVO_ENUM_COUNT(TplxFileAttribute, fsReparsePoints);
TORVO_ENUM_COUNT(TplxSortOptions, soByPath);
TORVO_ENUM_COUNT(TfsScanOptions, soScanDrvs);
TORVO_ENUM_COUNT(THeaderType, htNone);
#undef TORVO_ENUM_COUNT

template <class E>
constexpr bool IsDeclaredOrdinal(int ordinal)
{
    return ordinal >= 0 && ordinal < TEnumCount<E>::value;
}

// Listing text of TArcType, blank-padded as the list view shows it (core/ArcDescriptor.h).
std::string_view ArcTypeName(TArcType t);
// The method as the components name it ("cmDeflate"); empty outside the enumeration.
std::string_view CompressMethodName(TCompressMethod m);

// Records.

struct TSeedKeyRecord {
    std::uint32_t Key0 = 0;
    std::uint32_t Key1 = 0;
    std::uint32_t Key2 = 0;
};

// Raised after an error has been reported through OnError; Message is the number's text.
class E_RAISE : public win::Exception {
public:
    E_RAISE(int code, const std::string& message) : win::Exception(message), ECode(code) {}
    explicit E_RAISE(int code);  // message from the table
    int ECode;
};

// Event types. Sender is the component; references are values the handler may change.

using TOnActivate = std::function<void(TObject* Sender)>;
using TOnBegin = std::function<void(TObject* Sender, const std::string& FileName, int Count, bool& Extract)>;
using TOnChangeArchive = std::function<void(TObject* Sender, const std::string& ArchiveName, TArcType ArcType)>;
using TOnClearDisk = std::function<void(TObject* Sender, const std::string& Drive, std::int64_t RequiredSpace,
                                        std::int64_t FreeSpace, std::int64_t TotalSpace, bool& Cancel)>;
using TOnCorruptZipHeader = std::function<void(TObject* Sender, THeaderTypeState HeadFlag, bool& Cancel)>;
using TOnCreateDirectory = std::function<void(TObject* Sender, const std::string& Directory, bool CreateDirectory)>;
using TOnDeleteFile = std::function<void(TObject* Sender, const std::string& FileName, int Count, int MaxCount)>;
using TOnDiskError = std::function<void(TObject* Sender, bool& Abort)>;
using TOnElapsedTime = std::function<void(TObject* Sender, float ElapsedTime)>;
using TOnEnd = std::function<void(TObject* Sender, const std::string& FileName, bool CRC_PASS)>;
using TOnError = std::function<void(TObject* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                                    const std::string& VolumeID, int ECode)>;
using TOnExcludeFile = std::function<void(TObject* Sender, const std::string& FileName)>;
using TOnFileExists = std::function<void(TObject* Sender, const std::string& FileName, TDateTime FileDate,
                                         TOverwriteMode& OverwriteMode)>;
using TUnBase_OnFileExists = std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName,
                                                TOverwriteMode& OverwriteMode)>;
using TOnGetPassword = std::function<void(TObject* Sender, const std::string& FileName, std::string& Password,
                                          TSeedKeyRecord& HeaderKeys, TSeedKeyRecord& DataKeys, bool& TryAgain)>;
using TOnGetZipFirstDisk = std::function<void(TObject* Sender, bool& Cancel)>;
using TOnGetZipLastDisk = std::function<void(TObject* Sender, bool& Cancel)>;
using TOnGetZipNextDisk = std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TOnInsertDisk = std::function<void(TObject* Sender, const std::string& VolumeName, bool& Cancel)>;
using TOnLimitedUser =
    std::function<void(TObject* Sender, const std::string& ProtectedDir, std::string& UserDir, bool& Cancel)>;
using TOnNestedTarFile = std::function<void(TObject* Sender, const std::string& FileName, bool& doUnTar)>;
using TOnNextVolume =
    std::function<void(TObject* Sender, std::string& VolumeName, int VolumeID, bool FExists, bool& Cancel)>;
using TOnNonWriteableArchive = std::function<void(TObject* Sender, const std::string& ArchiveFile, bool& WriteToFile)>;
using TOnProgress = std::function<void(TObject* Sender, std::uint8_t ByFile, std::uint8_t ByArchive)>;
using TOnRead = std::function<void(TObject* Sender, std::int64_t Offset, int Filenum)>;
using TOnRecurseDir = std::function<void(TObject* Sender, const std::string& Directory)>;
using TOnRemoveTempfile = std::function<void(TObject* Sender, const std::string& FileName)>;
using TOnRenameFile = std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName)>;
using TOnRenameDupeFile =
    std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName, bool& Rename)>;
using TOnReplaceFile = std::function<void(TObject* Sender, const std::string& FileName, const std::string& NewFileName,
                                          TDateTime Date, TDateTime NewDate, std::int64_t FileSize,
                                          std::int64_t NewFileSize, int Attr, int NewAttr, bool& Replace)>;
using TOnScanFileEvent =
    std::function<void(TObject* Sender, const std::string& FileName, int FilesCount, std::int64_t FilesSize)>;
using TOnSplitNewVolume = std::function<void(TObject* Sender, std::uint32_t Index, const std::string& NewVolumeName)>;
using TOnTotals =
    std::function<void(TObject* Sender, std::int64_t UnpackSize, std::int64_t PackSize, int Ratio, int NumFiles)>;
using TTmpFileMoveBegin =
    std::function<void(TObject* Sender, const std::string& Archive, const std::string& TempFileName, bool& Cancel)>;

// The text of a message number; empty for a number that carries no message.
std::string_view LoadMessage(int number);
