#include "core/CodecStatus.h"

#include "core/Err_Msgs.h"

int CodecStatusMessage(TCodecStatus Status, int DataErrorMessage)
{
    switch (Status) {
    case TCodecStatus::Ok:
        return 0;
    case TCodecStatus::Truncated:
        return E_UNEXPECTEDEOF;
    case TCodecStatus::HeaderCrcError:
        return E_HEADERCRC;
    case TCodecStatus::Encrypted:
        return E_PASSWORDPROTECTED;
    case TCodecStatus::UnsupportedMethod:
        return E_UNSUPPORTEDMETHOD;
    case TCodecStatus::CrcError:
        return E_CRC;
    case TCodecStatus::SizeError:
        return E_FILESIZEDIFFERS;
    case TCodecStatus::StackOverflow:
        return E_STACKOVERFLOW;
    case TCodecStatus::Canceled:
        return E_USERCANCEL;
    case TCodecStatus::OutOfMemory:
        return E_OUTOFMEMORY;
    case TCodecStatus::NotFormat:
    case TCodecStatus::BadHeader:
        return E_BADFILEHEADER;
    case TCodecStatus::DataError:
        return DataErrorMessage;
    case TCodecStatus::OutputLimit:
        break;
    }
    return E_CORRUPTINPUT;
}
