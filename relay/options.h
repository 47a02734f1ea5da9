// duoscope-relay's command line.
#pragma once

#include <cstdio>

namespace relay {

struct Options {
    int port = 9009;
    const char* bind = "0.0.0.0"; // an IPv4 or IPv6 literal; "::" takes IPv4 clients too
    int roomSize = 2;             // 0: one room for everyone
    double maxRate = 100;         // messages a second per client; twice as many in hand
    int maxClients = 0;           // 0: as many as the descriptor limit allows
    int maxPerAddress = 64;       // connections from one IPv4 address or IPv6 /64
    double frameTimeout = 10.0;   // seconds a begun frame may take to finish
    double stats = 0;             // seconds between stats lines; 0: only on SIGUSR1
};

void usage(std::FILE* to);

// 0 when options were read, 1 after --help or --version (printed on stdout), 2 on a bad
// argument (said on stderr, with the usage).
int parseOptions(int argc, char** argv, Options& o);

} // namespace relay
