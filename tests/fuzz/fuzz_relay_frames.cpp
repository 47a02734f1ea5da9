// The relay's frame splitter on arbitrary bytes, fed in chunks of sizes taken from the input:
// every frame handed out is the stream's next bytes, whole and well formed; a valid stream
// never stalls; a framing error is reported exactly where the stream breaks.
#include "frames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = 1 + data[0] % 64u * 97u, length = size - 1; // 1 .. 6112 a read
    const std::uint8_t* stream = data + 1;
    static relay::FrameBuffer buf;
    buf.used = 0;
    std::size_t fed = 0, consumed = 0;
    for (bool ok = true; ok && fed < length;) {
        const std::size_t n = std::min({step, buf.freeSize(), length - fed});
        std::memcpy(buf.freeSpace(), stream + fed, n);
        buf.used += n;
        fed += n;
        ok = relay::splitFrames(buf, [&](const std::uint8_t* frame, std::size_t frameSize) {
            const std::int32_t body = wire::readWord(frame + 12);
            if (wire::readWord(frame) != -1 || body < 12 || body > 10240 ||
                frameSize != 16 + std::size_t(body) ||
                std::memcmp(frame, stream + consumed, frameSize) != 0)
                std::abort();
            consumed += frameSize;
        });
        // What stays buffered is the unconsumed rest of the stream, never a whole frame, and
        // broken exactly when the splitter said so.
        if (consumed + buf.used != fed || std::memcmp(buf.data, stream + consumed, buf.used) != 0 ||
            (ok && buf.used == wire::kMaxFrameSize) ||
            (!ok && relay::frameAt(buf.data, buf.used) != -1))
            std::abort();
    }
    return 0;
}
