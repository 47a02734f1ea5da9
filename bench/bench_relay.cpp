// duoscope-relay under load: N clients on loopback, in the relay's rooms of two, each sending
// position messages (16-byte header + 32-byte body, in its own name, the send time in the
// body) at the viewer's 25 per second, or at a given rate, for a fixed time, all driven from
// this one thread with epoll. Reports messages forwarded per second, the latency the relay adds
// (send to receive, p50 and p99), the relay's CPU time per 1000 forwarded messages (from
// /proc/PID/stat) and its resident memory. A load marked +flood runs beside it, on a thread of
// its own, a client that sends valid positions as fast as it can and connects again each time
// the relay drops it: the honest pairs' latency is to stay as it was without it.
//
// Each client connects from its own loopback address (127.1.x.y), as clients on the internet
// would, so the relay's cap on connections per address does not apply.
//
// usage: bench_relay [SECONDS] [CLIENTS[@RATE][+flood]...]
//   (default: 5 s; 100, 1000 and 4000 at 25/s, each without and with a flooder)
#include "net/wire.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <utility>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kMessage = wire::kHeaderSize + wire::kPositionBodyLength;
// Where the send time goes in a message: over the position's x and y.
constexpr std::size_t kSentAt = wire::kHeaderSize + wire::kPositionXAt;
constexpr std::int64_t kBinNs = 10'000; // latency histogram: 10 us bins up to 1 s
constexpr std::size_t kBins = 100'000;

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct Relay {
    pid_t pid = -1;
    int log = -1; // the relay's stderr, drained all along so it never blocks
    int port = 0;
    std::string text;
};

Relay startRelay() {
    Relay r;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) std::exit(1);
    r.pid = fork();
    if (r.pid == 0) {
        dup2(fds[1], 2);
        execl(DUO_RELAY_PATH, DUO_RELAY_PATH, "--port", "0", "--bind", "127.0.0.1", nullptr);
        _exit(127);
    }
    close(fds[1]);
    r.log = fds[0];
    char buf[256];
    while (r.text.find('\n') == std::string::npos) {
        const ssize_t n = read(r.log, buf, sizeof buf);
        if (n <= 0) std::exit(1);
        r.text.append(buf, std::size_t(n));
    }
    r.port = std::atoi(r.text.c_str() + r.text.find("127.0.0.1:") + 10);
    fcntl(r.log, F_SETFL, O_NONBLOCK);
    return r;
}

// Relay CPU time in seconds (user + system) and resident memory in KiB.
double relayCpu(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), {});
    const char* p = s.c_str() + s.rfind(')') + 2;
    unsigned long utime = 0, stime = 0;
    std::sscanf(p, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}
long relayStatus(pid_t pid, const char* key) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

struct Client {
    int fd = -1;
    std::int32_t id = 0;
    std::vector<std::uint8_t> in = std::vector<std::uint8_t>(1 << 16);
    std::size_t used = 0;
    bool open = true;
};

struct Totals {
    std::uint64_t sent = 0, skipped = 0, received = 0, dropped = 0;
    std::vector<std::uint64_t> bins = std::vector<std::uint64_t>(kBins + 1);
};

// Reads what the relay sent and notes each position's latency; false when the relay closed.
bool readClient(Client& c, Totals& t, bool measuring) {
    for (;;) {
        const ssize_t n = recv(c.fd, c.in.data() + c.used, c.in.size() - c.used, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
        if (n < 0) return true;
        c.used += std::size_t(n);
        const std::int64_t now = nowNs();
        std::size_t off = 0;
        while (c.used - off >= wire::kHeaderSize) {
            const std::int32_t body = wire::readWord(&c.in[off + wire::kHeaderBodyLengthAt]);
            const std::size_t size = wire::kHeaderSize + std::size_t(body);
            if (c.used - off < size) break;
            if (size == kMessage && measuring) {
                std::int64_t sentAt;
                std::memcpy(&sentAt, &c.in[off + kSentAt], sizeof sentAt);
                const std::size_t bin = std::size_t((now - sentAt) / kBinNs);
                ++t.bins[bin < kBins ? bin : kBins];
                ++t.received;
            }
            off += size;
        }
        std::memmove(c.in.data(), c.in.data() + off, c.used - off);
        c.used -= off;
    }
}

// The latency below which a share q of the messages arrived, as text in ms.
std::string percentile(const Totals& t, double q) {
    std::uint64_t total = 0, seen = 0;
    for (auto b : t.bins) total += b;
    std::size_t i = 0;
    while (i < kBins && (seen += t.bins[i]) < std::uint64_t(q * double(total))) ++i;
    if (total == 0) return "-";
    if (i == kBins) return "> 1000";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(i + 1) * double(kBinNs) / 1e6);
    return text;
}

// A client socket from the loopback address 127.1.(n / 250).(n % 250 + 1), or -1.
int connectFrom(int n, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in from{AF_INET,
                     0,
                     {htonl((127u << 24) | (1u << 16) | std::uint32_t(n / 250) << 8 |
                            std::uint32_t(n % 250 + 1))},
                     {}};
    sockaddr_in to{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Writes a position message from id, sent now, into msg.
void writeMessage(std::uint8_t* msg, std::int32_t id) {
    std::uint8_t* body = msg + wire::kHeaderSize;
    wire::writeHeader(msg, 0, id, wire::kPositionBodyLength);
    wire::writeBodyWords(body, wire::kTypePosition, 0, id);
    wire::writePosition(body, {id, 0, 0, 0, 0});
    const std::int64_t sentAt = nowNs();
    std::memcpy(msg + kSentAt, &sentAt, sizeof sentAt);
}

// The flooder: connects, sends valid positions in bursts of 100 until the relay drops it,
// and again, until stop.
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
    while (!f.stop) {
        const int fd = connectFrom(60000, port);
        std::uint8_t id[wire::kIdAssignmentSize];
        if (fd < 0) continue;
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        if (recv(fd, id, sizeof id, MSG_WAITALL) == ssize_t(sizeof id)) {
            ++f.connections;
            for (std::size_t at = 0; at < burst.size(); at += kMessage)
                writeMessage(&burst[at], wire::readWord(id + wire::kIdAssignmentIdAt));
            while (!f.stop && send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) f.sent += 100;
        }
        close(fd);
    }
}

void run(int clients, double rate, bool flooding, double seconds) {
    Relay relay = startRelay();
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Client> cs(static_cast<std::size_t>(clients));
    for (std::size_t i = 0; i < cs.size(); ++i) {
        Client& c = cs[i];
        c.fd = connectFrom(int(i), relay.port);
        std::uint8_t id[wire::kIdAssignmentSize];
        if (c.fd < 0 || recv(c.fd, id, sizeof id, MSG_WAITALL) != ssize_t(sizeof id)) {
            std::perror("bench_relay: connect");
            std::exit(1);
        }
        c.id = wire::readWord(id + wire::kIdAssignmentIdAt);
        fcntl(c.fd, F_SETFL, O_NONBLOCK);
        epoll_event ev{EPOLLIN, {.u64 = i}};
        epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
    }
    epoll_event ev{EPOLLIN, {.u64 = ~0ull}};
    epoll_ctl(ep, EPOLL_CTL_ADD, relay.log, &ev);
    Flooder flooder;
    if (flooding) flooder.thread = std::thread(flood, std::ref(flooder), relay.port);

    // One send every 1 / (rate N) seconds, round robin: each client sends `rate` times a second.
    Totals t;
    const std::int64_t warmup = 500'000'000, start = nowNs(),
                       stepNs = std::int64_t(1e9 / (rate * clients));
    std::int64_t firstDrop = 0;
    const std::int64_t measureFrom = start + warmup,
                       end = measureFrom + std::int64_t(seconds * 1e9);
    double cpuFrom = 0;
    std::uint64_t k = 0;
    std::vector<epoll_event> events(std::size_t(clients) + 1);
    std::uint8_t msg[kMessage] = {};
    bool measuring = false;
    for (;;) {
        std::int64_t now = nowNs();
        if (!measuring && now >= measureFrom) {
            measuring = true;
            cpuFrom = relayCpu(relay.pid);
        }
        if (now >= end) break;
        for (; start + std::int64_t(k) * stepNs <= now; ++k) {
            Client& c = cs[k % cs.size()];
            if (!c.open) continue;
            writeMessage(msg, c.id);
            // A message the socket refuses is skipped; one it takes in part would break the
            // stream, so that client stops (neither happens unless the relay has stalled).
            const ssize_t n = send(c.fd, msg, kMessage, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n == ssize_t(kMessage)) {
                t.sent += measuring;
            } else if (n > 0) {
                c.open = false;
                ++t.skipped;
            } else {
                ++t.skipped;
            }
        }
        const std::int64_t wait = start + std::int64_t(k) * stepNs - nowNs();
        const int n = epoll_wait(ep, events.data(), int(events.size()),
                                 wait > 0 ? int((wait + 999'999) / 1'000'000) : 0);
        for (int e = 0; e < n; ++e) {
            if (events[std::size_t(e)].data.u64 == ~0ull) {
                char buf[4096];
                ssize_t got;
                while ((got = read(relay.log, buf, sizeof buf)) > 0)
                    relay.text.append(buf, std::size_t(got));
                continue;
            }
            Client& c = cs[events[std::size_t(e)].data.u64];
            if (c.open && !readClient(c, t, measuring)) {
                c.open = false;
                if (t.dropped++ == 0) firstDrop = nowNs() - start;
                epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
            }
        }
    }
    const double cpu = relayCpu(relay.pid) - cpuFrom;
    const long rss = relayStatus(relay.pid, "VmRSS:"), hwm = relayStatus(relay.pid, "VmHWM:");
    flooder.stop = true;
    if (flooder.thread.joinable()) flooder.thread.join();
    std::printf("%5d clients x %5.2f/s%s: %9.0f msg/s forwarded (%6.0f sent/s), added latency "
                "p50 %s ms p99 %s ms, relay CPU %.3f ms per 1000 forwarded, relay RSS %ld KiB "
                "(peak %ld)",
                clients, rate, flooding ? " + flood" : "", double(t.received) / seconds,
                double(t.sent) / seconds, percentile(t, 0.5).c_str(), percentile(t, 0.99).c_str(),
                t.received ? cpu * 1e6 / double(t.received) : 0.0, rss, hwm);
    if (t.dropped)
        std::printf(", %llu clients dropped as slow readers, the first after %.2f s",
                    static_cast<unsigned long long>(t.dropped), double(firstDrop) / 1e9);
    if (t.skipped) std::printf(", %llu sends refused", static_cast<unsigned long long>(t.skipped));
    if (flooding)
        std::printf("; the flooder sent %ld positions over %ld connections, each one dropped",
                    flooder.sent.load(), flooder.connections.load());
    std::printf("\n");
    std::fflush(stdout);
    kill(relay.pid, SIGTERM);
    for (Client& c : cs) close(c.fd);
    // The relay logs its goodbyes: read them to the end so its stderr never blocks.
    fcntl(relay.log, F_SETFL, 0);
    for (char buf[4096]; read(relay.log, buf, sizeof buf) > 0;) continue;
    waitpid(relay.pid, nullptr, 0);
    close(relay.log);
    close(ep);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    struct Load {
        int clients;
        double rate;
        bool flood;
    };
    std::vector<Load> loads;
    for (int i = 2; i < argc; ++i) {
        const char* at = std::strchr(argv[i], '@');
        loads.push_back({std::atoi(argv[i]), at ? std::atof(at + 1) : 25.0,
                         std::strstr(argv[i], "+flood") != nullptr});
    }
    if (loads.empty())
        for (int n : {100, 1000, 4000}) loads.insert(loads.end(), {{n, 25, false}, {n, 25, true}});
    // Each client costs a descriptor here and one in the relay, which inherits the limit.
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
    std::signal(SIGPIPE, SIG_IGN);
    // Latency on a shared machine is mostly scheduling delay: say how busy it was.
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("duoscope-relay on loopback, %ld cores, load average %s; clients x positions "
                "per second each, %.1f s each (latency: send to receive through the relay)\n",
                sysconf(_SC_NPROCESSORS_ONLN), load.substr(0, load.find(' ')).c_str(), seconds);
    for (const Load& l : loads) run(l.clients, l.rate, l.flood, seconds);
    return 0;
}
