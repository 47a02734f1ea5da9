#include "clients.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace relay {

namespace {

// Makes room for size more bytes at the end: first by moving the unsent bytes to the front,
// then by a larger buffer.
void makeRoom(Client& c, std::size_t size) {
    const std::size_t pending = c.outEnd - c.outStart;
    if (c.outEnd + size <= c.outCap) return;
    if (pending + size <= c.outCap) {
        std::memmove(c.out.get(), c.out.get() + c.outStart, pending);
    } else {
        std::size_t cap = std::max(kOutputKept, c.outCap);
        while (cap < pending + size) cap *= 2;
        auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(cap);
        if (pending) std::memcpy(bigger.get(), c.out.get() + c.outStart, pending);
        c.out = std::move(bigger);
        c.outCap = cap;
    }
    for (QueuedPosition& q : c.queued) q.at -= c.outStart;
    c.outStart = 0;
    c.outEnd = pending;
}

} // namespace

bool queueFrame(Client& c, const std::uint8_t* frame, std::size_t size, std::int32_t sender,
                bool position, std::size_t cap) {
    // Kept in sender order, so that in a room of hundreds the waiting position of a sender is
    // found in a few steps, not by a walk over all of them for every copy.
    const auto same =
        std::lower_bound(c.queued.begin(), c.queued.end(), sender,
                         [](const QueuedPosition& q, std::int32_t id) { return q.sender < id; });
    const bool waiting = same != c.queued.end() && same->sender == sender;
    if (position && waiting) {
        std::memcpy(c.out.get() + same->at, frame, size);
        return true;
    }
    if (!position) {
        if (waiting) c.queued.erase(same);
        const std::size_t others = c.outEnd - c.outStart - c.queued.size() * kPositionSize;
        if (others + size > cap) return false;
    }
    makeRoom(c, size); // which leaves the order of queued, and so same, as it was
    if (position) c.queued.insert(same, {sender, c.outEnd});
    std::memcpy(c.out.get() + c.outEnd, frame, size);
    c.outEnd += size;
    return true;
}

bool flushOutput(Client& c, std::uint64_t& sent) {
    while (c.outStart < c.outEnd) {
        const ssize_t n = send(c.fd, c.out.get() + c.outStart, c.outEnd - c.outStart, MSG_NOSIGNAL);
        if (n > 0) {
            c.outStart += std::size_t(n);
            sent += std::uint64_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            return false;
        }
    }
    // A position begun to be sent can no longer be replaced.
    std::erase_if(c.queued, [&](const QueuedPosition& q) { return q.at < c.outStart; });
    if (c.outStart == c.outEnd) {
        c.outStart = c.outEnd = 0;
        if (c.outCap > kOutputKept) {
            c.out.reset();
            c.outCap = 0;
        }
    }
    return true;
}

} // namespace relay
