#include "options.h"
#include "address.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace relay {

void usage(std::FILE* to) {
    std::fprintf(
        to,
        "usage: duoscope-relay [--port PORT] [--bind ADDRESS] [OPTION...]\n"
        "  --port PORT             TCP port to listen on (default 9009, 0 picks a free one)\n"
        "  --bind ADDRESS          IPv4 or IPv6 address to listen on (default: all IPv4\n"
        "                          interfaces; '::' is all interfaces, IPv6 and IPv4)\n"
        "  --room-size N           viewers per room, 2 to 20 (default 2); 0: one room for all\n"
        "  --max-rate N            messages a second a client may send, 1 to 100000, with\n"
        "                          2 N in hand; a frame counts one per KiB begun (default 100)\n"
        "  --max-clients N         clients at once (default: the descriptor limit less 16)\n"
        "  --max-per-address N     clients at once from one IPv4 address or IPv6 /64\n"
        "                          (default 64)\n"
        "  --frame-timeout SECONDS time a begun frame may take to arrive whole (default 10)\n"
        "  --stats SECONDS         a stats line every SECONDS (default: only on SIGUSR1)\n"
        "  --version               print the version and exit\n"
        "  --help                  show this text\n");
}

namespace {

bool parseNumber(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= low && v <= high)) return false;
    out = v;
    return true;
}

bool parseInt(const char* text, int low, int high, int& out) {
    double v = 0;
    if (!parseNumber(text, low, high, v) || v != double(int(v))) return false;
    out = int(v);
    return true;
}

} // namespace

int parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto is = [&](const char* name) { return std::strcmp(arg, name) == 0; };
        if (is("--help") || is("-h")) {
            usage(stdout);
            return 1;
        }
        if (is("--version")) {
            std::printf("duoscope-relay %s\n", DUOSCOPE_VERSION);
            return 1;
        }
        bool known = true, ok = value != nullptr;
        if (!ok) {
        } else if (is("--port")) {
            ok = parseInt(value, 0, 65535, o.port);
        } else if (is("--bind")) {
            sockaddr_storage unused{};
            socklen_t length = 0;
            ok = parseAddress(value, 0, unused, length);
            o.bind = value;
        } else if (is("--room-size")) {
            ok = parseInt(value, 0, 20, o.roomSize) && o.roomSize != 1;
        } else if (is("--max-rate")) {
            ok = parseNumber(value, 1, 100000, o.maxRate);
        } else if (is("--max-clients")) {
            ok = parseInt(value, 1, 1 << 24, o.maxClients);
        } else if (is("--max-per-address")) {
            ok = parseInt(value, 1, 1 << 24, o.maxPerAddress);
        } else if (is("--frame-timeout")) {
            ok = parseNumber(value, 0.1, 3600, o.frameTimeout);
        } else if (is("--stats")) {
            ok = parseNumber(value, 0.1, 86400, o.stats);
        } else {
            known = ok = false;
        }
        if (!ok) {
            if (known && value)
                std::fprintf(stderr, "duoscope-relay: bad value '%s' for %s\n", value, arg);
            else
                std::fprintf(stderr, "duoscope-relay: bad argument '%s'\n", arg);
            usage(stderr);
            return 2;
        }
        ++i;
    }
    return 0;
}

} // namespace relay
