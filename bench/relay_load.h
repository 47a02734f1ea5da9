// The load generator behind bench_relay. It starts a server as a child process (duoscope-relay,
// nats-server or the bare broadcaster), connects N clients to it from loopback addresses of
// their own (127.1.x.y, so no cap on connections per address applies), and has every client
// send positions at a fixed rate for a fixed time, all from one epoll thread. Each message is
// the relay's 48-byte position frame with its send time in the body, carried as it is by all
// three servers (by NATS as the payload of a PUB), so the same bytes cross each one. Then it
// counts what arrived, how long it took, what the server spent, and whether the generator kept
// its own schedule (it shares the machine with the server).
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace load {

enum class Server { Relay, Nats, Bare };

const char* serverName(Server s);

// nats-server's path, or "" when it is not installed.
std::string natsPath();

struct Load {
    int clients = 100;
    double rate = 25;      // positions a second from each client
    bool allToAll = false; // one room (one NATS subject) for everyone; else rooms of two
    bool flood = false;    // beside the load, a client sending as fast as it can (relay only)
};

struct Result {
    std::string error; // the run failed when set
    double seconds = 0, setupSeconds = 0;
    // Positions sent in the measured window, the deliveries they should make (one per other
    // member of the sender's room), and those that arrived, by the end of a short drain.
    std::uint64_t sent = 0, expected = 0, received = 0;
    std::uint64_t arrived = 0; // positions that arrived in the window, whenever sent
    std::uint64_t refused = 0; // sends the socket did not take (not counted as sent)
    std::uint64_t late = 0;    // sends more than 10 ms behind the generator's schedule
    double maxLagMs = 0;       // the furthest behind a send was
    int closed = 0;            // clients the server closed
    double p50Ms = std::numeric_limits<double>::quiet_NaN(), p99Ms = p50Ms; // send to receive
    double cpuMs = 0;    // server user + system time over the window and drain
    double cpuShare = 0; // that time over the window and drain's: 1 is a whole core
    long peakRssKiB = 0; // the server's VmHWM
    long dropLines = 0;  // the relay's log lines about clients it dropped
    long floodSent = 0, floodConnections = 0;
    std::string firstError; // the first -ERR from nats-server

    double lost() const { return double(expected) - double(received); }
    double cpuMsPer1000() const { return received ? cpuMs * 1000 / double(received) : 0; }
};

// Runs one load against a fresh server process: connects every client, a half-second warm-up,
// then `seconds` measured, and stops the server.
Result run(Server server, const Load& load, double seconds);

} // namespace load
