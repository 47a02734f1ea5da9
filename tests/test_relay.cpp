// duoscope-relay, the real binary, driven by real TCP clients on loopback. Everything waits on
// descriptors (poll with a bound) or on the process (waitpid); the relay's stderr is read all
// along, so its log lines can be awaited and its pipe never fills.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWaitMs = 10000; // bound on every wait; reached only when something is wrong

struct Relay {
    pid_t pid = -1;
    int err = -1; // the relay's stderr and stdout
    std::string log;
    int port = 0;

    explicit Relay(std::vector<std::string> args) {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            std::vector<char*> argv{const_cast<char*>(DUO_RELAY_PATH)};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        err = fds[0];
    }
    Relay() : Relay({"--port", "0", "--bind", "127.0.0.1"}) {
        if (waitLog("listening on 127.0.0.1:"))
            port = std::stoi(log.substr(log.find("127.0.0.1:") + 10));
    }
    ~Relay() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(err);
    }
    // Appends what the relay wrote; waits up to ms for something. False at end of stream.
    bool pump(int ms) {
        pollfd p{err, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return true;
        char buf[4096];
        const ssize_t n = read(err, buf, sizeof buf);
        if (n > 0) log.append(buf, std::size_t(n));
        return n > 0;
    }
    std::size_t count(const std::string& text) const {
        std::size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    bool waitLog(const std::string& text, std::size_t times = 1) {
        for (int turn = 0; count(text) < times; ++turn)
            if (turn > kWaitMs / 10 || !pump(10)) return count(text) >= times;
        return true;
    }
    int exitCode() {
        while (pump(kWaitMs)) continue;
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

struct Client {
    int fd = -1;
    explicit Client(int port, int receiveBuffer = 0) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{AF_INET, htons(std::uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Client() { close(fd); }
    void send(const Bytes& b) {
        ASSERT_EQ(::send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
    }
    // Reads exactly n bytes, pumping the relay's log meanwhile; fewer at end of stream.
    Bytes read(Relay& r, std::size_t n) {
        Bytes out(n);
        std::size_t got = 0;
        for (int turn = 0; got < n && turn < kWaitMs / 10; ++turn) {
            pollfd p[2] = {{fd, POLLIN, 0}, {r.err, POLLIN, 0}};
            if (poll(p, 2, 10) <= 0) continue;
            if (p[1].revents) r.pump(0);
            if (!(p[0].revents)) continue;
            const ssize_t k = recv(fd, out.data() + got, n - got, 0);
            if (k <= 0) break;
            got += std::size_t(k);
        }
        out.resize(got);
        return out;
    }
    int id(Relay& r) {
        const Bytes b = read(r, 12);
        return b.size() == 12 && b[0] == 0xFF && b[3] == 0xFE
                   ? b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]
                   : -1;
    }
    // Reads frames until one starts with `want` or the stream ends.
    bool readUntil(Relay& r, const Bytes& want) {
        for (;;) {
            Bytes f = read(r, 16);
            if (f.size() < 16) return false;
            const Bytes body = read(r, std::size_t(f[12] << 24 | f[13] << 16 | f[14] << 8 | f[15]));
            f.insert(f.end(), body.begin(), body.end());
            if (f == want) return true;
        }
    }
};

void put(Bytes& b, std::int64_t w) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(std::uint8_t(std::uint32_t(w) >> s));
}
// A framed message: header (marker, destination 0, source, length), then a body of type 500.
Bytes frame(int source, std::int64_t length, std::int64_t marker = -1) {
    Bytes b;
    for (std::int64_t w : {marker, 0L, long(source), length, 500L, 0L, long(source)}) put(b, w);
    for (std::int64_t i = 12; i < length && i <= 10240; ++i)
        b.push_back(std::uint8_t(i * 7 + source));
    return b;
}

TEST(Relay, GivesIdsForwardsToOthersAndNeverEchoes) {
    Relay r;
    Client a(r.port), b(r.port), c(r.port);
    EXPECT_EQ(a.id(r), 1);
    EXPECT_EQ(b.id(r), 2);
    EXPECT_EQ(c.id(r), 3);
    for (int length : {32, 12, 10240}) {
        const Bytes m = frame(1, length);
        a.send(m);
        EXPECT_EQ(b.read(r, m.size()), m);
        EXPECT_EQ(c.read(r, m.size()), m);
    }
    // Were a's own frames echoed, they would reach a before b's frame, sent afterwards.
    const Bytes fromB = frame(2, 32);
    b.send(fromB);
    EXPECT_EQ(a.read(r, fromB.size()), fromB);
    EXPECT_EQ(c.read(r, fromB.size()), fromB);
    // One byte per segment: still forwarded whole.
    const Bytes fromC = frame(3, 40);
    for (std::uint8_t byte : fromC) c.send(Bytes{byte});
    EXPECT_EQ(a.read(r, fromC.size()), fromC);
    EXPECT_EQ(b.read(r, fromC.size()), fromC);
    EXPECT_TRUE(r.waitLog("duoscope-relay: client 3 connected from 127.0.0.1:"));
}

TEST(Relay, DropsAClientThatBreaksTheFramingAndServesTheOthers) {
    const struct {
        std::int64_t marker, length;
    } cases[] = {{-3, 32}, {0, 32}, {-1, 11}, {-1, 10241}, {-1, 2147483647}, {-1, -1}};
    for (const auto& bad : cases) {
        SCOPED_TRACE(std::to_string(bad.marker) + " " + std::to_string(bad.length));
        Relay r;
        Client a(r.port), b(r.port), c(r.port);
        EXPECT_EQ(c.id(r), 3);
        const Bytes header = frame(1, bad.length, bad.marker);
        a.send(Bytes(header.begin(), header.begin() + 16));
        EXPECT_TRUE(r.waitLog("duoscope-relay: client 1 (127.0.0.1:"));
        EXPECT_TRUE(r.waitLog(") dropped: broken framing"));
        EXPECT_EQ(a.read(r, 100).size(), 12u) << "only the id, then the end";
        const Bytes m = frame(2, 32);
        b.send(m);
        EXPECT_EQ(c.read(r, m.size()), m);
    }
}

TEST(Relay, ForgetsAClientThatLeavesMidHeader) {
    Relay r;
    Client b(r.port), c(r.port);
    {
        Client a(r.port);
        EXPECT_EQ(a.id(r), 3);
        const Bytes m = frame(3, 32);
        a.send(Bytes(m.begin(), m.begin() + 7));
    }
    EXPECT_TRUE(r.waitLog("duoscope-relay: client 3 (127.0.0.1:"));
    EXPECT_TRUE(r.waitLog(") disconnected"));
    const Bytes m = frame(1, 32);
    b.send(m);
    EXPECT_EQ(c.id(r), 2);
    EXPECT_EQ(c.read(r, m.size()), m);
}

TEST(Relay, DropsASlowReaderWithoutHoldingUpTheOthers) {
    Relay r;
    Client a(r.port), slow(r.port, 4096), c(r.port);
    EXPECT_EQ(c.id(r), 3);
    fcntl(a.fd, F_SETFL, O_NONBLOCK);
    const Bytes big = frame(1, 10240);
    std::size_t sent = 0, offset = 0, received = 0; // offset: into the frame a is sending
    Bytes sink(1 << 16);
    // a floods, c keeps reading, slow never reads: only slow may go.
    while ((r.count("client 2 (") == 0 || offset != 0) && sent < (200u << 20)) {
        pollfd p[3] = {{a.fd, POLLOUT, 0}, {c.fd, POLLIN, 0}, {r.err, POLLIN, 0}};
        ASSERT_GT(poll(p, 3, kWaitMs), 0);
        if (p[2].revents) r.pump(0);
        if (p[1].revents) {
            const ssize_t k = recv(c.fd, sink.data(), sink.size(), 0);
            ASSERT_GT(k, 0);
            received += std::size_t(k);
        }
        if (!(p[0].revents & POLLOUT)) continue;
        const ssize_t k = ::send(a.fd, big.data() + offset, big.size() - offset, MSG_NOSIGNAL);
        ASSERT_GT(k, 0);
        offset = (offset + std::size_t(k)) % big.size();
        sent += std::size_t(k);
    }
    EXPECT_TRUE(r.waitLog(") dropped: unsent output over 262144 bytes"));
    EXPECT_EQ(r.count("dropped"), 1u);
    fcntl(a.fd, F_SETFL, 0);
    const Bytes marker = frame(1, 12);
    a.send(marker);
    c.read(r, (big.size() - received % big.size()) % big.size()); // to the next frame
    EXPECT_TRUE(c.readUntil(r, marker));
}

TEST(Relay, SaysGoodbyeFromTheRelayOnSigtermAndExitsZero) {
    Relay r;
    Client a(r.port), b(r.port);
    EXPECT_EQ(a.id(r), 1);
    EXPECT_EQ(b.id(r), 2);
    kill(r.pid, SIGTERM);
    const Bytes goodbye = {0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0, 0, 0, 0, 0, 0, 0, 0,
                           0,    12,   0xFF, 0xFF, 0xFF, 0xFC, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(a.read(r, 100), goodbye);
    EXPECT_EQ(b.read(r, 100), goodbye);
    EXPECT_EQ(r.exitCode(), 0);
    EXPECT_EQ(r.count("duoscope-relay: SIGTERM, saying goodbye to 2 clients\n"), 1u);
}

long openDescriptors(pid_t pid) {
    using std::filesystem::directory_iterator;
    return std::distance(directory_iterator("/proc/" + std::to_string(pid) + "/fd"), {});
}

TEST(Relay, ThousandConnectionsLeaveNoDescriptorBehind) {
    Relay r;
    const long before = openDescriptors(r.pid);
    for (int i = 1; i <= 1000; ++i) {
        Client c(r.port);
        ASSERT_EQ(c.id(r), i);
    }
    EXPECT_TRUE(r.waitLog(") disconnected", 1000));
    EXPECT_EQ(openDescriptors(r.pid), before);
}

TEST(Relay, CommandLineErrorsEndWithTheirExitCode) {
    Relay first;
    Relay second({"--port", std::to_string(first.port), "--bind", "127.0.0.1"});
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(second.log, "duoscope-relay: port " + std::to_string(first.port) +
                              " on 127.0.0.1 is already in use\n");

    const std::vector<std::vector<std::string>> cases = {
        {"--port", "65536"}, {"--port", "x"}, {"--port"}, {"--bind", "nowhere"}, {"-p", "1"}};
    for (const auto& args : cases) {
        Relay r(args);
        EXPECT_EQ(r.exitCode(), 2) << args[0];
        EXPECT_NE(r.log.find("usage: duoscope-relay [--port PORT] [--bind ADDRESS]"),
                  std::string::npos);
    }
    Relay help({"--help"});
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_EQ(help.log.rfind("usage: duoscope-relay", 0), 0u);
}

} // namespace
