// duoscope-relay, the real binary, driven by real TCP clients on loopback: each socket
// behaviour once (its frame splitter and checks on their own are fuzzed).
#include "support/net_script.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using Args = std::vector<std::string>;

Args On(const Args& more) { // an ephemeral loopback port, and more
    Args a = {"--port", "0", "--bind", "127.0.0.1"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

struct Client {
    int fd;
    explicit Client(int port, int receiveBuffer = 0, const char* from = "127.0.0.1")
        : fd(Connect(port, receiveBuffer, from)) {}
    ~Client() { close(fd); }
    int Id() { return WordAt(ReadBytes(fd, 12), 4); } // the id from the assignment
    bool Closed() { // by the relay within 10 s, after whatever it sent
        char buf[4096];
        for (const auto end = After(10000); Readable(fd, end);)
            if (recv(fd, buf, sizeof buf, 0) <= 0) return true;
        return false;
    }
};

// A position message in id's name at x, its sender id sender (id when 0).
Bytes Position(int id, float x, int sender = 0) {
    Bytes b = Words({-1, 0, id, 32, 500, 0, id});
    b.resize(48);
    wire::writePosition(&b[16], {sender ? sender : id, x, 0, -40, 0});
    return b;
}

TEST(Relay, PairsMeetInRoomsAndANewcomerSeesItsPartnerWhereItStands) {
    RelayProcess r;
    Client a(r.port), b(r.port), c(r.port), d(r.port);
    EXPECT_EQ(ReadBytes(a.fd, 12), Words({-2, 1, 0}));
    EXPECT_EQ(std::vector<int>({b.Id(), c.Id(), d.Id()}), std::vector<int>({2, 3, 4}));
    EXPECT_TRUE(r.WaitLog("duoscope-relay: client 4 joined room 2 (2 in it)\n"));
    EXPECT_EQ(r.Count("duoscope-relay: client 4 connected from " + LocalAddress(d.fd) + "\n") +
                  r.Count("duoscope-relay: client 2 joined room 1 (2 in it)\n") +
                  r.Count("duoscope-relay: client 3 joined room 2 (1 in it)\n"),
              3u);
    const Bytes pa = Position(1, 1), pd = Position(4, 4), big = Frame(2, 10240, 7),
                pa2 = Position(1, 2);
    for (uint8_t byte : pa) SendAll(a.fd, Bytes{byte}); // one byte a segment, forwarded whole
    EXPECT_EQ(ReadFrame(b.fd), pa);
    SendAll(d.fd, pd);
    EXPECT_EQ(ReadFrame(c.fd), pd) << "had a's position crossed rooms, it would come first";
    SendAll(b.fd, Bytes(big.begin(), big.begin() + 100));
    SendAll(b.fd, Bytes(big.begin() + 100, big.end()));
    EXPECT_EQ(ReadFrame(a.fd), big);
    SendAll(a.fd, pa2);
    EXPECT_EQ(ReadFrame(b.fd), pa2) << "had b's frame come back to b, it would come first";
    // b leaves: a waits in room 1 for the next newcomer, who gets a's last position at once.
    const std::string bAt = LocalAddress(b.fd);
    close(std::exchange(b.fd, -1));
    EXPECT_TRUE(r.WaitLog("duoscope-relay: client 2 left room 1 (1 in it)\n"));
    EXPECT_EQ(r.Count("duoscope-relay: client 2 (" + bAt + ") disconnected\n"), 1u);
    Client e(r.port);
    EXPECT_EQ(ReadBytes(e.fd, 60), Concat({Words({-2, 5, 0}), pa2}));
    EXPECT_TRUE(r.WaitLog("duoscope-relay: client 5 joined room 1 (2 in it)\n"));
    // SIGUSR1: the counts so far (e's catch-up counts as forwarded; b's leaving as no drop).
    kill(r.pid, SIGUSR1);
    EXPECT_TRUE(r.WaitLog("duoscope-relay: stats: 4 clients, 2 rooms, 4 frames in, 5 forwarded, "
                          "10400 B in, 10508 B out in "));
    EXPECT_TRUE(r.WaitLog("), dropped: 0 forged, 0 rate, 0 backlog, 0 timeout, 0 caps\n"));
}

// Bound to "::", the relay takes IPv4 and IPv6 clients alike into one room; the log shows each
// in its own form, an IPv4 client as plain IPv4; the per-address cap holds for both.
TEST(Relay, BoundToIPv6AnyItTakesIPv4AndIPv6Clients) {
    const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in6 loopback = {AF_INET6, 0, 0, in6addr_loopback, 0};
    const bool v6 = bind(probe, reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) == 0;
    close(probe);
    if (!v6) GTEST_SKIP() << "no IPv6 loopback";
    RelayProcess r({"--port", "0", "--bind", "::", "--max-per-address", "1"});
    EXPECT_EQ(r.log.rfind("duoscope-relay: listening on [::]:" + std::to_string(r.port) + "\n", 0),
              0u);
    Client a(r.port), b(r.port, 0, "::1");
    ASSERT_EQ(std::vector<int>({a.Id(), b.Id()}), std::vector<int>({1, 2}));
    EXPECT_TRUE(r.WaitLog("duoscope-relay: client 2 joined room 1 (2 in it)\n"));
    const std::string bAt = LocalAddress(b.fd);
    EXPECT_EQ(bAt.rfind("[::1]:", 0), 0u);
    EXPECT_EQ(r.Count("client 1 connected from " + LocalAddress(a.fd) + "\n") +
                  r.Count("client 2 connected from " + bAt + "\n"),
              2u);
    SendAll(a.fd, Position(1, 1));
    EXPECT_EQ(ReadFrame(b.fd), Position(1, 1));
    SendAll(b.fd, Position(2, 2));
    EXPECT_EQ(ReadFrame(a.fd), Position(2, 2));
    // One connection an address: IPv4 addresses count apart (not as the one /64 their mapped
    // forms share); ::1 is taken.
    Client c(r.port, 0, "127.0.0.2"), d(r.port, 0, "::1");
    const std::string dAt = LocalAddress(d.fd);
    EXPECT_EQ(c.Id(), 3);
    EXPECT_TRUE(d.Closed());
    EXPECT_TRUE(
        r.WaitLog("duoscope-relay: refused " + dAt + ": 1 connections from that address\n"));
}

// A hostile client (id 3) in one room with an honest pair: a frame in another's name, or one a
// viewer would misread, drops it; a position off the map is only not forwarded. The pair gets
// each other's bytes as if it had sent nothing.
TEST(Relay, ForgersAreDroppedAndThePairGoesOn) {
    const struct {
        Bytes sent;
        std::string logged;
    } table[] = {
        {Words({-1, 0, 1, 12, 7, 0, 3}), "dropped: header source 1 is not its id"},
        {Words({-1, 0, 3, 12, 7, 0, 2}), "dropped: body source 2 is not its id"},
        {Position(3, 0, 2), "dropped: position sender 2 is not its id"},
        {Words({-1, 0, 3, 12, -4, 0, 0}), "dropped: goodbye source 0 is not its id"},
        {Words({-1, 0, 3, 20, -1, 0, 3, 10241, 0}), "dropped: body starting with -1"},
        {Position(3, NAN), "sent a position that is not finite; not forwarded"},
    };
    for (const auto& row : table) {
        RelayProcess r(On({"--room-size", "0"}));
        Client a(r.port), b(r.port), f(r.port);
        ASSERT_EQ(f.Id(), 3);
        SendAll(f.fd, row.sent);
        EXPECT_TRUE(r.WaitLog("client 3 (" + LocalAddress(f.fd) + ") " + row.logged + "\n"));
        const Bytes pa = Position(1, 5);
        SendAll(a.fd, pa);
        EXPECT_EQ(ReadBytes(b.fd, 60), Concat({Words({-2, 2, 0}), pa})) << row.logged;
        EXPECT_EQ(ReadBytes(f.fd, 48), row.logged[0] == 's' ? pa : Bytes{}) << row.logged;
        kill(r.pid, SIGUSR1);
        EXPECT_TRUE(r.WaitLog(row.logged[0] == 's' ? "dropped: 0 forged" : "dropped: 1 forged"));
    }
}

TEST(Relay, AFlooderIsDroppedAndThePairKeepsItsStream) {
    RelayProcess r(On({"--room-size", "3"}));
    Client a(r.port), b(r.port), f(r.port);
    ASSERT_EQ(f.Id(), 3);
    const std::string fAt = LocalAddress(f.fd);
    const timeval bound = {10, 0}; // a send the relay stopped taking fails after 10 s
    setsockopt(f.fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    std::thread flood([&] {
        Bytes burst;
        for (int i = 0; i < 100; ++i) burst = Concat({burst, Position(3, float(i))});
        while (SendAll(f.fd, burst)) continue;
    });
    ASSERT_EQ(b.Id(), 2);
    for (int i = 0; i < 100; ++i) SendAll(a.fd, Words({-1, 0, 1, 16, 7, 0, 1, i}));
    for (int i = 0; i < 100;) {
        const Bytes m = ReadFrame(b.fd);
        ASSERT_GE(m.size(), 16u);
        if (WordAt(m, 8) == 3) continue; // the flooder's, before it went
        ASSERT_EQ(m, Words({-1, 0, 1, 16, 7, 0, 1, i++}));
    }
    EXPECT_TRUE(r.WaitLog("client 3 (" + fAt + ") dropped: over 100 messages a second\n"));
    flood.join();
}

// b stops reading: its backlog keeps only a's latest position, so b stays and later gets them
// in order up to the last; a's other frames past the cap drop b alone, and a goes on.
TEST(Relay, ASlowReaderGetsTheLatestPositionsAndGoesOnlyForOtherFrames) {
    RelayProcess r(On({"--max-rate", "100000"}));
    Client a(r.port), b(r.port, 4096);
    ASSERT_EQ(b.Id(), 2);
    // A send the relay stopped taking fails after 10 s; what a has in flight when b goes stays
    // small, so that c, joining then, is not a slow reader of it.
    const timeval bound = {10, 0};
    const int sendBuffer = 16384;
    setsockopt(a.fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    setsockopt(a.fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    Bytes walk;
    for (int i = 0; i < 20000; ++i) {
        const Bytes p = Position(1, float(i));
        walk.insert(walk.end(), p.begin(), p.end());
    }
    ASSERT_TRUE(SendAll(a.fd, walk));
    wire::Position p{0, -1, 0, 0, 0};
    for (float last = -1; p.x < 19999; last = p.x) {
        const Bytes m = ReadFrame(b.fd);
        ASSERT_TRUE(m.size() == 48 && wire::readPosition(&m[16], 32, p) && p.x > last);
    }
    const Bytes big = Frame(1, 10240, 7), last = Frame(1, 12, 7);
    for (int i = 0; i < 2000 && !r.WaitLog("client 2 (", 1, 0); ++i)
        ASSERT_TRUE(SendAll(a.fd, big));
    EXPECT_TRUE(r.WaitLog("client 2 (" + LocalAddress(b.fd) +
                          ") dropped: unsent output over 65536 bytes\n"));
    Client c(r.port);
    EXPECT_EQ(ReadBytes(c.fd, 60), Concat({Words({-2, 3, 0}), Position(1, 19999)}));
    SendAll(a.fd, last);
    bool seen = false;
    for (Bytes f; !seen && (f = ReadFrame(c.fd)).size() >= 16;) seen = f == last;
    EXPECT_TRUE(seen);
    EXPECT_EQ(r.Count("dropped"), 1u);
}

// Half a header from 200 connections: each goes once its frame is overdue, and a newcomer gets
// its id meanwhile. Past a cap, a connection is closed at once.
TEST(Relay, StalledConnectionsGoAtTheirDeadlineAndTheCapsCloseAtOnce) {
    RelayProcess r(On({"--frame-timeout", "1", "--max-per-address", "1000"}));
    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 200; ++i) {
        stalled.push_back(std::make_unique<Client>(r.port));
        SendAll(stalled.back()->fd, Words({-1, 0}));
    }
    Client newcomer(r.port);
    EXPECT_EQ(newcomer.Id(), 201);
    // The log holds connect lines back under the storm, and counts them once it may speak.
    ASSERT_TRUE(r.WaitLog(" connect lines held back\n"));
    size_t held = 0;
    for (auto at = r.log.find(" connect lines held back\n"); at != std::string::npos;
         at = r.log.find(" connect lines held back\n", at + 1))
        held += std::stoul(r.log.substr(r.log.rfind(": ", at) + 2));
    EXPECT_EQ(r.Count(" connected from 127.0.0.1:") + held, 201u);
    for (auto& s : stalled) EXPECT_TRUE(s->Closed());
    EXPECT_TRUE(r.WaitLog(") dropped: frame unfinished after 1 s\n"));
    kill(r.pid, SIGUSR1);
    EXPECT_TRUE(r.WaitLog(" 0 backlog, 200 timeout, 0 caps\n"));
    Client next(r.port);
    EXPECT_EQ(next.Id(), 202);
    SendAll(next.fd, Position(202, 1));
    EXPECT_EQ(ReadFrame(newcomer.fd), Position(202, 1));

    RelayProcess capped(On({"--max-clients", "3", "--max-per-address", "2"}));
    Client c1(capped.port), c2(capped.port), c3(capped.port), c4(capped.port, 0, "127.0.0.2"),
        c5(capped.port, 0, "127.0.0.3");
    const std::string at3 = LocalAddress(c3.fd), at5 = LocalAddress(c5.fd);
    EXPECT_TRUE(c3.Closed() && c5.Closed());
    EXPECT_EQ(std::vector<int>({c1.Id(), c2.Id(), c4.Id()}), std::vector<int>({1, 2, 3}));
    EXPECT_TRUE(capped.WaitLog("duoscope-relay: refused " + at5 + ": 3 clients connected\n"));
    EXPECT_EQ(
        capped.Count("duoscope-relay: refused " + at3 + ": 2 connections from that address\n"), 1u);
    kill(capped.pid, SIGUSR1);
    EXPECT_TRUE(capped.WaitLog(" 0 backlog, 0 timeout, 2 caps\n"));
    EXPECT_EQ(capped.Count("duoscope-relay: descriptor limit "), 1u);
    EXPECT_EQ(capped.Count("; up to 3 clients\n"), 1u);
}

// 1000 connections send positions and never read: the relay stays under 8 MiB resident (8 KiB
// a client, all included), serves a pair meanwhile, keeps no descriptor of theirs once they
// are gone, and on SIGTERM says goodbye.
TEST(Relay, AThousandNonReadersCostKilobytesAndSigtermSaysGoodbye) {
    RelayProcess r(On({"--max-per-address", "2000"}));
    const std::string proc = "/proc/" + std::to_string(r.pid);
    const auto fds = [&] {
        return std::distance(std::filesystem::directory_iterator(proc + "/fd"), {});
    };
    const auto before = fds();
    std::vector<std::unique_ptr<Client>> crowd;
    for (int id = 1; id <= 1000; ++id) {
        crowd.push_back(std::make_unique<Client>(r.port, 4096));
        for (int k = 0; k < 100; ++k) SendAll(crowd.back()->fd, Position(id, float(k)));
    }
    Client a(r.port), b(r.port);
    ASSERT_EQ(b.Id(), 1002);
    SendAll(a.fd, Position(1001, 1));
    EXPECT_EQ(ReadFrame(b.fd), Position(1001, 1));
    std::ifstream status(proc + "/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("VmHWM:", 0) != 0) continue;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) // shadow memory multiplies it
    EXPECT_LT(std::atol(line.c_str() + 6), 8 * 1024) << line;
#endif
    EXPECT_FALSE(r.WaitLog(") dropped", 1, 0));
    crowd.clear();
    EXPECT_TRUE(WaitFor([&] { return fds() == before + 2; }, 10000));
    kill(r.pid, SIGTERM);
    const Bytes goodbye = Words({-1, 0, 0, 12, -4, 0, 0});
    EXPECT_EQ(ReadBytes(a.fd, 100), Concat({Words({-2, 1001, 0}), goodbye}));
    EXPECT_EQ(ReadBytes(b.fd, 100), goodbye);
    EXPECT_EQ(r.ExitCode(), 0);
    EXPECT_EQ(r.Count("duoscope-relay: SIGTERM, saying goodbye to 2 clients\n"), 1u);
}

TEST(Relay, CommandLineErrorsEndWithTheirExitCode) { // and --version with 0
    RelayProcess version({"--version"});
    EXPECT_EQ(version.ExitCode(), 0);
    EXPECT_EQ(version.log, "duoscope-relay 0.9.0\n");
    RelayProcess first(On({"--stats", "0.1"})); // an idle relay's stats line, on time
    EXPECT_TRUE(first.WaitLog("duoscope-relay: stats: 0 clients, 0 rooms, 0 frames in, 0 "
                              "forwarded, 0 B in, 0 B out in "));
    const std::string port = std::to_string(first.port);
    RelayProcess second({"--port", port, "--bind", "127.0.0.1"});
    EXPECT_EQ(second.ExitCode(), 1);
    EXPECT_EQ(second.log, "duoscope-relay: port " + port + " on 127.0.0.1 is already in use\n");
    for (const Args& args :
         {Args{"--port", "65536"}, Args{"--port", "x"}, Args{"--port"}, Args{"--bind", "nowhere"},
          Args{"-p", "1"}, Args{"--room-size", "1"}, Args{"--room-size", "21"},
          Args{"--max-rate", "0"}, Args{"--max-clients", "1.5"}, Args{"--frame-timeout", "x"},
          Args{"--stats", "0"}}) {
        RelayProcess r(args);
        EXPECT_EQ(r.ExitCode(), 2) << args[0];
        EXPECT_NE(r.log.find("usage: duoscope-relay [--port PORT] [--bind ADDRESS]"),
                  std::string::npos);
    }
}

} // namespace
