// duoscope-relay: accepts viewers on a TCP port, gives each an id, puts it in a room, and
// passes every framed message a viewer sends on to the other members of its room, bytes
// unchanged, once the frame is found to be in the sender's own name. One thread, epoll(7),
// non-blocking sockets; nothing in a turn walks all clients, so idle connections cost nothing.
// Forwarding allocates nothing once a client's output room has grown to its traffic.
#include "address.h"
#include "clients.h"
#include "frames.h"
#include "log.h"
#include "options.h"
#include "rooms.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
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
// Descriptors kept back from clients: the listener, the signals, epoll, the log, a spare.
constexpr int kReservedFds = 16;
// After the listener runs out of descriptors, accepting pauses this long instead of spinning.
constexpr int kAcceptPauseMs = 100;
// How long the goodbyes at shutdown may take to drain to slow clients.
constexpr int kGoodbyeDrainMs = 2000;
// Bytes read from one client in one turn, past what it had buffered.
constexpr std::size_t kReadChunk = 16 * 1024;
// Readiness reports taken per wait: many, so a busy turn costs one system call.
constexpr int kEvents = 4096;
// The epoll data of the two descriptors that are not clients (a client's is its Client*).
constexpr std::uint64_t kSignalTag = 0, kListenerTag = 1;

struct Relay {
    Options options;
    int listenFd = -1;
    int signalFd = -1;
    int epollFd = -1;
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<Client*> toFlush;  // clients given output this turn, to send to at its end
    std::vector<Client*> toRemove; // clients marked for dropping
    Client* oldestBegun = nullptr; // the clients with a begun frame, oldest first
    Client* newestBegun = nullptr;
    std::vector<epoll_event> events = std::vector<epoll_event>(kEvents);
    Rooms rooms;
    std::unordered_map<AddressKey, int, AddressKeyHash> perAddress; // connections from each
    std::int32_t nextId = 1;
    std::int64_t now = 0;          // ms, read once a turn
    std::int64_t acceptResume = 0; // while accepting pauses: when to watch the listener again
    bool acceptPaused = false;
    bool acceptFailureLogged = false;
    std::int64_t nextStats = 0;
    Stats stats;
    int stopSignal = 0;
    std::unique_ptr<std::uint8_t[]> scratch = // a client's small input, then what one read got
        std::make_unique<std::uint8_t[]>(kSmallInput + kReadChunk);
};

// Marks c for dropping with the reason the log gives; the first reason stands.
void drop(Relay& r, Client& c, DropKind kind, const char* reason) {
    if (c.dropReason[0]) return;
    std::snprintf(c.dropReason, sizeof c.dropReason, "%s", reason);
    ++r.stats.drops[int(kind)];
    r.toRemove.push_back(&c);
}
bool dropped(const Client& c) {
    return c.dropReason[0] != '\0';
}

// Watches c for writable only while its output waits for room in the socket: arming it on
// a short write and disarming it once drained, never per message.
void watchWritable(Relay& r, Client& c, bool on) {
    if (c.waitsOut == on) return;
    c.waitsOut = on;
    epoll_event ev{};
    ev.events = EPOLLIN | (on ? EPOLLOUT : 0u);
    ev.data.ptr = &c;
    epoll_ctl(r.epollFd, EPOLL_CTL_MOD, c.fd, &ev);
}

// Notes that c has output to send at the end of the turn.
void flushAtEnd(Relay& r, Client& c) {
    if (c.toFlush) return;
    c.toFlush = true;
    r.toFlush.push_back(&c);
}

// Sends c what its socket takes; a client whose socket filled is watched for writable until
// it drains.
void sendNow(Relay& r, Client& c) {
    if (!flushOutput(c, r.stats.bytesOut))
        drop(r, c, DropKind::None, "dropped: send failed");
    else
        watchWritable(r, c, hasOutput(c));
}

// Queues a frame from sender for c; drops c when its backlog passes the cap. The first frame
// c gets in a turn is sent at once, so it does not wait for the rest of a busy turn; the later
// ones go at the turn's end, together, in one send.
void deliver(Relay& r, Client& c, const std::uint8_t* frame, std::size_t size, std::int32_t sender,
             bool position) {
    if (dropped(c)) return;
    if (!queueFrame(c, frame, size, sender, position, kOutputCap))
        return drop(r, c, DropKind::Backlog, "dropped: unsent output over 65536 bytes");
    ++r.stats.forwarded;
    if (c.toFlush || c.waitsOut) return;
    flushAtEnd(r, c);
    sendNow(r, c);
}

// One complete frame from c: charged to its rate, checked, and forwarded to its room. False
// once c is to be dropped, so nothing after it is forwarded.
bool onFrame(Relay& r, Client& c, const std::uint8_t* frame, std::size_t size) {
    ++r.stats.framesIn;
    const double rate = r.options.maxRate;
    c.tokens = std::min(2 * rate, c.tokens + double(r.now - c.tokensAt) * rate / 1000);
    c.tokensAt = r.now;
    const double cost = double((size + 1023) / 1024);
    if (c.tokens < cost) {
        char why[80];
        std::snprintf(why, sizeof why, "dropped: over %g messages a second", rate);
        drop(r, c, DropKind::Rate, why);
        return false;
    }
    c.tokens -= cost;
    char why[64];
    const Verdict verdict = checkFrame(frame, size, c.id, why, sizeof why);
    if (verdict == Verdict::Forged) {
        char reason[80];
        std::snprintf(reason, sizeof reason, "dropped: %s", why);
        drop(r, c, DropKind::Forged, reason);
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
        if (m != &c) deliver(r, *m, frame, size, c.id, position);
    return true;
}

// Takes c out of the list of clients with a begun frame.
void unlinkBegun(Relay& r, Client& c) {
    if (!c.begun) return;
    (c.olderBegun ? c.olderBegun->newerBegun : r.oldestBegun) = c.newerBegun;
    (c.newerBegun ? c.newerBegun->olderBegun : r.newestBegun) = c.olderBegun;
    c.olderBegun = c.newerBegun = nullptr;
    c.begun = false;
}

// c began a frame now: it goes to the end of the list, whose order is that of frameBegun.
void linkBegun(Relay& r, Client& c) {
    unlinkBegun(r, c);
    c.olderBegun = r.newestBegun;
    (r.newestBegun ? r.newestBegun->newerBegun : r.oldestBegun) = &c;
    r.newestBegun = &c;
    c.begun = true;
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
    if (n == 0) return drop(r, c, DropKind::None, "disconnected");
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        return drop(r, c, DropKind::None,
                    errno == ECONNRESET ? "disconnected (reset)" : "dropped: receive failed");
    }
    r.stats.bytesIn += std::uint64_t(n);
    const std::size_t had = c.inUsed, length = had + std::size_t(n);
    std::size_t used = 0;
    if (!splitFrames(buf, length, used, [&](const std::uint8_t* frame, std::size_t size) {
            return onFrame(r, c, frame, size);
        }))
        drop(r, c, DropKind::Forged, "dropped: broken framing");
    if (dropped(c)) return;
    // What is left is the start of one frame, shorter than the largest.
    c.inUsed = length - used;
    if (c.inUsed == 0) {
        unlinkBegun(r, c);
    } else if (used > 0 || had == 0) {
        c.frameBegun = r.now;
        linkBegun(r, c);
    }
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
    ++r.stats.refused;
    char why[64];
    std::snprintf(why, sizeof why, format, count);
    logLine(LogKind::Refusal, r.now, "refused %s: %s", peer, why);
}

void admit(Relay& r, int fd, const sockaddr_storage& addr, const AddressKey& key) {
    auto owned = std::make_unique<Client>();
    Client& c = *owned;
    c.fd = fd;
    c.address = key;
    formatAddress(addr, c.peer, sizeof c.peer);
    c.id = r.nextId;
    // Ids are never reused while the relay runs; after 2^31 - 1 connections they wrap.
    r.nextId = r.nextId == INT32_MAX ? 1 : r.nextId + 1;
    c.tokens = 2 * r.options.maxRate;
    c.tokensAt = r.now;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = &c;
    if (epoll_ctl(r.epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        refuse(r, fd, c.peer, "cannot watch it (%d)", errno);
        return;
    }
    c.index = r.clients.size();
    r.clients.push_back(std::move(owned));
    ++r.perAddress[c.address];
    std::uint8_t assignment[wire::kIdAssignmentSize];
    wire::writeIdAssignment(assignment, c.id);
    queueFrame(c, assignment, sizeof assignment, 0, false, kOutputCap);
    flushAtEnd(r, c);
    logLine(LogKind::Connect, r.now, "client %d connected from %s", int(c.id), c.peer);
    const Room& room = join(r.rooms, c);
    logLine(LogKind::Room, r.now, "client %d joined room %d (%zu in it)", int(c.id), room.id,
            room.members.size());
    // The newcomer sees each member where it stands, not at its start until it moves.
    for (const Client* m : room.members)
        if (m->hasLastPosition) deliver(r, c, m->lastPosition, kPositionSize, m->id, true);
}

// Stops or resumes watching the listener (level-triggered, a listener whose accept fails
// for want of descriptors would report readable at once, again and again).
void watchListener(Relay& r, bool on) {
    epoll_event ev{};
    ev.events = on ? EPOLLIN : 0u;
    ev.data.u64 = kListenerTag;
    epoll_ctl(r.epollFd, EPOLL_CTL_MOD, r.listenFd, &ev);
    r.acceptPaused = !on;
}

void acceptClients(Relay& r) {
    // A bounded batch per turn, so a connection storm cannot starve the connected clients.
    for (int batch = 0; batch < 64; ++batch) {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        const int fd = accept4(r.listenFd, reinterpret_cast<sockaddr*>(&addr), &len,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // Out of descriptors or memory: the pending connection stays queued; accepting
            // pauses for a while.
            if (!r.acceptFailureLogged)
                std::fprintf(stderr, "duoscope-relay: cannot accept: %s (retrying)\n",
                             std::strerror(errno));
            r.acceptFailureLogged = true;
            r.acceptResume = r.now + kAcceptPauseMs;
            watchListener(r, false);
            return;
        }
        r.acceptFailureLogged = false;
        char peer[48];
        formatAddress(addr, peer, sizeof peer);
        const AddressKey key = addressKey(addr);
        const auto from = r.perAddress.find(key);
        if (int(r.clients.size()) >= r.options.maxClients) {
            refuse(r, fd, peer, "%d clients connected", int(r.clients.size()));
        } else if (from != r.perAddress.end() && from->second >= r.options.maxPerAddress) {
            refuse(r, fd, peer, "%d connections from that address", from->second);
        } else {
            setClientOptions(fd);
            admit(r, fd, addr, key);
        }
    }
}

// Closes and forgets every client marked for dropping, logging why and its room's change.
void removeDropped(Relay& r) {
    for (Client* dead : r.toRemove) {
        Client& c = *dead;
        close(c.fd); // which also takes it out of the epoll set
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
        unlinkBegun(r, c);
        const std::size_t i = c.index;
        if (i != r.clients.size() - 1) {
            r.clients[i] = std::move(r.clients.back());
            r.clients[i]->index = i;
        }
        r.clients.pop_back();
    }
    r.toRemove.clear();
}

// Drops the clients whose begun frame is overdue, oldest first; the milliseconds until the
// next one is, or -1 when no frame is begun.
int dropOverdue(Relay& r) {
    const auto limit = std::int64_t(r.options.frameTimeout * 1000);
    while (Client* c = r.oldestBegun) {
        const std::int64_t left = c->frameBegun + limit - r.now;
        if (left > 0) return int(left);
        unlinkBegun(r, *c);
        char why[64];
        std::snprintf(why, sizeof why, "dropped: frame unfinished after %g s",
                      r.options.frameTimeout);
        drop(r, *c, DropKind::Timeout, why);
    }
    return -1;
}

// Prints the stats line when its time came; the milliseconds until the next, or -1.
int statsDue(Relay& r) {
    if (r.options.stats <= 0) return -1;
    if (r.now >= r.nextStats) {
        logStats(r.stats, r.clients.size(), r.rooms.rooms.size(), r.now);
        r.nextStats = r.now + std::int64_t(r.options.stats * 1000);
    }
    return int(r.nextStats - r.now);
}

// SIGUSR1 prints the stats line; SIGINT and SIGTERM end the loop.
void readSignals(Relay& r) {
    signalfd_siginfo info{};
    while (read(r.signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (info.ssi_signo == SIGUSR1)
            logStats(r.stats, r.clients.size(), r.rooms.rooms.size(), r.now);
        else
            r.stopSignal = int(info.ssi_signo);
    }
}

// Sends each client given output this turn what is left of it, in one send for all it got.
void flushClients(Relay& r) {
    for (Client* c : r.toFlush) {
        c->toFlush = false;
        if (!dropped(*c) && hasOutput(*c)) sendNow(r, *c);
    }
    r.toFlush.clear();
}

int earliest(int a, int b) {
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

// One turn: wait for sockets, read and forward, accept, write. False once told to stop.
//
// Level-triggered: a client with more input than one read takes stays ready and is read
// again next turn, after the others, so one fast sender cannot starve the rest and no list
// of unfinished clients is needed. Writable is watched only while a backlog waits, so the
// epoll set changes when a backlog begins and ends, never per message.
bool runTurn(Relay& r) {
    r.now = nowMs();
    int timeout = earliest(dropOverdue(r), logHeldBack(r.now));
    timeout = earliest(timeout, statsDue(r));
    if (r.acceptPaused && r.acceptResume <= r.now) watchListener(r, true);
    if (r.acceptPaused) timeout = earliest(timeout, int(r.acceptResume - r.now));
    removeDropped(r);
    const int ready = epoll_wait(r.epollFd, r.events.data(), int(r.events.size()), timeout);
    if (ready < 0) {
        if (errno == EINTR) return true;
        std::fprintf(stderr, "duoscope-relay: epoll_wait failed: %s\n", std::strerror(errno));
        return false;
    }
    r.now = nowMs();
    bool accept = false;
    for (int e = 0; e < ready; ++e) {
        const epoll_event& ev = r.events[std::size_t(e)];
        if (ev.data.u64 == kSignalTag) {
            readSignals(r);
        } else if (ev.data.u64 == kListenerTag) {
            accept = true;
        } else {
            Client& c = *static_cast<Client*>(ev.data.ptr);
            if (dropped(c)) continue;
            if (ev.events & EPOLLOUT) flushAtEnd(r, c);
            if (ev.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) readClient(r, c);
        }
    }
    if (accept && !r.acceptPaused) acceptClients(r);
    flushClients(r);
    removeDropped(r);
    return r.stopSignal == 0;
}

// Sends every client the relay's goodbye and waits, within a bound, for it to leave.
void sayGoodbye(Relay& r) {
    std::uint8_t goodbye[wire::kGoodbyeFrameSize];
    wire::writeGoodbye(goodbye, 0, 0); // closes the client's channel 0, from the relay itself
    for (auto& c : r.clients) {
        if (!queueFrame(*c, goodbye, sizeof goodbye, 0, false, kOutputCap + sizeof goodbye))
            drop(r, *c, DropKind::Backlog, "dropped: no room for goodbye");
    }
    std::vector<pollfd> waiting;
    for (int waited = 0; waited < kGoodbyeDrainMs; waited += 10) {
        waiting.clear();
        for (auto& c : r.clients) {
            if (dropped(*c) || !hasOutput(*c)) continue;
            if (!flushOutput(*c, r.stats.bytesOut))
                drop(r, *c, DropKind::None, "dropped: send failed");
            else if (hasOutput(*c))
                waiting.push_back({c->fd, POLLOUT, 0});
        }
        if (waiting.empty()) break;
        poll(waiting.data(), waiting.size(), 10);
    }
    for (auto& c : r.clients) {
        drop(r, *c, DropKind::None, "said goodbye");
        shutdown(c->fd, SHUT_WR);
    }
    removeDropped(r);
}

// Every client is a descriptor: takes all the process may have, and says how many clients
// that makes room for; got is the limit it ended with.
int raiseDescriptorLimit(int maxClients, rlim_t& got) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    got = limit.rlim_cur;
    const rlim_t fds = std::min<rlim_t>(limit.rlim_cur, 1 << 24);
    const int room = int(std::max<rlim_t>(1, fds - std::min<rlim_t>(fds, kReservedFds)));
    return maxClients == 0 ? room : std::min(maxClients, room);
}

// The listening socket on the bound address; an IPv6 one takes IPv4 clients too (as
// IPv4-mapped addresses), so "::" is every interface of both. -1 after saying why not.
int listenOn(const Options& o) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    parseAddress(o.bind, o.port, addr, len);
    const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1, zero = 0;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd >= 0 && addr.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        if (errno == EADDRINUSE)
            std::fprintf(stderr, "duoscope-relay: port %d on %s is already in use\n", o.port,
                         o.bind);
        else
            std::fprintf(stderr, "duoscope-relay: cannot listen on %s port %d: %s\n", o.bind,
                         o.port, std::strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    char where[64];
    formatAddress(addr, where, sizeof where);
    std::fprintf(stderr, "duoscope-relay: listening on %s\n", where);
    return fd;
}

} // namespace

int main(int argc, char** argv) {
    Relay r;
    if (const int parsed = parseOptions(argc, argv, r.options)) return parsed == 1 ? 0 : 2;
    Options& o = r.options;
    r.rooms.size = o.roomSize == 0 ? SIZE_MAX : std::size_t(o.roomSize);
    rlim_t descriptors = 0;
    o.maxClients = raiseDescriptorLimit(o.maxClients, descriptors);

    // SIGINT, SIGTERM and SIGUSR1 arrive as a readable descriptor in the epoll set; a peer
    // that goes away never raises SIGPIPE (every send passes MSG_NOSIGNAL, and it is ignored
    // anyway).
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals, nullptr);

    r.signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    r.epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (r.signalFd < 0 || r.epollFd < 0) {
        std::fprintf(stderr, "duoscope-relay: cannot start: %s\n", std::strerror(errno));
        return 1;
    }
    r.listenFd = listenOn(o);
    if (r.listenFd < 0) return 1;
    std::fprintf(stderr, "duoscope-relay: descriptor limit %llu; up to %d clients\n",
                 static_cast<unsigned long long>(descriptors), o.maxClients);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kSignalTag;
    epoll_ctl(r.epollFd, EPOLL_CTL_ADD, r.signalFd, &ev);
    ev.data.u64 = kListenerTag;
    epoll_ctl(r.epollFd, EPOLL_CTL_ADD, r.listenFd, &ev);
    r.now = r.stats.since = nowMs();
    r.nextStats = r.now + std::int64_t(o.stats * 1000);

    while (runTurn(r)) {
    }
    std::fprintf(stderr, "duoscope-relay: %s, saying goodbye to %zu clients\n",
                 r.stopSignal == SIGINT    ? "SIGINT"
                 : r.stopSignal == SIGTERM ? "SIGTERM"
                                           : "stopping",
                 r.clients.size());
    sayGoodbye(r);
    close(r.listenFd);
    close(r.signalFd);
    close(r.epollFd);
    return r.stopSignal != 0 ? 0 : 1;
}
