// duoscope-relay under load: N clients on loopback, each sending position messages (16-byte
// header + 32-byte body, the send time in the body) at the viewer's 25 per second, or at a
// given rate, for a fixed time, all driven from this one thread with epoll. Reports messages
// forwarded per second, the latency the relay adds (send to receive, p50 and p99), the relay's CPU
// time per 1000 forwarded messages (from /proc/PID/stat) and its resident memory.
//
// usage: bench_relay [SECONDS] [CLIENTS[@RATE]...]
//   (default: 5 s; 100@25, 1000@25, and 1000@0.25, which forwards as much as 100@25)
#include "net/wire.h"

#include <arpa/inet.h>
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

void run(int clients, double rate, double seconds) {
    Relay relay = startRelay();
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Client> cs(static_cast<std::size_t>(clients));
    sockaddr_in a{AF_INET, htons(std::uint16_t(relay.port)), {htonl(INADDR_LOOPBACK)}, {}};
    for (std::size_t i = 0; i < cs.size(); ++i) {
        Client& c = cs[i];
        c.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::uint8_t id[wire::kIdAssignmentSize];
        if (connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            recv(c.fd, id, sizeof id, MSG_WAITALL) != ssize_t(sizeof id)) {
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
            std::uint8_t* body = msg + wire::kHeaderSize;
            wire::writeHeader(msg, 0, c.id, wire::kPositionBodyLength);
            wire::writeBodyWords(body, wire::kTypePosition, 0, c.id);
            wire::writePosition(body, {c.id, 0, 0, 0, 0});
            const std::int64_t sentAt = nowNs();
            std::memcpy(msg + kSentAt, &sentAt, sizeof sentAt);
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
    std::printf("%5d clients x %5.2f/s: %9.0f msg/s forwarded (%6.0f sent/s), added latency p50 "
                "%s ms p99 %s ms, relay CPU %.3f ms per 1000 forwarded, relay RSS %ld KiB "
                "(peak %ld)",
                clients, rate, double(t.received) / seconds, double(t.sent) / seconds,
                percentile(t, 0.5).c_str(), percentile(t, 0.99).c_str(),
                t.received ? cpu * 1e6 / double(t.received) : 0.0, rss, hwm);
    if (t.dropped)
        std::printf(", %llu clients dropped as slow readers, the first after %.2f s",
                    static_cast<unsigned long long>(t.dropped), double(firstDrop) / 1e9);
    if (t.skipped) std::printf(", %llu sends refused", static_cast<unsigned long long>(t.skipped));
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
    std::vector<std::pair<int, double>> loads;
    for (int i = 2; i < argc; ++i) {
        const char* at = std::strchr(argv[i], '@');
        loads.emplace_back(std::atoi(argv[i]), at ? std::atof(at + 1) : 25.0);
    }
    if (loads.empty()) loads = {{100, 25.0}, {1000, 25.0}, {1000, 0.25}};
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
    for (auto [clients, rate] : loads) run(clients, rate, seconds);
    return 0;
}
