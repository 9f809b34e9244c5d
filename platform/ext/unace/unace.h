// The ACE extraction library's calling interface as the ACE extractor uses it: one
// initialisation with four callbacks, then a test or an extraction of a file list. Our library
// (libplxunace26.so) offers it over our own ACE decoder; the engine loads it by name.
#pragma once

#include <cstdint>

// Callback answers.
#define ACE_CALLBACK_RETURN_OK 0
#define ACE_CALLBACK_RETURN_NO 1
#define ACE_CALLBACK_RETURN_CANCEL 2

// Structure types of the callbacks.
#define ACE_CALLBACK_TYPE_GLOBAL 0
#define ACE_CALLBACK_TYPE_ARCHIVE 1
#define ACE_CALLBACK_TYPE_ARCHIVEDFILE 2
#define ACE_CALLBACK_TYPE_PROGRESS 7
#define ACE_CALLBACK_TYPE_CRCCHECK 8

// Operations.
#define ACE_CALLBACK_OPERATION_LIST 0
#define ACE_CALLBACK_OPERATION_TEST 1
#define ACE_CALLBACK_OPERATION_EXTRACT 3

// Codes.
#define ACE_CALLBACK_INFO_FILELISTCREATE 281
#define ACE_CALLBACK_INFO_FILELISTCREATEEND 282
#define ACE_CALLBACK_INFO_FILELISTADD 320
#define ACE_CALLBACK_REQUEST_CHANGEVOLUME 801
#define ACE_CALLBACK_REQUEST_OVERWRITE 832
#define ACE_CALLBACK_REQUEST_PASSWORD 835
#define ACE_CALLBACK_STATE_STARTFILE 1040
#define ACE_CALLBACK_STATE_PROGRESS 1041
#define ACE_CALLBACK_STATE_ENDCRCCHECK 1042
#define ACE_CALLBACK_ERROR_READ 100
#define ACE_CALLBACK_ERROR_WRITE 101
#define ACE_CALLBACK_ERROR_CRC 102
#define ACE_CALLBACK_ERROR_UNSUPPORTED 103
#define ACE_CALLBACK_ERROR_ENCRYPTED 104
#define ACE_CALLBACK_ERROR_ARCHIVE 105

// Answers of the calls.
#define ACE_ERROR_NOERROR 0
#define ACE_ERROR_MEM 1
#define ACE_ERROR_FILES 2
#define ACE_ERROR_OPEN 11
#define ACE_ERROR_READ 12
#define ACE_ERROR_WRITE 13
#define ACE_ERROR_ARCHIVE 14
#define ACE_ERROR_USER 255

struct tACEFileDataStruc {
    const char* SourceFileName;       // as stored, "\" separators
    const char* DestinationFileName;  // where the library writes (extraction)
    unsigned Flags;
    std::uint32_t CRC32;  // as stored (not inverted)
    std::uint64_t PackedSize;
    std::uint64_t Size;
    std::uint32_t Time;  // DOS date and time
    std::uint32_t Attributes;
    bool CRCOk;    // the verdict, in the CRC check callback
    int CompType;  // 0 stored, 1 ACE 1.0 LZ77, 2 ACE 2.0 blocked
};

struct tACECallbackStruc {
    void* Obj;  // the Obj of the initialisation
    unsigned StructureType;
    unsigned Code;
    unsigned Operation;
    const char* ArchiveName;      // the volume in use
    tACEFileDataStruc* FileData;  // file callbacks
    const void* Data;             // progress: the decoded block
    std::uint64_t DataSize;
    int VolumeNumber;  // volume request: the one wanted
    char* Text;        // volume name or password buffer of TextSize bytes
    unsigned TextSize;
};

using ACECallbackProc = int (*)(tACECallbackStruc* Callback);

struct tACEGlobalDataStruc {
    void* Obj;
    unsigned MaxArchiveTestBytes;
    unsigned MaxFileBufSize;
    char* Comment;
    unsigned CommentBufSize;
    unsigned CommentSize;
    char TempDir[260];
    ACECallbackProc InfoCallbackProc;
    ACECallbackProc ErrorCallbackProc;
    ACECallbackProc RequestCallbackProc;
    ACECallbackProc StateCallbackProc;
};

struct tACEInitDllStruc {
    tACEGlobalDataStruc GlobalData;
    char Reserved[64];
};

struct tACEFilesStruc {
    const char* SourceDir;
    const char* FileList;  // masks, each ended by a carriage return; "*" for all
    const char* ExcludeList;
    int FullMatch;
};

struct tACETestStruc {
    tACEFilesStruc Files;
    const char* DecryptPassword;
    char Reserved[64];
};

struct tACEExtractStruc {
    tACEFilesStruc Files;
    const char* DestinationDir;
    int ExcludePath;  // non-zero: stored folders are not used
    const char* DecryptPassword;
    char Reserved[64];
};

using TACEInitDll = int (*)(tACEInitDllStruc*);
using TACEReadArchiveData = int (*)(const char* ArchiveName, void* Data);
using TACEList = int (*)(const char* ArchiveName, void* List);
using TACETest = int (*)(const char* ArchiveName, tACETestStruc*);
using TACEExtract = int (*)(const char* ArchiveName, tACEExtractStruc*);
