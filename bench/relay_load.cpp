#include "relay_load.h"

#include "net/wire.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace load {

namespace {

constexpr std::size_t kMessage = wire::kHeaderSize + wire::kPositionBodyLength;
// Latency histogram: 10 us bins up to 100 ms, then 1 ms bins up to 10 s.
constexpr std::int64_t kFineNs = 10'000, kCoarseNs = 1'000'000, kFineUpTo = 100'000'000;
constexpr std::size_t kFine = kFineUpTo / kFineNs, kBins = kFine + 9900;
constexpr std::int64_t kWarmupNs = 500'000'000;
constexpr std::int64_t kLateNs = 10'000'000;
constexpr std::int64_t kDrainNs = 2'000'000'000, kDrainQuietNs = 300'000'000;
// Sends between two looks at the sockets, so that a generator behind its schedule still reads.
constexpr int kSendBatch = 256;
// Connections begun and not yet ready at once, while setting up.
constexpr int kConnecting = 256;
// An unfinished frame or line kept from one read to the next (NATS's INFO line is the longest).
constexpr std::size_t kCarry = 2048;
constexpr std::uint64_t kLogKey = ~0ull;

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Send times travel as nanoseconds since this epoch in the position's x and y, 24 bits each,
// so both stay whole, finite floats that the relay's checks pass as any position.
const std::int64_t s_epoch = nowNs();

void writeMessage(std::uint8_t* msg, std::int32_t id, std::int64_t sentAt) {
    const std::int64_t t = sentAt - s_epoch;
    wire::writeHeader(msg, 0, id, wire::kPositionBodyLength);
    wire::writeBodyWords(msg + wire::kHeaderSize, wire::kTypePosition, 0, id);
    wire::writePosition(msg + wire::kHeaderSize, {id, float(t >> 24), float(t & 0xffffff), 0, 0});
}

std::int64_t sentAtOf(const std::uint8_t* msg) {
    wire::Position p{};
    wire::readPosition(msg + wire::kHeaderSize, wire::kPositionBodyLength, p);
    return s_epoch + (std::int64_t(p.x) << 24 | std::int64_t(p.y));
}

// The server process: its output (stdout and stderr) is read all along so it never blocks.
struct Process {
    pid_t pid = -1;
    int log = -1, port = 0;
    std::string text;
};

// Reads the server's output until `ready` and the end of its line are in it; false when the
// server ended or said nothing of the kind within 10 s.
bool awaitLine(Process& p, const char* ready) {
    const std::int64_t deadline = nowNs() + 10'000'000'000;
    for (;;) {
        const std::size_t at = p.text.find(ready);
        if (at != std::string::npos && p.text.find('\n', at) != std::string::npos) return true;
        pollfd pf{p.log, POLLIN, 0};
        const std::int64_t left = deadline - nowNs();
        char buf[4096];
        if (left <= 0 || poll(&pf, 1, int(left / 1'000'000) + 1) <= 0) return false;
        const ssize_t n = read(p.log, buf, sizeof buf);
        if (n <= 0) return false;
        p.text.append(buf, std::size_t(n));
    }
}

// A port nothing listens on now, for nats-server, which cannot pick one itself.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool startServer(Server s, int roomSize, Process& p) {
    const std::string room = std::to_string(roomSize);
    const std::string port = s == Server::Nats ? std::to_string(freePort()) : "";
    std::vector<std::string> args;
    if (s == Server::Relay)
        args = {DUO_RELAY_PATH, "--port", "0", "--bind", "127.0.0.1", "--room-size", room};
    else if (s == Server::Bare)
        args = {DUO_BROADCASTER_PATH, room};
    else // its defaults otherwise: no authentication, 1 MB largest payload
        args = {natsPath(), "-a", "127.0.0.1", "-p", port};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    p.pid = fork();
    if (p.pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    p.log = fds[0];
    if (!awaitLine(p, s == Server::Nats ? "Server is ready" : "listening on 127.0.0.1:"))
        return false;
    p.port = s == Server::Nats ? std::atoi(port.c_str())
                               : std::atoi(p.text.c_str() + p.text.find("127.0.0.1:") + 10);
    fcntl(p.log, F_SETFL, O_NONBLOCK);
    return true;
}

void drainLog(Process& p) {
    char buf[4096];
    for (ssize_t n; (n = read(p.log, buf, sizeof buf)) > 0;)
        if (p.text.size() < (1u << 20)) p.text.append(buf, std::size_t(n));
}

// Stops the server and reads its output to the end; SIGKILL when SIGTERM is not enough in 5 s.
void stopServer(Process& p) {
    kill(p.pid, SIGTERM);
    const std::int64_t deadline = nowNs() + 5'000'000'000;
    for (pollfd pf{p.log, POLLIN, 0}; poll(&pf, 1, 100) >= 0;) {
        char buf[4096];
        const ssize_t n = read(p.log, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EAGAIN)) break;
        if (nowNs() > deadline) kill(p.pid, SIGKILL);
    }
    waitpid(p.pid, nullptr, 0);
    close(p.log);
}

// Server CPU time in ms (user + system, all its threads) and a field of its status in KiB.
double serverCpuMs(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), {});
    const char* p = s.c_str() + s.rfind(')') + 2;
    unsigned long utime = 0, stime = 0;
    std::sscanf(p, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) * 1000 / double(sysconf(_SC_CLK_TCK));
}
long serverStatus(pid_t pid, const char* key) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

sockaddr_in clientAddress(int n) {
    return {AF_INET,
            0,
            {htonl((127u << 24) | (1u << 16) | std::uint32_t(n / 250) << 8 |
                   std::uint32_t(n % 250 + 1))},
            {}};
}

enum Stage : std::uint8_t { Greeting, Subscribing, Ready };

struct Client {
    int fd = -1;
    std::int32_t id = 0;
    Stage stage = Greeting; // the relay's id frame or NATS's INFO, then NATS's PONG
    bool open = true;
    std::uint16_t carried = 0, unsent = 0;
    std::uint8_t carry[kCarry];
    std::uint8_t tail[128]; // the end of a message the socket took only in part
    char subject[16];       // NATS
};

struct Run {
    bool nats = false;
    std::vector<Client> clients;
    std::int64_t from = 0, to = 0;           // send times counted
    std::uint64_t received = 0, arrived = 0; // arrived: any position, during [from, to)
    std::vector<std::uint64_t> bins = std::vector<std::uint64_t>(kBins + 1);
    std::vector<std::uint8_t> scratch = std::vector<std::uint8_t>(kCarry + 65536);
    std::string firstError;
};

// Sends bytes on c. What the socket takes in part is finished before c's next message; a
// message is refused (false) while such a part is left or when the socket takes none of it.
bool push(Client& c, const void* bytes, std::size_t size) {
    if (c.unsent) {
        const ssize_t n = send(c.fd, c.tail, c.unsent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) std::memmove(c.tail, c.tail + n, c.unsent -= std::uint16_t(n));
        if (c.unsent) return false;
    }
    const ssize_t n = send(c.fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) return false;
    c.unsent = std::uint16_t(size - std::size_t(n));
    std::memcpy(c.tail, static_cast<const std::uint8_t*>(bytes) + n, c.unsent);
    return true;
}

void record(Run& r, const std::uint8_t* msg, std::int64_t now) {
    const std::int64_t sentAt = sentAtOf(msg);
    r.arrived += now >= r.from && now < r.to;
    if (sentAt < r.from || sentAt >= r.to) return;
    ++r.received;
    const std::int64_t ns = now - sentAt;
    const auto bin =
        std::size_t(ns < kFineUpTo ? ns / kFineNs : (ns - kFineUpTo) / kCoarseNs + kFine);
    ++r.bins[std::min(bin, kBins)];
}

// The relay's wire: the id frame, then frames of a 16-byte header and the body it announces.
std::size_t parseWire(Run& r, Client& c, const std::uint8_t* d, std::size_t n, std::int64_t now) {
    std::size_t at = 0;
    while (n - at >= 4) {
        if (wire::readWord(d + at) == wire::kMarkerIdAssignment) {
            if (n - at < std::size_t(wire::kIdAssignmentSize)) break;
            c.id = wire::readWord(d + at + wire::kIdAssignmentIdAt);
            c.stage = Ready;
            at += wire::kIdAssignmentSize;
            continue;
        }
        if (n - at < std::size_t(wire::kHeaderSize)) break;
        const std::size_t size =
            wire::kHeaderSize + std::uint32_t(wire::readWord(d + at + wire::kHeaderBodyLengthAt));
        if (n - at < size) break;
        if (size == kMessage &&
            wire::readWord(d + at + wire::kHeaderSize + wire::kBodyTypeAt) == wire::kTypePosition)
            record(r, d + at, now);
        at += size;
    }
    return at;
}

// NATS's protocol, the server's side: INFO, MSG <subject> <sid> [reply] <size> and its payload,
// PING, PONG and -ERR, each line ending in CR LF.
std::size_t parseNats(Run& r, Client& c, const std::uint8_t* d, std::size_t n, std::int64_t now) {
    std::size_t at = 0;
    for (;;) {
        const char* line = reinterpret_cast<const char*>(d + at);
        const auto* eol = static_cast<const char*>(memmem(line, n - at, "\r\n", 2));
        if (!eol) break;
        const std::size_t length = std::size_t(eol - line), next = at + length + 2;
        const auto is = [&](const char* word) { return std::strncmp(line, word, 4) == 0; };
        if (length > 4 && is("MSG ")) {
            const auto* space = static_cast<const char*>(memrchr(line, ' ', length));
            const std::size_t size = std::strtoul(space + 1, nullptr, 10);
            if (n - next < size + 2) break;
            if (size == kMessage) record(r, d + next, now);
            at = next + size + 2;
            continue;
        }
        if (is("PING")) {
            push(c, "PONG\r\n", 6);
        } else if (is("PONG") && c.stage == Subscribing) {
            c.stage = Ready;
        } else if (is("INFO") && c.stage == Greeting) {
            // The PONG to this PING says the subscription is in place.
            char hello[160];
            const int size = std::snprintf(
                hello, sizeof hello,
                "CONNECT {\"verbose\":false,\"pedantic\":false,\"echo\":false}\r\nSUB %s 1\r\n"
                "PING\r\n",
                c.subject);
            push(c, hello, std::size_t(size));
            c.stage = Subscribing;
        } else if (is("-ERR") && r.firstError.empty()) {
            r.firstError.assign(line, length);
        }
        at = next;
    }
    return at;
}

// Reads what c has; false when the connection ended (or sent something too large to follow).
bool readClient(Run& r, Client& c) {
    std::uint8_t* buf = r.scratch.data();
    std::memcpy(buf, c.carry, c.carried);
    const ssize_t n = recv(c.fd, buf + c.carried, r.scratch.size() - c.carried, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n < 0) return true;
    const std::size_t length = c.carried + std::size_t(n);
    const std::int64_t now = nowNs();
    const std::size_t used =
        r.nats ? parseNats(r, c, buf, length, now) : parseWire(r, c, buf, length, now);
    if (length - used > kCarry) return false;
    c.carried = std::uint16_t(length - used);
    std::memcpy(c.carry, buf + used, c.carried);
    return true;
}

// Connects every client, at most kConnecting at a time, and waits until each is ready: has its
// id from the relay or the broadcaster, or its subscription confirmed by NATS.
// The client an event is for, or null for the server's log, which it drains.
Client* eventClient(Run& r, Process& p, const epoll_event& ev) {
    if (ev.data.u64 == kLogKey) {
        drainLog(p);
        return nullptr;
    }
    return &r.clients[ev.data.u64];
}

std::string connectAll(Run& r, int ep, Process& p, bool allToAll) {
    const sockaddr_in to{AF_INET, htons(std::uint16_t(p.port)), {htonl(INADDR_LOOPBACK)}, {}};
    const int count = int(r.clients.size()), one = 1;
    const std::int64_t deadline = nowNs() + 60'000'000'000;
    std::vector<epoll_event> events(1024);
    for (int begun = 0, ready = 0; ready < count;) {
        for (; begun < count && begun - ready < kConnecting; ++begun) {
            Client& c = r.clients[std::size_t(begun)];
            c.id = begun + 1;
            std::snprintf(c.subject, sizeof c.subject, allToAll ? "all" : "p.%d", begun / 2);
            c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            const sockaddr_in from = clientAddress(begun);
            if (bind(c.fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
                (connect(c.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
                 errno != EINPROGRESS))
                return std::string("connect: ") + std::strerror(errno);
            epoll_event ev{EPOLLIN, {.u64 = std::uint64_t(begun)}};
            epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
        }
        const int n = epoll_wait(ep, events.data(), int(events.size()), 100);
        for (int e = 0; e < n; ++e) {
            Client* c = eventClient(r, p, events[std::size_t(e)]);
            if (!c) continue;
            const Stage before = c->stage;
            if (!readClient(r, *c))
                return "client " + std::to_string(c - r.clients.data()) + " closed while joining";
            ready += before != Ready && c->stage == Ready;
        }
        if (nowNs() > deadline)
            return std::to_string(ready) + " of " + std::to_string(count) + " ready after 60 s";
    }
    return {};
}

// The flooder: connects, sends valid positions in bursts of 100 until the relay drops it, and
// again, until stop.
struct Flooder {
    std::atomic<bool> stop{false};
    std::atomic<long> connections{0}, sent{0};
    std::thread thread;
};

void flood(Flooder& f, int port) {
    // An attacker's CPU is its own: on this machine the flooder takes only the time the relay
    // and the honest clients leave, so that what is measured is the relay's work, not a third
    // busy thread on two cores.
    setpriority(PRIO_PROCESS, pid_t(gettid()), 19);
    std::vector<std::uint8_t> burst(100 * kMessage);
    const timeval bound = {1, 0};
    const sockaddr_in from = clientAddress(60000);
    const sockaddr_in to{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    while (!f.stop) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        std::uint8_t id[wire::kIdAssignmentSize];
        if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0 &&
            connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
            recv(fd, id, sizeof id, MSG_WAITALL) == ssize_t(sizeof id)) {
            ++f.connections;
            for (std::size_t at = 0; at < burst.size(); at += kMessage)
                writeMessage(&burst[at], wire::readWord(id + wire::kIdAssignmentIdAt), nowNs());
            while (!f.stop && send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) f.sent += 100;
        }
        close(fd);
    }
}

// The latency below which a share q of the deliveries arrived, in ms; infinity past 10 s.
double percentile(const Run& r, double q) {
    std::uint64_t seen = 0;
    std::size_t i = 0;
    if (r.received == 0) return std::nan("");
    while (i < kBins && (seen += r.bins[i]) < std::uint64_t(q * double(r.received))) ++i;
    if (i == kBins) return INFINITY;
    return i < kFine ? double(i + 1) * kFineNs / 1e6
                     : double(kFineUpTo + std::int64_t(i - kFine + 1) * kCoarseNs) / 1e6;
}

// The relay's log lines about clients it dropped, those held back by its log's rate included.
long countDropLines(const std::string& text) {
    long count = 0;
    for (std::size_t at = 0; (at = text.find(" dropped: ", at)) != std::string::npos; ++at) ++count;
    for (std::size_t at = 0; (at = text.find(" drop lines held back", at)) != std::string::npos;
         ++at) {
        const std::size_t start = text.rfind(": ", at);
        if (start != std::string::npos) count += std::atol(text.c_str() + start + 2);
    }
    return count;
}

} // namespace

const char* serverName(Server s) {
    return s == Server::Relay ? "relay" : s == Server::Nats ? "nats" : "bare";
}

std::string natsPath() {
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path ? path : "") + ":/usr/sbin:/usr/local/sbin";
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string file = dirs.substr(at, end - at) + "/nats-server";
        if (access(file.c_str(), X_OK) == 0) return file;
        at = end + 1;
    }
    return {};
}

Result run(Server server, const Load& load, double seconds) {
    Result res;
    Process p;
    if (!startServer(server, load.allToAll ? 0 : 2, p)) {
        res.error = std::string(serverName(server)) + " did not start: " + p.text;
        if (p.pid > 0) stopServer(p);
        return res;
    }
    Run r;
    r.nats = server == Server::Nats;
    r.clients.resize(std::size_t(load.clients));
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event logEvent{EPOLLIN, {.u64 = kLogKey}};
    epoll_ctl(ep, EPOLL_CTL_ADD, p.log, &logEvent);
    const std::int64_t setupFrom = nowNs();
    res.error = connectAll(r, ep, p, load.allToAll);
    res.setupSeconds = double(nowNs() - setupFrom) / 1e9;
    Flooder flooder;
    if (res.error.empty() && load.flood)
        flooder.thread = std::thread(flood, std::ref(flooder), p.port);

    // One send every 1 / (rate N) seconds, round robin: each client sends `rate` times a second.
    const std::size_t count = r.clients.size();
    const std::int64_t start = nowNs(), step = std::int64_t(1e9 / (load.rate * double(count)));
    r.from = start + kWarmupNs;
    r.to = r.from + std::int64_t(seconds * 1e9);
    std::vector<epoll_event> events(std::min<std::size_t>(count + 1, 4096));
    std::uint8_t msg[kMessage + 32];
    const auto handle = [&](int n) {
        for (int e = 0; e < n; ++e) {
            Client* client = eventClient(r, p, events[std::size_t(e)]);
            if (!client) continue;
            Client& c = *client;
            if (c.open && !readClient(r, c)) {
                c.open = false;
                ++res.closed;
                epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
            }
        }
    };
    double cpuFrom = serverCpuMs(p.pid);
    std::int64_t cpuFromNs = nowNs();
    bool measuring = false;
    std::uint64_t k = 0;
    for (std::int64_t now = nowNs(); res.error.empty() && now < r.to; now = nowNs()) {
        if (!measuring && now >= r.from) {
            measuring = true;
            cpuFrom = serverCpuMs(p.pid);
            cpuFromNs = nowNs();
        }
        for (int b = 0; b < kSendBatch && start + std::int64_t(k) * step <= now; ++b, ++k) {
            Client& c = r.clients[k % count];
            // The send time decides whether a message counts, as it does on arrival.
            const std::int64_t at = nowNs(), lag = at - (start + std::int64_t(k) * step);
            if (at >= r.to) break;
            if (!c.open) continue;
            const bool counted = at >= r.from;
            std::uint8_t* bytes = msg + 16;
            writeMessage(bytes, c.id, at);
            std::size_t size = kMessage;
            if (r.nats) {
                // PUB <subject> 48 CR LF, right before the message, and CR LF after it.
                char pub[24];
                const int head = std::snprintf(pub, sizeof pub, "PUB %s 48\r\n", c.subject);
                bytes -= head;
                std::memcpy(bytes, pub, std::size_t(head));
                std::memcpy(msg + 16 + kMessage, "\r\n", 2);
                size += std::size_t(head) + 2;
            }
            if (!push(c, bytes, size)) {
                ++res.refused;
                continue;
            }
            res.sent += counted;
            res.late += counted && lag > kLateNs;
            if (counted) res.maxLagMs = std::max(res.maxLagMs, double(lag) / 1e6);
        }
        const std::int64_t wait = start + std::int64_t(k) * step - nowNs();
        handle(epoll_wait(ep, events.data(), int(events.size()),
                          wait > 0 ? int((wait + 999'999) / 1'000'000) : 0));
    }
    flooder.stop = true;
    // The drain: until every expected delivery is in, nothing came for a while, or 2 s.
    res.expected = res.sent * (load.allToAll ? count - 1 : 1);
    const std::int64_t drainFrom = nowNs();
    std::int64_t lastArrival = drainFrom;
    while (res.error.empty() && r.received < res.expected) {
        const std::int64_t now = nowNs();
        if (now - drainFrom > kDrainNs || now - lastArrival > kDrainQuietNs) break;
        const std::uint64_t before = r.received;
        handle(epoll_wait(ep, events.data(), int(events.size()), 10));
        if (r.received != before) lastArrival = nowNs();
    }
    res.cpuMs = serverCpuMs(p.pid) - cpuFrom;
    res.cpuShare = res.cpuMs * 1e6 / double(nowNs() - cpuFromNs);
    res.peakRssKiB = serverStatus(p.pid, "VmHWM:");
    drainLog(p);
    res.dropLines = countDropLines(p.text);
    if (flooder.thread.joinable()) flooder.thread.join();
    res.floodSent = flooder.sent;
    res.floodConnections = flooder.connections;
    res.seconds = seconds;
    res.received = r.received;
    res.arrived = r.arrived;
    res.p50Ms = percentile(r, 0.5);
    res.p99Ms = percentile(r, 0.99);
    res.firstError = r.firstError;
    for (Client& c : r.clients)
        if (c.fd >= 0) close(c.fd);
    close(ep);
    stopServer(p);
    return res;
}

} // namespace load
