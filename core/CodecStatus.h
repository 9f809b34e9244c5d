// How a decoder run ends, for every stream codec that does not raise its own message, and the
// one message number that reports each ending.
#pragma once

#include <cstdint>

#include "core/Err_Msgs.h"

enum class TCodecStatus : std::uint8_t {
    Ok,
    NotFormat,          // no magic of the format at the start
    Truncated,          // the input ends inside a header, the data or a trailer
    BadHeader,          // reserved flags or fields out of range, overlong texts
    HeaderCrcError,     // the header's own check value does not match
    Encrypted,          // the data is enciphered
    UnsupportedMethod,  // a method the codec does not know
    DataError,          // the coded data is invalid
    CrcError,           // the data's check value differs from the stored one
    SizeError,          // the data's size differs from the stored one
    OutputLimit,        // more output than the caller allowed
    StackOverflow,      // a string longer than the decoder's stack
    Canceled,           // the caller's cancel flag stopped the run
    OutOfMemory,        // the decoder's working memory could not be had

    // The names the format readers have always used.
    NotGzip = NotFormat,
    NotCompress = NotFormat,
    Corrupt = DataError,
};

// The message number that reports Status; 0 for Ok. DataErrorMessage is the format's word for
// damaged data ("Bad block" in the ZIP family).
int CodecStatusMessage(TCodecStatus Status, int DataErrorMessage = E_CORRUPTINPUT);
