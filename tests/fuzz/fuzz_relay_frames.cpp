// The relay's frame splitter and checks on arbitrary bytes, fed in chunks of sizes taken from
// the input: every frame handed out is the stream's next bytes, whole and well formed; a valid
// stream never stalls; a framing error is reported exactly where the stream breaks; a frame
// the checks pass carries one id throughout.
#include "frames.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = 1 + data[0] % 64u * 97u, length = size - 1; // 1 .. 6112 a read
    const std::uint8_t* stream = data + 1;
    static std::uint8_t buf[10256];
    std::size_t used = 0, fed = 0, consumed = 0;
    for (bool ok = true; ok && fed < length;) {
        const std::size_t n = std::min({step, sizeof buf - used, length - fed});
        std::memcpy(buf + used, stream + fed, n);
        used += n;
        fed += n;
        std::size_t taken = 0;
        ok = relay::splitFrames(buf, used, taken, [&](const std::uint8_t* frame, std::size_t sz) {
            const std::int32_t body = wire::readWord(frame + 12);
            if (wire::readWord(frame) != -1 || body < 12 || body > 10240 ||
                sz != 16 + std::size_t(body) || std::memcmp(frame, stream + consumed, sz) != 0)
                std::abort();
            char why[64];
            const std::int32_t source = wire::readWord(frame + 8);
            if (relay::checkFrame(frame, sz, source, why, sizeof why) != relay::Verdict::Forged &&
                (wire::readWord(frame + 24) != source || wire::readWord(frame + 16) == -1))
                std::abort();
            consumed += sz;
            return true;
        });
        std::memmove(buf, buf + taken, used - taken);
        used -= taken;
        // What stays buffered is the unconsumed rest of the stream, never a whole frame, and
        // broken exactly when the splitter said so.
        if (consumed + used != fed || std::memcmp(buf, stream + consumed, used) != 0 ||
            (ok && used == sizeof buf) || (!ok && relay::frameAt(buf, used) != -1))
            std::abort();
    }
    return 0;
}
