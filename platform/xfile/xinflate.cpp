// The compressed .x formats ("tzip", "bzip"): a run of raw-deflate blocks, each inflated with
// the window of the output so far as its dictionary.
#include "platform/xfile/xlex.h"
#include "platform/xfile/xparse.h"

#include <zlib.h>

#include <algorithm>
#include <string>

namespace xfile {

namespace {

constexpr uint32_t kHeaderBytes = 16;
constexpr size_t kWindow = 32768;

struct InflateStream {
    z_stream zs{};
    bool ok = false;
    InflateStream() { ok = inflateInit2(&zs, -15) == Z_OK; }
    ~InflateStream() {
        if (ok) inflateEnd(&zs);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;
};

bool Fail(size_t offset, const std::string& reason, std::string& error) {
    error = "byte offset " + std::to_string(offset + kHeaderBytes) + ": " + reason;
    return false;
}

} // namespace

bool InflateBlocks(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& error) {
    if (in.size() < 4) return Fail(0, "compressed file lacks its size field", error);
    // The size field counts the uncompressed file, header included; some writers leave the
    // header out, so both are accepted at the end.
    const uint32_t total = ReadU32(in.data());
    if (total > kMaxDecompressedBytes)
        return Fail(0,
                    "declares " + std::to_string(total) + " bytes uncompressed, more than the " +
                        std::to_string(kMaxDecompressedBytes >> 20) + " MiB accepted",
                    error);
    InflateStream stream;
    if (!stream.ok) return Fail(0, "zlib could not start", error);
    z_stream& zs = stream.zs;
    const size_t start = out.size();
    size_t pos = 4;
    while (pos < in.size()) {
        if (in.size() - pos < 6) return Fail(pos, "truncated block header", error);
        const uint16_t plainSize = ReadU16(in.data() + pos);
        const uint16_t packedSize = ReadU16(in.data() + pos + 2);
        if (packedSize < 2 || packedSize > in.size() - pos - 4)
            return Fail(pos,
                        "block of " + std::to_string(packedSize) +
                            " compressed bytes runs past the end",
                        error);
        if (in[pos + 4] != 'C' || in[pos + 5] != 'K')
            return Fail(pos, "block lacks its 'CK' mark", error);
        if (plainSize == 0) return Fail(pos, "empty block", error);
        const size_t produced = out.size() - start;
        if (produced + plainSize > total)
            return Fail(
                pos, "blocks inflate to more than the declared " + std::to_string(total) + " bytes",
                error);

        inflateReset(&zs);
        if (produced > 0) {
            const size_t dict = std::min(produced, kWindow);
            if (inflateSetDictionary(&zs, out.data() + out.size() - dict, uInt(dict)) != Z_OK)
                return Fail(pos, "zlib refused the block dictionary", error);
        }
        const size_t base = out.size();
        out.resize(base + plainSize);
        zs.next_in = const_cast<Bytef*>(in.data() + pos + 6);
        zs.avail_in = packedSize - 2;
        zs.next_out = out.data() + base;
        zs.avail_out = plainSize;
        const int r = inflate(&zs, Z_FINISH);
        if (r != Z_STREAM_END) {
            if (zs.avail_out == 0 && (r == Z_BUF_ERROR || r == Z_OK))
                return Fail(pos,
                            "block inflates to more than its declared " +
                                std::to_string(plainSize) + " bytes",
                            error);
            return Fail(pos,
                        std::string("block is not valid deflate data") +
                            (zs.msg ? std::string(" (") + zs.msg + ")" : ""),
                        error);
        }
        if (zs.avail_out != 0)
            return Fail(pos,
                        "block inflates to " + std::to_string(plainSize - zs.avail_out) +
                            " bytes, not the declared " + std::to_string(plainSize),
                        error);
        pos += 4 + size_t(packedSize);
    }
    const size_t produced = out.size() - start;
    if (produced != total && produced + kHeaderBytes != total)
        return Fail(pos,
                    "blocks inflate to " + std::to_string(produced) +
                        " bytes, the header declares " + std::to_string(total),
                    error);
    return true;
}

} // namespace xfile
