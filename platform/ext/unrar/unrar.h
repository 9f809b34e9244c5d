// The RAR extraction library's published calling interface: the records, callbacks, result
// codes and entry points that the RAR extractor uses. Our library (libplxUnRar39.so) offers it
// over libarchive and libunarr; the engine loads it by name through LoadLibraryA.
#pragma once

#include <cstdint>

#define ERAR_SUCCESS 0
#define ERAR_END_ARCHIVE 10
#define ERAR_NO_MEMORY 11
#define ERAR_BAD_DATA 12
#define ERAR_BAD_ARCHIVE 13
#define ERAR_UNKNOWN_FORMAT 14
#define ERAR_EOPEN 15
#define ERAR_ECREATE 16
#define ERAR_ECLOSE 17
#define ERAR_EREAD 18
#define ERAR_EWRITE 19
#define ERAR_SMALL_BUF 20
#define ERAR_UNKNOWN 21
#define ERAR_MISSING_PASSWORD 22

#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1
#define RAR_OM_LIST_INCSPLIT 2

#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

#define RAR_VOL_ASK 0
#define RAR_VOL_NOTIFY 1

// Header flags.
#define RHDF_SPLITBEFORE 0x01
#define RHDF_SPLITAFTER 0x02
#define RHDF_ENCRYPTED 0x04
#define RHDF_SOLID 0x10
#define RHDF_DIRECTORY 0x20
#define RHDF_UNICODE 0x200  // FileName holds the Unicode form of the name, as UTF-8
#define RHDF_LINK 0x400     // a symbolic or hard link: its data, if any, is the link's target

enum UNRARCALLBACK_MESSAGES { UCM_CHANGEVOLUME = 0, UCM_PROCESSDATA = 1, UCM_NEEDPASSWORD = 2 };

// msg, the user data given to RARSetCallback, and two parameters: UCM_CHANGEVOLUME (name
// buffer of 1024 bytes, RAR_VOL_ASK or RAR_VOL_NOTIFY), UCM_PROCESSDATA (block address, size),
// UCM_NEEDPASSWORD (buffer, its size). -1 refuses or stops.
using UNRARCALLBACK = int (*)(unsigned Msg, std::intptr_t UserData, std::intptr_t P1, std::intptr_t P2);

struct RAROpenArchiveDataEx {
    const char* ArcName;
    const wchar_t* ArcNameW;
    unsigned OpenMode;
    unsigned OpenResult;
    char* CmtBuf;
    unsigned CmtBufSize;
    unsigned CmtSize;
    unsigned CmtState;
    unsigned Flags;
    unsigned Reserved[32];
};

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned Flags;
    unsigned PackSize;
    unsigned PackSizeHigh;
    unsigned UnpSize;
    unsigned UnpSizeHigh;
    unsigned HostOS;
    unsigned FileCRC;
    unsigned FileTime;
    unsigned UnpVer;
    unsigned Method;
    unsigned FileAttr;
    char* CmtBuf;
    unsigned CmtBufSize;
    unsigned CmtSize;
    unsigned CmtState;
    unsigned Reserved[1024];
};

using HRARARCHIVE = void*;

// The entry points, as the extractor takes them by name.
using TRAROpenArchiveEx = HRARARCHIVE (*)(RAROpenArchiveDataEx*);
using TRARCloseArchive = int (*)(HRARARCHIVE);
using TRARReadHeaderEx = int (*)(HRARARCHIVE, RARHeaderDataEx*);
using TRARProcessFile = int (*)(HRARARCHIVE, int Operation, char* DestPath, char* DestName);
using TRARProcessFileW = int (*)(HRARARCHIVE, int Operation, wchar_t* DestPath, wchar_t* DestName);
using TRARSetCallback = void (*)(HRARARCHIVE, UNRARCALLBACK, std::intptr_t UserData);
