// Window-message frames from another process: the reader must refuse or accept, never overrun,
// and what it accepts must be safe to dispatch: a posted frame never carries WM_COPYDATA (its
// lParam would be read as a pointer), and only a sent WM_COPYDATA carries a data block.
#include "platform/win/IpcFrame.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    win::ipc::FrameReader reader;
    std::size_t used = 0;
    // Uneven chunks, as a socket hands them out.
    std::size_t chunk = size > 0 ? (data[0] % 61) + 1 : 1;
    while (used < size) {
        const std::size_t take = chunk < size - used ? chunk : size - used;
        std::size_t fed = 0;
        while (fed < take) {
            fed += reader.Feed(data + used + fed, take - fed);
            if (reader.State() == win::ipc::FrameReader::Status::Refused)
                return 0;
            if (reader.State() == win::ipc::FrameReader::Status::Ready) {
                const auto frame = reader.Take();
                if (frame.payload.size() > win::ipc::MaxFramePayload)
                    __builtin_trap();
                const bool sentCopyData = frame.kind == win::ipc::FrameKind::Send && frame.message == WM_COPYDATA;
                if (frame.message == WM_COPYDATA && !sentCopyData)
                    __builtin_trap();
                if (frame.hasCopyData != sentCopyData || (!frame.hasCopyData && !frame.payload.empty()))
                    __builtin_trap();
            }
        }
        used += take;
        chunk = chunk * 3 % 97 + 1;
    }
    return 0;
}
