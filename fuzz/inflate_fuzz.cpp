// Differential target: our raw inflate against zlib's. Both must accept the same inputs with the
// same bytes; Deflate64 (first input byte odd) only has to survive and stay in bounds.

#include "core/Inflater.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kMaxOut = 1 << 18;

// Returns 1 for a complete stream, 0 for one that needs more input or room, -1 for an error.
int ZlibDecode(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out, std::size_t& consumed)
{
    z_stream zs{};
    inflateInit2(&zs, -15);
    static std::vector<std::uint8_t> buffer(kMaxOut);
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    const int rc = inflate(&zs, Z_FINISH);
    out.assign(buffer.data(), buffer.data() + zs.total_out);
    consumed = zs.total_in;
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? 1 : rc == Z_DATA_ERROR ? -1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool deflate64 = data[0] & 1;
    const std::size_t outStep = 1 + data[1] * 37;  // vary the output buffer to reach every pause
    data += 2;
    size -= 2;

    Inflater inflater(deflate64 ? 16 : 15, deflate64, false);
    std::vector<std::uint8_t> ours;
    std::vector<std::uint8_t> buffer(outStep + 32, 0xA5);
    const std::uint8_t* next = data;
    std::size_t avail = size;
    int rc;
    std::size_t room;
    do {
        std::uint8_t* dest = buffer.data();
        room = outStep;
        rc = inflater.Decode(next, avail, dest, room, true);
        for (std::size_t i = outStep; i < buffer.size(); ++i)
            if (buffer[i] != 0xA5)
                std::abort();  // wrote past the room it was given
        ours.insert(ours.end(), buffer.data(), dest);
    } while (rc == kInflateBufError && room == 0 && ours.size() < kMaxOut);

    if (deflate64)
        return 0;
    std::vector<std::uint8_t> theirs;
    std::size_t zlibConsumed = 0;
    const int zlibResult = ZlibDecode(data, size, theirs, zlibConsumed);
    if (ours.size() >= kMaxOut || theirs.size() >= kMaxOut)
        return 0;  // too big to compare in full
    const bool oursEnded = rc == kInflateStreamEnd;
    if (oursEnded != (zlibResult == 1))
        std::abort();
    if (oursEnded && (ours != theirs || static_cast<std::size_t>(next - data) != zlibConsumed))
        std::abort();
    return 0;
}
