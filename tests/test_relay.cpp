// duoscope-relay, the real binary, driven by real TCP clients on loopback: each socket
// behaviour once (its frame splitter on its own is fuzzed).
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

struct Client {
    int fd;
    explicit Client(int port, int receiveBuffer = 0) : fd(Connect(port, receiveBuffer)) {}
    ~Client() { close(fd); }
    int Id() { return WordAt(ReadBytes(fd, 12), 4); } // the id from the assignment
};

TEST(Relay, GivesIdsForwardsToOthersAndNeverEchoes) {
    RelayProcess r;
    Client a(r.port), b(r.port), c(r.port);
    EXPECT_EQ(ReadBytes(a.fd, 12), Words({-2, 1, 0}));
    EXPECT_EQ(std::vector<int>({b.Id(), c.Id()}), std::vector<int>({2, 3}));
    EXPECT_TRUE(r.WaitLog("duoscope-relay: client 3 connected from " + LocalAddress(c.fd) + "\n"));
    const Bytes big = Frame(1, 10240), split = Frame(3, 40);
    SendAll(a.fd, big);
    EXPECT_TRUE(ReadBytes(b.fd, big.size()) == big && ReadBytes(c.fd, big.size()) == big);
    // One byte per segment, still forwarded whole; had a's frame come back to a, it would
    // arrive before this one.
    for (uint8_t byte : split) SendAll(c.fd, Bytes{byte});
    EXPECT_TRUE(ReadBytes(a.fd, split.size()) == split && ReadBytes(b.fd, split.size()) == split);
}

TEST(Relay, DropsBrokenFramingServesTheOthers) {
    RelayProcess r;
    Client a(r.port), b(r.port), c(r.port);
    SendAll(a.fd, Words({-1, 0, 1, 10241}));
    EXPECT_TRUE(r.WaitLog("client 1 (" + LocalAddress(a.fd) + ") dropped: broken framing\n"));
    EXPECT_EQ(ReadBytes(a.fd, 100).size(), 12u) << "only the id, then the end";
    const Bytes m = Frame(2, 32);
    SendAll(b.fd, m);
    EXPECT_EQ(ReadBytes(c.fd, 12 + m.size()), Concat({Words({-2, 3, 0}), m}));
}

// a floods, slow never reads: slow goes, a is never held up (a send the relay stopped taking
// fails after 10 s), and a client joining afterwards gets a's frames whole.
TEST(Relay, DropsASlowReaderWithoutHoldingUpTheOthers) {
    RelayProcess r;
    Client a(r.port), slow(r.port, 4096);
    EXPECT_EQ(slow.Id(), 2);
    const timeval bound = {10, 0};
    setsockopt(a.fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    const Bytes big = Frame(1, 10240), last = Frame(1, 12);
    for (int i = 0; i < 20000 && !r.WaitLog("client 2 (", 1, 0); ++i)
        ASSERT_TRUE(SendAll(a.fd, big));
    EXPECT_TRUE(r.WaitLog("client 2 (" + LocalAddress(slow.fd) +
                          ") dropped: unsent output over 262144 bytes\n"));
    Client c(r.port);
    EXPECT_EQ(c.Id(), 3);
    SendAll(a.fd, last);
    bool seen = false;
    for (Bytes f; !seen && (f = ReadFrame(c.fd)).size() >= 16;) seen = f == last;
    EXPECT_TRUE(seen);
    EXPECT_EQ(r.Count("dropped"), 1u);
}

TEST(Relay, ThousandConnectionsLeaveNothingAndSigtermSaysGoodbye) {
    RelayProcess r;
    const std::filesystem::path fds = "/proc/" + std::to_string(r.pid) + "/fd";
    const auto before = std::distance(std::filesystem::directory_iterator(fds), {});
    for (int i = 1; i <= 1000; ++i) ASSERT_EQ(Client(r.port).Id(), i);
    EXPECT_TRUE(r.WaitLog(") disconnected", 1000));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fds), {}), before);
    Client a(r.port), b(r.port);
    EXPECT_EQ(b.Id(), 1002);
    kill(r.pid, SIGTERM);
    const Bytes goodbye = Words({-1, 0, 0, 12, -4, 0, 0});
    EXPECT_EQ(ReadBytes(a.fd, 100), Concat({Words({-2, 1001, 0}), goodbye}));
    EXPECT_EQ(ReadBytes(b.fd, 100), goodbye);
    EXPECT_EQ(r.ExitCode(), 0);
    EXPECT_EQ(r.Count("duoscope-relay: SIGTERM, saying goodbye to 2 clients\n"), 1u);
}

TEST(Relay, CommandLineErrorsEndWithTheirExitCode) {
    RelayProcess first;
    const std::string port = std::to_string(first.port);
    RelayProcess second({"--port", port, "--bind", "127.0.0.1"});
    EXPECT_EQ(second.ExitCode(), 1);
    EXPECT_EQ(second.log, "duoscope-relay: port " + port + " on 127.0.0.1 is already in use\n");
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"--port", "65536"}, Args{"--port", "x"}, Args{"--port"},
                             Args{"--bind", "nowhere"}, Args{"-p", "1"}}) {
        RelayProcess r(args);
        EXPECT_EQ(r.ExitCode(), 2) << args[0];
        EXPECT_NE(r.log.find("usage: duoscope-relay [--port PORT] [--bind ADDRESS]"),
                  std::string::npos);
    }
}

} // namespace
