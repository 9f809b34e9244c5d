// Throughput of our inflater against zlib's on the same raw deflate payload.
// Usage: inflate_bench FILE.gz|FILE.deflate [rounds]

#include "core/Inflater.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Offset of the deflate data behind a gzip header, or 0 for a raw stream.
std::size_t PayloadStart(const Bytes& f)
{
    if (f.size() < 18 || f[0] != 0x1F || f[1] != 0x8B || f[2] != 8)
        return 0;
    const unsigned flags = f[3];
    std::size_t p = 10;
    if (flags & 4)
        p += 2 + (f[p] | (f[p + 1] << 8));
    if (flags & 8)
        while (p < f.size() && f[p++] != 0) {
        }
    if (flags & 16)
        while (p < f.size() && f[p++] != 0) {
        }
    if (flags & 2)
        p += 2;
    return std::min(p, f.size());
}

std::size_t ZlibOneShot(const std::uint8_t* in, std::size_t n, Bytes& out)
{
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(in);
    zs.avail_in = static_cast<uInt>(n);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const std::size_t produced = zs.total_out;
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? produced : 0;
}

std::size_t OursOneShot(const std::uint8_t* in, std::size_t n, Bytes& out)
{
    Inflater inflater(15, false, false);
    std::uint8_t* dest = out.data();
    std::size_t room = out.size();
    const int rc = inflater.Decode(in, n, dest, room, true);
    return rc == kInflateStreamEnd ? static_cast<std::size_t>(dest - out.data()) : 0;
}

// The archive readers' pattern: 64 KiB of input at a time, 32 KiB output buffers.
std::size_t ZlibStreaming(const std::uint8_t* in, std::size_t n, Bytes& out)
{
    z_stream zs{};
    inflateInit2(&zs, -15);
    std::size_t pos = 0, produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (zs.avail_in == 0) {
            zs.next_in = const_cast<Bytef*>(in + pos);
            zs.avail_in = static_cast<uInt>(std::min<std::size_t>(65536, n - pos));
            pos += zs.avail_in;
        }
        zs.next_out = out.data() + produced;
        zs.avail_out = static_cast<uInt>(std::min<std::size_t>(32768, out.size() - produced));
        rc = inflate(&zs, Z_NO_FLUSH);
        produced = zs.total_out;
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? produced : 0;
}

std::size_t OursStreaming(const std::uint8_t* in, std::size_t n, Bytes& out)
{
    TInflateRecord rec;
    InflateInit2(&rec, -15, kInflateRecordSize);
    std::size_t pos = 0;
    int rc = kInflateOk;
    while (rc == kInflateOk) {
        if (rec.AvailIn == 0) {
            rec.NextIn = in + pos;
            rec.AvailIn = static_cast<std::uint32_t>(std::min<std::size_t>(65536, n - pos));
            pos += rec.AvailIn;
        }
        rec.NextOut = out.data() + rec.TotalOut;
        rec.AvailOut = static_cast<std::uint32_t>(std::min<std::size_t>(32768, out.size() - rec.TotalOut));
        rc = Inflate(&rec, kInflateNoFlush);
    }
    const std::size_t produced = rec.TotalOut;
    InflateEnd(&rec);
    return rc == kInflateStreamEnd ? produced : 0;
}

using Decoder = std::size_t (*)(const std::uint8_t*, std::size_t, Bytes&);

// Best of the rounds, in MB/s of decoded output.
double Measure(Decoder decode, const std::uint8_t* in, std::size_t n, Bytes& out, std::size_t expected, int rounds)
{
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        const std::size_t produced = decode(in, n, out);
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (produced != expected) {
            std::fprintf(stderr, "decoder failed or produced %zu bytes instead of %zu\n", produced, expected);
            std::exit(1);
        }
        best = std::max(best, expected / 1e6 / s);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.gz|FILE.deflate [rounds]\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const Bytes data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::size_t start = PayloadStart(data);
    const std::uint8_t* in = data.data() + start;
    const std::size_t n = data.size() - start;

    // Size the output with a first zlib pass.
    Bytes reference(std::max<std::size_t>(n * 4, 1 << 20));
    std::size_t expected;
    while ((expected = ZlibStreaming(in, n, reference)) == 0) {
        if (reference.size() > (std::size_t{1} << 34)) {
            std::fprintf(stderr, "not a deflate stream zlib can decode\n");
            return 1;
        }
        reference.resize(reference.size() * 2);
    }
    reference.resize(expected);

    Bytes out(expected + 64);
    for (auto [name, decode] : {std::pair{"one-shot", &OursOneShot}, std::pair{"streaming", &OursStreaming}}) {
        std::fill(out.begin(), out.end(), 0);
        if (decode(in, n, out) != expected || !std::equal(reference.begin(), reference.end(), out.begin())) {
            std::fprintf(stderr, "our %s output differs from zlib's\n", name);
            return 1;
        }
    }

    const double zlibStream = Measure(ZlibStreaming, in, n, out, expected, rounds);
    const double oursStream = Measure(OursStreaming, in, n, out, expected, rounds);
    const double zlibOne = Measure(ZlibOneShot, in, n, out, expected, rounds);
    const double oursOne = Measure(OursOneShot, in, n, out, expected, rounds);
    std::printf("input %zu bytes, output %zu bytes, best of %d rounds\n", n, expected, rounds);
    std::printf("streaming 64K/32K: %.1f MB/s ours, %.1f MB/s zlib\n", oursStream, zlibStream);
    std::printf("%.1f MB/s ours\n", oursOne);
    std::printf("%.1f MB/s zlib\n", zlibOne);
    std::printf("ratio_streaming=%.2f\n", oursStream / zlibStream);
    std::printf("ratio_ours_over_zlib=%.2f\n", oursOne / zlibOne);
    return 0;
}
