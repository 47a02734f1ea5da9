// duoscope-relay: accepts viewers on a TCP port, gives each an id, and passes every framed
// message a viewer sends on to all the other viewers, bytes unchanged. One thread, poll(2),
// non-blocking sockets; each client owns one input buffer (one frame) and one output buffer
// (the cap), both made at accept, so forwarding allocates nothing.
#include "frames.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using relay::FrameBuffer;

// Unsent output a client may have before it counts as a slow reader and is dropped: about
// five thousand position messages, several seconds of a busy session.
constexpr std::size_t kOutputCap = 256 * 1024;
// After the listener runs out of descriptors, accepting pauses this long instead of spinning.
constexpr int kAcceptPauseMs = 100;
// How long the goodbyes at shutdown may take to drain to slow clients.
constexpr int kGoodbyeDrainMs = 2000;

struct Client {
    int fd = -1;
    std::int32_t id = 0;
    char peer[64] = {};
    std::unique_ptr<FrameBuffer> in;
    std::unique_ptr<std::uint8_t[]> out; // kOutputCap bytes; [outStart, outEnd) unsent
    std::size_t outStart = 0;
    std::size_t outEnd = 0;
    const char* dropReason = nullptr; // set: closed at the end of the current turn
};

void usage(std::FILE* to) {
    std::fprintf(to, "usage: duoscope-relay [--port PORT] [--bind ADDRESS]\n"
                     "  --port PORT     TCP port to listen on (default 9009, 0 picks a free one)\n"
                     "  --bind ADDRESS  IPv4 address to listen on (default: all interfaces)\n"
                     "  --help          show this text\n");
}

bool parsePort(const char* text, int& port) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 65535) return false;
    port = int(v);
    return true;
}

void formatPeer(const sockaddr_in& a, char* out, std::size_t size) {
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    std::snprintf(out, size, "%s:%u", host, unsigned(ntohs(a.sin_port)));
}

// Appends bytes to a client's unsent output; false when that would pass the cap.
bool queueOutput(Client& c, const std::uint8_t* bytes, std::size_t size) {
    const std::size_t pending = c.outEnd - c.outStart;
    if (pending + size > kOutputCap) return false;
    if (c.outEnd + size > kOutputCap) {
        std::memmove(c.out.get(), c.out.get() + c.outStart, pending);
        c.outStart = 0;
        c.outEnd = pending;
    }
    std::memcpy(c.out.get() + c.outEnd, bytes, size);
    c.outEnd += size;
    return true;
}

// Sends as much unsent output as the socket takes. False when the connection failed.
bool flushOutput(Client& c) {
    while (c.outStart < c.outEnd) {
        const ssize_t n = send(c.fd, c.out.get() + c.outStart, c.outEnd - c.outStart, MSG_NOSIGNAL);
        if (n > 0) {
            c.outStart += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            return false;
        }
    }
    // Start again at the front once empty: a client that keeps up only ever touches the
    // first pages of its buffer.
    if (c.outStart == c.outEnd) c.outStart = c.outEnd = 0;
    return true;
}

void drop(Client& c, const char* reason) {
    if (!c.dropReason) c.dropReason = reason;
}

struct Relay {
    int listenFd = -1;
    int signalFd = -1;
    std::vector<Client> clients;
    std::vector<pollfd> fds; // [0] signals, [1] listener, [2 + i] clients[i]
    std::int32_t nextId = 1;
    bool acceptPaused = false;
    timespec acceptResume{}; // while paused: when to watch the listener again
    bool acceptFailureLogged = false;
};

// Forwards one frame from clients[from] to every other client still connected.
void forward(Relay& r, std::size_t from, const std::uint8_t* frame, std::size_t size) {
    for (std::size_t i = 0; i < r.clients.size(); ++i) {
        Client& c = r.clients[i];
        if (i == from || c.dropReason) continue;
        if (!queueOutput(c, frame, size)) drop(c, "dropped: unsent output over 262144 bytes");
    }
}

void readClient(Relay& r, std::size_t index) {
    Client& c = r.clients[index];
    FrameBuffer& in = *c.in;
    ssize_t n;
    do {
        n = recv(c.fd, in.freeSpace(), in.freeSize(), 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return drop(c, "disconnected");
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        return drop(c, errno == ECONNRESET ? "disconnected (reset)" : "dropped: receive failed");
    }
    in.used += std::size_t(n);
    const bool ok = relay::splitFrames(
        in, [&](const std::uint8_t* frame, std::size_t size) { forward(r, index, frame, size); });
    if (!ok) drop(r.clients[index], "dropped: broken framing");
}

void acceptClients(Relay& r) {
    // A bounded batch per turn, so a connection storm cannot starve the connected clients.
    for (int batch = 0; batch < 64; ++batch) {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        const int fd = accept4(r.listenFd, reinterpret_cast<sockaddr*>(&addr), &len,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // Out of descriptors or memory: the pending connection stays queued and the
            // listener would poll readable at once, so stop watching it for a while.
            if (!r.acceptFailureLogged)
                std::fprintf(stderr, "duoscope-relay: cannot accept: %s (retrying)\n",
                             std::strerror(errno));
            r.acceptFailureLogged = true;
            r.acceptPaused = true;
            clock_gettime(CLOCK_MONOTONIC, &r.acceptResume);
            r.acceptResume.tv_nsec += kAcceptPauseMs * 1000000L;
            if (r.acceptResume.tv_nsec >= 1000000000L) {
                r.acceptResume.tv_sec += 1;
                r.acceptResume.tv_nsec -= 1000000000L;
            }
            return;
        }
        r.acceptFailureLogged = false;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Client c;
        c.fd = fd;
        formatPeer(addr, c.peer, sizeof c.peer);
        try {
            // Not zero-filled: pages are touched only as far as a client's traffic reaches.
            c.in = std::make_unique_for_overwrite<FrameBuffer>();
            c.out = std::make_unique_for_overwrite<std::uint8_t[]>(kOutputCap);
            if (r.clients.size() == r.clients.capacity())
                r.clients.reserve(2 * r.clients.size() + 16);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "duoscope-relay: no memory for a client from %s\n", c.peer);
            close(fd);
            continue;
        }
        c.in->used = 0;
        c.id = r.nextId;
        // Ids are never reused while the relay runs; after 2^31 - 1 connections they wrap.
        r.nextId = r.nextId == INT32_MAX ? 1 : r.nextId + 1;
        std::uint8_t assignment[wire::kIdAssignmentSize];
        wire::writeIdAssignment(assignment, c.id);
        queueOutput(c, assignment, sizeof assignment);
        std::fprintf(stderr, "duoscope-relay: client %d connected from %s\n", int(c.id), c.peer);
        r.clients.push_back(std::move(c));
    }
}

// Closes and forgets every client marked for dropping, logging why.
void removeDropped(Relay& r) {
    for (std::size_t i = r.clients.size(); i-- > 0;) {
        Client& c = r.clients[i];
        if (!c.dropReason) continue;
        close(c.fd);
        std::fprintf(stderr, "duoscope-relay: client %d (%s) %s\n", int(c.id), c.peer,
                     c.dropReason);
        if (i != r.clients.size() - 1) c = std::move(r.clients.back());
        r.clients.pop_back();
    }
}

// One turn: wait for sockets, read and forward, accept, write. False once a signal arrived.
bool runTurn(Relay& r) {
    const std::size_t count = r.clients.size();
    r.fds.resize(2 + count);
    r.fds[0] = {r.signalFd, POLLIN, 0};
    r.fds[1] = {r.acceptPaused ? -1 : r.listenFd, POLLIN, 0};
    for (std::size_t i = 0; i < count; ++i) {
        const Client& c = r.clients[i];
        const short events = short(POLLIN | (c.outStart < c.outEnd ? POLLOUT : 0));
        r.fds[2 + i] = {c.fd, events, 0};
    }
    int timeout = -1;
    if (r.acceptPaused) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long ms = (r.acceptResume.tv_sec - now.tv_sec) * 1000L +
                        (r.acceptResume.tv_nsec - now.tv_nsec) / 1000000L;
        r.acceptPaused = ms > 0;
        timeout = ms > 0 ? int(ms) : 0;
    }
    const int ready = poll(r.fds.data(), r.fds.size(), timeout);
    if (ready < 0) {
        if (errno == EINTR || errno == EAGAIN) return true;
        std::fprintf(stderr, "duoscope-relay: poll failed: %s\n", std::strerror(errno));
        return false;
    }
    if (r.fds[0].revents & POLLIN) return false;

    for (std::size_t i = 0; i < count; ++i) {
        if ((r.fds[2 + i].revents & (POLLIN | POLLHUP | POLLERR)) && !r.clients[i].dropReason)
            readClient(r, i);
    }
    if (r.fds[1].revents & POLLIN) acceptClients(r);
    // Everything read this turn goes out in one send per client.
    for (Client& c : r.clients) {
        if (!c.dropReason && c.outStart < c.outEnd && !flushOutput(c))
            drop(c, "dropped: send failed");
    }
    removeDropped(r);
    return true;
}

// Sends every client the relay's goodbye and waits, within a bound, for it to leave.
void sayGoodbye(Relay& r) {
    std::uint8_t goodbye[wire::kGoodbyeFrameSize];
    wire::writeGoodbye(goodbye, 0, 0); // closes the client's channel 0, from the relay itself
    for (Client& c : r.clients) {
        if (!queueOutput(c, goodbye, sizeof goodbye)) drop(c, "dropped: no room for goodbye");
    }
    for (int waited = 0; waited < kGoodbyeDrainMs; waited += 10) {
        r.fds.clear();
        for (Client& c : r.clients) {
            if (c.dropReason || c.outStart == c.outEnd) continue;
            if (!flushOutput(c))
                drop(c, "dropped: send failed");
            else if (c.outStart < c.outEnd)
                r.fds.push_back({c.fd, POLLOUT, 0});
        }
        if (r.fds.empty()) break;
        poll(r.fds.data(), r.fds.size(), 10);
    }
    for (Client& c : r.clients) {
        if (!c.dropReason) c.dropReason = "said goodbye";
        shutdown(c.fd, SHUT_WR);
    }
    removeDropped(r);
}

} // namespace

int main(int argc, char** argv) {
    int port = 9009;
    const char* bindText = "0.0.0.0";
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            usage(stdout);
            return 0;
        }
        if (std::strcmp(arg, "--port") == 0 && i + 1 < argc && parsePort(argv[i + 1], port)) {
            ++i;
        } else if (std::strcmp(arg, "--bind") == 0 && i + 1 < argc) {
            bindText = argv[++i];
        } else {
            std::fprintf(stderr, "duoscope-relay: bad argument '%s'\n", arg);
            usage(stderr);
            return 2;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(port));
    if (inet_pton(AF_INET, bindText, &addr.sin_addr) != 1) {
        std::fprintf(stderr, "duoscope-relay: bad address '%s'\n", bindText);
        usage(stderr);
        return 2;
    }

    // SIGINT and SIGTERM arrive as a readable descriptor in the poll set; a peer that goes
    // away never raises SIGPIPE (every send passes MSG_NOSIGNAL, and it is ignored anyway).
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    Relay r;
    r.signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    r.listenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (r.signalFd < 0 || r.listenFd < 0) {
        std::fprintf(stderr, "duoscope-relay: cannot start: %s\n", std::strerror(errno));
        return 1;
    }
    const int one = 1;
    setsockopt(r.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(r.listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(r.listenFd, SOMAXCONN) != 0) {
        if (errno == EADDRINUSE)
            std::fprintf(stderr, "duoscope-relay: port %d on %s is already in use\n", port,
                         bindText);
        else
            std::fprintf(stderr, "duoscope-relay: cannot listen on %s:%d: %s\n", bindText, port,
                         std::strerror(errno));
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(r.listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    char where[64];
    formatPeer(addr, where, sizeof where);
    std::fprintf(stderr, "duoscope-relay: listening on %s\n", where);

    while (runTurn(r)) {
    }
    signalfd_siginfo info{};
    const bool signalled = read(r.signalFd, &info, sizeof info) == ssize_t(sizeof info);
    std::fprintf(stderr, "duoscope-relay: %s, saying goodbye to %zu clients\n",
                 !signalled                 ? "stopping"
                 : info.ssi_signo == SIGINT ? "SIGINT"
                                            : "SIGTERM",
                 r.clients.size());
    sayGoodbye(r);
    close(r.listenFd);
    close(r.signalFd);
    return signalled ? 0 : 1;
}
