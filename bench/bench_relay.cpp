// duoscope-relay under load, side by side with nats-server and a bare epoll broadcaster (the
// floor: bench/broadcaster.cpp), all three driven by the same generator (relay_load.h) with the
// same loads: clients on loopback sending positions at the viewer's 25 a second, either all in
// one room (NATS: one subject) or in rooms of two (NATS: a subject per pair). For each load and
// server: deliveries a second (positions received by clients), the deliveries lost (expected
// less received, after a short drain), latency send to receive (p50, p99), the server's CPU
// time per 1000 deliveries (/proc/PID/stat) and its peak resident memory (VmHWM); then the
// relay's ratios to NATS and to the bare broadcaster. Timings drift on a shared machine, so
// the runs are interleaved: every round runs each load on each server once, a fresh server
// process each time, in an order that rotates from round to round; the table gives medians,
// and the ratios are the medians of each round's ratios.
//
// Then, for the relay alone: a flooding client beside 100 and 1000 clients in pairs (the
// honest pairs' latency is to stay as it was without it), and 1000 clients in one room, which
// asks it for 25 million deliveries a second and shows how it degrades: positions coalesced
// per sender, clients dropped (from its log), memory bounded.
//
// The generator shares the machine's cores with the server: "late" counts its sends more than
// 10 ms behind its own schedule; when they are many, the server was not the only bottleneck.
// On two cores 10 000 clients at 25/s (250 000 sends a second, each a system call here and two
// in the server) are past what the generator can send, so 10 000 also run at 2/s, a load it
// keeps up with, where the servers' cost per connection shows.
//
// usage: bench_relay [SECONDS [ROUNDS [LOAD...]]]
//   LOAD is CLIENTS[all][@RATE][+flood]: all for one room, RATE positions a second per client
//   (default 25), +flood with a flooder (the relay only); relay:LOAD runs the relay only.
//   Default: 3 s, 3 rounds of 100all, 1000, 10000 and 10000@2; then relay:100, 100+flood,
//   relay:1000, 1000+flood and relay:1000all.
#include "bench_spawn.h"
#include "relay_load.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using load::Result;
using load::Server;

struct Named {
    load::Load load;
    bool relayOnly = false;
};

Named parseLoad(const char* text) {
    Named n;
    n.relayOnly = std::strncmp(text, "relay:", 6) == 0;
    if (n.relayOnly) text += 6;
    n.load.clients = std::atoi(text);
    n.load.allToAll = std::strstr(text, "all") != nullptr;
    if (const char* at = std::strchr(text, '@')) n.load.rate = std::atof(at + 1);
    n.load.flood = std::strstr(text, "+flood") != nullptr;
    n.relayOnly = n.relayOnly || n.load.flood;
    return n;
}

std::string describe(const load::Load& l) {
    std::string s = std::to_string(l.clients) + (l.allToAll ? " in one room" : " in pairs");
    if (l.rate != 25) s += " @" + std::to_string(int(l.rate)) + "/s";
    return s + (l.flood ? " + flood" : "");
}

// The median of the values that are numbers (a latency with no delivery is none).
double median(const std::vector<double>& values) {
    std::vector<double> v;
    for (double x : values)
        if (!std::isnan(x)) v.push_back(x);
    return v.empty() ? std::nan("") : Median(v);
}

std::string ms(double v) {
    char text[32];
    if (std::isnan(v)) return "-";
    if (std::isinf(v)) return ">10000";
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

double lostShare(const Result& r) {
    return r.expected ? 100 * r.lost() / double(r.expected) : 0;
}
double lateShare(const Result& r) {
    return r.sent ? 100 * double(r.late) / double(r.sent) : 0;
}

// One line for one run, as it ends.
void printRun(Server s, const load::Load& l, const Result& r) {
    if (!r.error.empty()) {
        std::printf("  %-28s %-5s FAILED: %s\n", describe(l).c_str(), load::serverName(s),
                    r.error.c_str());
        return;
    }
    std::printf("  %-28s %-5s %9.0f sent/s %9.0f deliveries/s (%.0f arrived/s), lost %.2f%%, "
                "p50 %s p99 %s ms, CPU %.3f ms/1000 (%.0f%% of a core), peak RSS %ld KiB, "
                "late %.1f%% (max %.0f ms), setup %.2f s",
                describe(l).c_str(), load::serverName(s), double(r.sent) / r.seconds,
                double(r.received) / r.seconds, double(r.arrived) / r.seconds, lostShare(r),
                ms(r.p50Ms).c_str(), ms(r.p99Ms).c_str(), r.cpuMsPer1000(), 100 * r.cpuShare,
                r.peakRssKiB, lateShare(r), r.maxLagMs, r.setupSeconds);
    if (r.closed) std::printf(", %d clients closed by the server", r.closed);
    if (r.refused) std::printf(", %llu sends refused", static_cast<unsigned long long>(r.refused));
    if (r.dropLines) std::printf(", %ld drop lines in its log", r.dropLines);
    if (l.flood)
        std::printf("; the flooder sent %ld positions over %ld connections", r.floodSent,
                    r.floodConnections);
    if (!r.firstError.empty()) std::printf("; first error: %s", r.firstError.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

// The table row of one load on one server: medians over the rounds.
void printRow(const char* loadName, Server s, const std::vector<Result>& runs) {
    std::vector<double> sent, delivered, lost, p50, p99, cpu, rss, late;
    for (const Result& r : runs) {
        if (!r.error.empty()) continue;
        sent.push_back(double(r.sent) / r.seconds);
        delivered.push_back(double(r.received) / r.seconds);
        lost.push_back(lostShare(r));
        p50.push_back(r.p50Ms);
        p99.push_back(r.p99Ms);
        cpu.push_back(r.cpuMsPer1000());
        rss.push_back(double(r.peakRssKiB) / 1024);
        late.push_back(lateShare(r));
    }
    if (sent.empty()) {
        std::printf("%-20s %-6s every run failed\n", loadName, load::serverName(s));
        return;
    }
    std::printf("%-20s %-6s %10.0f %12.0f %7.2f%% %8s %8s %10.3f %9.1f %6.1f%%\n", loadName,
                load::serverName(s), median(sent), median(delivered), median(lost),
                ms(median(p50)).c_str(), ms(median(p99)).c_str(), median(cpu), median(rss),
                median(late));
}

// The median over the rounds of the relay's p99, CPU per delivery and RSS over another's.
void printRatios(const std::vector<Result>& relay, const std::vector<Result>& other,
                 const char* name) {
    std::vector<double> p99, cpu, rss;
    for (std::size_t i = 0; i < relay.size() && i < other.size(); ++i) {
        const Result &a = relay[i], &b = other[i];
        if (!a.error.empty() || !b.error.empty()) continue;
        // A p99 past the histogram's end has no ratio.
        p99.push_back(std::isinf(a.p99Ms) || std::isinf(b.p99Ms) ? std::nan("")
                                                                 : a.p99Ms / b.p99Ms);
        cpu.push_back(a.cpuMsPer1000() / b.cpuMsPer1000());
        rss.push_back(double(a.peakRssKiB) / double(b.peakRssKiB));
    }
    char p99Text[32] = "-";
    if (!std::isnan(median(p99))) std::snprintf(p99Text, sizeof p99Text, "%.2fx", median(p99));
    std::printf("    relay/%-4s p99 %s, CPU per delivery %.2fx, peak RSS %.2fx\n", name, p99Text,
                median(cpu), median(rss));
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<Named> loads;
    for (int i = 3; i < argc; ++i) loads.push_back(parseLoad(argv[i]));
    if (loads.empty())
        for (const char* l : {"100all", "1000", "10000", "10000@2", "relay:100", "100+flood",
                              "relay:1000", "1000+flood", "relay:1000all"})
            loads.push_back(parseLoad(l));
    // 10 000 clients are 10 000 descriptors here and as many in the server, which inherits the
    // limit (the hard limit is the most a process may have).
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<Server> servers = {Server::Relay, Server::Nats, Server::Bare};
    const std::string nats = load::natsPath();
    // Latency on a shared machine is mostly scheduling delay: say how busy it was.
    std::ifstream loadavg("/proc/loadavg");
    std::string busy;
    std::getline(loadavg, busy);
    std::printf("duoscope-relay, nats-server and a bare epoll broadcaster on loopback, %ld cores, "
                "load average %s, descriptor limit %lu; %.1f s per run, %d rounds\n",
                sysconf(_SC_NPROCESSORS_ONLN), busy.substr(0, busy.find(' ')).c_str(),
                static_cast<unsigned long>(lim.rlim_cur), seconds, rounds);
    if (nats.empty()) {
        std::printf("nats-server is not installed: the NATS column is skipped\n");
        servers.erase(servers.begin() + 1);
    }
    std::vector<const Named*> compared, relayOnly;
    for (const Named& n : loads) (n.relayOnly ? relayOnly : compared).push_back(&n);
    bool failed = false;
    // runs[load][server][round]
    std::vector<std::vector<std::vector<Result>>> runs(
        compared.size(), std::vector<std::vector<Result>>(servers.size()));
    for (int round = 0; round < rounds; ++round) {
        if (!compared.empty()) std::printf("round %d\n", round + 1);
        for (std::size_t i = 0; i < compared.size(); ++i) {
            const std::size_t li = (i + std::size_t(round)) % compared.size();
            for (std::size_t j = 0; j < servers.size(); ++j) {
                const std::size_t si = (j + std::size_t(round)) % servers.size();
                Result r = load::run(servers[si], compared[li]->load, seconds);
                printRun(servers[si], compared[li]->load, r);
                failed = failed || !r.error.empty();
                runs[li][si].push_back(std::move(r));
            }
        }
    }
    if (!compared.empty()) {
        std::printf("\nmedians of %d rounds; lost: share of expected deliveries not received (the "
                    "relay keeps only a sender's latest position queued for a reader); CPU: server "
                    "ms per 1000 deliveries; late: sends >10 ms behind schedule\n",
                    rounds);
        std::printf("%-20s %-6s %10s %12s %8s %8s %8s %10s %9s %7s\n", "clients", "server",
                    "sent/s", "deliveries/s", "lost", "p50 ms", "p99 ms", "CPU/1000", "RSS MiB",
                    "late");
        for (std::size_t li = 0; li < compared.size(); ++li) {
            const std::string name = describe(compared[li]->load);
            for (std::size_t si = 0; si < servers.size(); ++si)
                printRow(si == 0 ? name.c_str() : "", servers[si], runs[li][si]);
            for (std::size_t si = 1; si < servers.size(); ++si)
                printRatios(runs[li][0], runs[li][si], load::serverName(servers[si]));
        }
    }
    if (!relayOnly.empty()) std::printf("\nthe relay alone\n");
    for (const Named* n : relayOnly) {
        const Result r = load::run(Server::Relay, n->load, seconds);
        printRun(Server::Relay, n->load, r);
        failed = failed || !r.error.empty();
    }
    return failed ? 1 : 0;
}
