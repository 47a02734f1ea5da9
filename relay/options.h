// duoscope-relay's command line.
#pragma once

#include <cstdio>

namespace relay {

struct Options {
    int port = 9009;
    const char* bind = "0.0.0.0";
    int roomSize = 2;           // 0: one room for everyone
    double maxRate = 100;       // messages a second per client; twice as many in hand
    int maxClients = 0;         // 0: as many as the descriptor limit allows
    int maxPerAddress = 64;     // connections from one IPv4 address
    double frameTimeout = 10.0; // seconds a begun frame may take to finish
};

void usage(std::FILE* to);

// 0 when options were read, 1 after --help (usage printed on stdout), 2 on a bad argument
// (said on stderr, with the usage).
int parseOptions(int argc, char** argv, Options& o);

} // namespace relay
