// duoscope-relay: accepts viewers on a TCP port, gives each an id, puts it in a room, and
// passes every framed message a viewer sends on to the other members of its room, bytes
// unchanged, once the frame is found to be in the sender's own name. One thread, poll(2),
// non-blocking sockets. Forwarding allocates nothing once a client's output room has grown to
// its traffic.
#include "clients.h"
#include "frames.h"
#include "log.h"
#include "options.h"
#include "rooms.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using namespace relay;

// Unsent output other than positions a client may have before it counts as a reader that
// stopped and is dropped. Viewers send positions (kept one per sender) and goodbyes, so an
// honest backlog stays far below this.
constexpr std::size_t kOutputCap = 64 * 1024;
// Descriptors kept back from clients: the listener, the signals, the log, a spare.
constexpr int kReservedFds = 16;
// After the listener runs out of descriptors, accepting pauses this long instead of spinning.
constexpr int kAcceptPauseMs = 100;
// How long the goodbyes at shutdown may take to drain to slow clients.
constexpr int kGoodbyeDrainMs = 2000;
// Bytes read from one client in one turn, past what it had buffered.
constexpr std::size_t kReadChunk = 16 * 1024;

struct Relay {
    Options options;
    int listenFd = -1;
    int signalFd = -1;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<pollfd> fds; // [0] signals, [1] listener, [2 + i] clients[i]
    Rooms rooms;
    std::unordered_map<std::uint32_t, int> perAddress; // connections from each address
    std::int32_t nextId = 1;
    std::int64_t now = 0;          // ms, read once a turn
    std::int64_t acceptResume = 0; // while accepting pauses: when to watch the listener again
    bool acceptFailureLogged = false;
    std::unique_ptr<std::uint8_t[]> scratch = // a client's small input, then what one read got
        std::make_unique<std::uint8_t[]>(kSmallInput + kReadChunk);
};

void formatAddress(const sockaddr_in& a, char* out, std::size_t size) {
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    std::snprintf(out, size, "%s:%u", host, unsigned(ntohs(a.sin_port)));
}

void drop(Client& c, const char* reason) {
    if (!c.dropReason[0]) std::snprintf(c.dropReason, sizeof c.dropReason, "%s", reason);
}
bool dropped(const Client& c) {
    return c.dropReason[0] != '\0';
}

// Queues a frame from sender for c; drops c when its backlog passes the cap.
void deliver(Client& c, const std::uint8_t* frame, std::size_t size, std::int32_t sender,
             bool position) {
    if (!dropped(c) && !queueFrame(c, frame, size, sender, position, kOutputCap))
        drop(c, "dropped: unsent output over 65536 bytes");
}

// One complete frame from c: charged to its rate, checked, and forwarded to its room. False
// once c is to be dropped, so nothing after it is forwarded.
bool onFrame(Relay& r, Client& c, const std::uint8_t* frame, std::size_t size) {
    const double rate = r.options.maxRate;
    c.tokens = std::min(2 * rate, c.tokens + double(r.now - c.tokensAt) * rate / 1000);
    c.tokensAt = r.now;
    const double cost = double((size + 1023) / 1024);
    if (c.tokens < cost) {
        char why[80];
        std::snprintf(why, sizeof why, "dropped: over %g messages a second", rate);
        drop(c, why);
        return false;
    }
    c.tokens -= cost;
    char why[64];
    const Verdict verdict = checkFrame(frame, size, c.id, why, sizeof why);
    if (verdict == Verdict::Forged) {
        char reason[80];
        std::snprintf(reason, sizeof reason, "dropped: %s", why);
        drop(c, reason);
        return false;
    }
    if (verdict == Verdict::NotFinite) {
        if (c.notFinite++ == 0)
            logLine(LogKind::Position, r.now,
                    "client %d (%s) sent a position that is not finite; not forwarded", int(c.id),
                    c.peer);
        return true;
    }
    const bool position = isPosition(frame, size);
    if (position) {
        std::memcpy(c.lastPosition, frame, size);
        c.hasLastPosition = true;
    }
    for (Client* m : c.room->members)
        if (m != &c) deliver(*m, frame, size, c.id, position);
    return true;
}

// Reads what the socket has, forwards the complete frames and keeps the rest. A frame larger
// than small input gets a buffer of its own until it is complete.
void readClient(Relay& r, Client& c) {
    std::uint8_t* buf = c.big ? c.big.get() : r.scratch.get();
    const std::size_t room = c.big ? std::size_t(wire::kMaxFrameSize) : kSmallInput + kReadChunk;
    if (!c.big) std::memcpy(buf, c.small, c.inUsed);
    ssize_t n;
    do {
        n = recv(c.fd, buf + c.inUsed, room - c.inUsed, 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return drop(c, "disconnected");
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        return drop(c, errno == ECONNRESET ? "disconnected (reset)" : "dropped: receive failed");
    }
    const std::size_t had = c.inUsed, length = had + std::size_t(n);
    std::size_t used = 0;
    if (!splitFrames(buf, length, used, [&](const std::uint8_t* frame, std::size_t size) {
            return onFrame(r, c, frame, size);
        }))
        drop(c, "dropped: broken framing");
    if (dropped(c)) return;
    // What is left is the start of one frame, shorter than the largest.
    c.inUsed = length - used;
    if (c.inUsed > 0 && (used > 0 || had == 0)) c.frameBegun = r.now;
    if (c.inUsed <= kSmallInput) {
        std::memcpy(c.small, buf + used, c.inUsed);
        c.big.reset();
    } else if (c.big) {
        std::memmove(buf, buf + used, c.inUsed);
    } else {
        c.big = std::make_unique_for_overwrite<std::uint8_t[]>(wire::kMaxFrameSize);
        std::memcpy(c.big.get(), buf + used, c.inUsed);
    }
}

// Sets the options every client socket carries: positions leave at once; the kernel holds at
// most 64 KiB (doubled by it) each way, unsent bytes for a reader that stopped and unread ones
// from a sender, instead of growing its buffers to megabytes (a viewer sends 1.2 KB a
// second); and a peer that vanished is found by keepalive within about a minute (30 s idle,
// then 5 probes 5 s apart).
void setClientOptions(int fd) {
    const int one = 1, buffer = 64 * 1024, idle = 30, interval = 5, probes = 5;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

// Closes a connection past a cap at once, with a reset, so it holds no descriptor or state.
void refuse(Relay& r, int fd, const char* peer, const char* format, int count) {
    const linger abort = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
    char why[64];
    std::snprintf(why, sizeof why, format, count);
    logLine(LogKind::Refusal, r.now, "refused %s: %s", peer, why);
}

void admit(Relay& r, int fd, const sockaddr_in& addr) {
    auto owned = std::make_unique<Client>();
    Client& c = *owned;
    c.fd = fd;
    c.address = addr.sin_addr.s_addr;
    formatAddress(addr, c.peer, sizeof c.peer);
    c.id = r.nextId;
    // Ids are never reused while the relay runs; after 2^31 - 1 connections they wrap.
    r.nextId = r.nextId == INT32_MAX ? 1 : r.nextId + 1;
    c.tokens = 2 * r.options.maxRate;
    c.tokensAt = r.now;
    ++r.perAddress[c.address];
    std::uint8_t assignment[wire::kIdAssignmentSize];
    wire::writeIdAssignment(assignment, c.id);
    queueFrame(c, assignment, sizeof assignment, 0, false, kOutputCap);
    logLine(LogKind::Connect, r.now, "client %d connected from %s", int(c.id), c.peer);
    const Room& room = join(r.rooms, c);
    logLine(LogKind::Room, r.now, "client %d joined room %d (%zu in it)", int(c.id), room.id,
            room.members.size());
    // The newcomer sees each member where it stands, not at its start until it moves.
    for (const Client* m : room.members)
        if (m->hasLastPosition) deliver(c, m->lastPosition, kPositionSize, m->id, true);
    r.clients.push_back(std::move(owned));
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
            r.acceptResume = r.now + kAcceptPauseMs;
            return;
        }
        r.acceptFailureLogged = false;
        char peer[24];
        formatAddress(addr, peer, sizeof peer);
        const auto from = r.perAddress.find(addr.sin_addr.s_addr);
        if (int(r.clients.size()) >= r.options.maxClients) {
            refuse(r, fd, peer, "%d clients connected", int(r.clients.size()));
        } else if (from != r.perAddress.end() && from->second >= r.options.maxPerAddress) {
            refuse(r, fd, peer, "%d connections from that address", from->second);
        } else {
            setClientOptions(fd);
            admit(r, fd, addr);
        }
    }
}

// Closes and forgets every client marked for dropping, logging why and its room's change.
void removeDropped(Relay& r) {
    for (std::size_t i = r.clients.size(); i-- > 0;) {
        Client& c = *r.clients[i];
        if (!dropped(c)) continue;
        close(c.fd);
        if (c.notFinite > 0)
            logLine(LogKind::Drop, r.now, "client %d (%s) %s; %ld positions not finite", int(c.id),
                    c.peer, c.dropReason, c.notFinite);
        else
            logLine(LogKind::Drop, r.now, "client %d (%s) %s", int(c.id), c.peer, c.dropReason);
        const int roomId = c.room ? c.room->id : 0;
        const std::size_t left = leave(r.rooms, c);
        logLine(LogKind::Room, r.now, "client %d left room %d (%zu in it)", int(c.id), roomId,
                left);
        if (--r.perAddress[c.address] == 0) r.perAddress.erase(c.address);
        if (i != r.clients.size() - 1) r.clients[i] = std::move(r.clients.back());
        r.clients.pop_back();
    }
}

// Drops the clients whose begun frame is overdue; the milliseconds until the next one is, or
// -1 when no frame is begun.
int dropOverdue(Relay& r) {
    const auto limit = std::int64_t(r.options.frameTimeout * 1000);
    std::int64_t next = -1;
    for (auto& owned : r.clients) {
        Client& c = *owned;
        if (c.inUsed == 0 || dropped(c)) continue;
        const std::int64_t left = c.frameBegun + limit - r.now;
        if (left <= 0) {
            char why[64];
            std::snprintf(why, sizeof why, "dropped: frame unfinished after %g s",
                          r.options.frameTimeout);
            drop(c, why);
        } else if (next < 0 || left < next) {
            next = left;
        }
    }
    return int(next);
}

int earliest(int a, int b) {
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

// One turn: wait for sockets, read and forward, accept, write. False once a signal arrived.
bool runTurn(Relay& r) {
    r.now = nowMs();
    const bool acceptPaused = r.acceptResume > r.now;
    int timeout = earliest(dropOverdue(r), logHeldBack(r.now));
    if (acceptPaused) timeout = earliest(timeout, int(r.acceptResume - r.now));
    removeDropped(r);
    const std::size_t count = r.clients.size();
    r.fds.resize(2 + count);
    r.fds[0] = {r.signalFd, POLLIN, 0};
    r.fds[1] = {acceptPaused ? -1 : r.listenFd, POLLIN, 0};
    for (std::size_t i = 0; i < count; ++i) {
        const Client& c = *r.clients[i];
        r.fds[2 + i] = {c.fd, short(POLLIN | (hasOutput(c) ? POLLOUT : 0)), 0};
    }
    const int ready = poll(r.fds.data(), r.fds.size(), timeout);
    if (ready < 0) {
        if (errno == EINTR || errno == EAGAIN) return true;
        std::fprintf(stderr, "duoscope-relay: poll failed: %s\n", std::strerror(errno));
        return false;
    }
    if (r.fds[0].revents & POLLIN) return false;
    r.now = nowMs();
    for (std::size_t i = 0; i < count; ++i) {
        Client& c = *r.clients[i];
        if ((r.fds[2 + i].revents & (POLLIN | POLLHUP | POLLERR)) && !dropped(c)) readClient(r, c);
    }
    if (r.fds[1].revents & POLLIN) acceptClients(r);
    // Everything read this turn goes out in one send per client.
    for (auto& c : r.clients) {
        if (!dropped(*c) && hasOutput(*c) && !flushOutput(*c)) drop(*c, "dropped: send failed");
    }
    removeDropped(r);
    return true;
}

// Sends every client the relay's goodbye and waits, within a bound, for it to leave.
void sayGoodbye(Relay& r) {
    std::uint8_t goodbye[wire::kGoodbyeFrameSize];
    wire::writeGoodbye(goodbye, 0, 0); // closes the client's channel 0, from the relay itself
    for (auto& c : r.clients) {
        if (!queueFrame(*c, goodbye, sizeof goodbye, 0, false, kOutputCap + sizeof goodbye))
            drop(*c, "dropped: no room for goodbye");
    }
    for (int waited = 0; waited < kGoodbyeDrainMs; waited += 10) {
        r.fds.clear();
        for (auto& c : r.clients) {
            if (dropped(*c) || !hasOutput(*c)) continue;
            if (!flushOutput(*c))
                drop(*c, "dropped: send failed");
            else if (hasOutput(*c))
                r.fds.push_back({c->fd, POLLOUT, 0});
        }
        if (r.fds.empty()) break;
        poll(r.fds.data(), r.fds.size(), 10);
    }
    for (auto& c : r.clients) {
        drop(*c, "said goodbye");
        shutdown(c->fd, SHUT_WR);
    }
    removeDropped(r);
}

} // namespace

int main(int argc, char** argv) {
    Relay r;
    if (const int parsed = parseOptions(argc, argv, r.options)) return parsed == 1 ? 0 : 2;
    Options& o = r.options;
    r.rooms.size = o.roomSize == 0 ? SIZE_MAX : std::size_t(o.roomSize);
    // Every client is a descriptor: take all the process may have.
    rlimit fdLimit{};
    getrlimit(RLIMIT_NOFILE, &fdLimit);
    fdLimit.rlim_cur = fdLimit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &fdLimit);
    getrlimit(RLIMIT_NOFILE, &fdLimit);
    if (o.maxClients == 0)
        o.maxClients =
            int(std::max<rlim_t>(1, std::min<rlim_t>(fdLimit.rlim_cur, 1 << 24) - kReservedFds));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(o.port));
    inet_pton(AF_INET, o.bind, &addr.sin_addr);

    // SIGINT and SIGTERM arrive as a readable descriptor in the poll set; a peer that goes
    // away never raises SIGPIPE (every send passes MSG_NOSIGNAL, and it is ignored anyway).
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

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
            std::fprintf(stderr, "duoscope-relay: port %d on %s is already in use\n", o.port,
                         o.bind);
        else
            std::fprintf(stderr, "duoscope-relay: cannot listen on %s:%d: %s\n", o.bind, o.port,
                         std::strerror(errno));
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(r.listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    char where[24];
    formatAddress(addr, where, sizeof where);
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
