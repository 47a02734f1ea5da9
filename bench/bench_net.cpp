// Position latency through the relay on loopback: one process sends positions with
// sendPosition, another receives them through its session and onNetworkMessage; the time from
// the send call to the end of onNetworkMessage is taken for every message (both processes read
// the same monotonic clock). Two rhythms: 25 positions per second, as a walking viewer sends
// them, and one position every 250 ms.
#include "net/net.h"
#include "scene/scene.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMessages = 200;
double* g_sent; // shared with the sending process
std::vector<double> g_received(kMessages, 0.0);
std::atomic<int> g_count{0};

double Now() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Receive(uint8_t* body) {
    onNetworkMessage(body);
    const double t = Now();
    wire::Position p; // the body lies in a receive slot of kMaxBodyLength bytes
    wire::readPosition(body, wire::kMaxBodyLength, p);
    const int i = int(p.x);
    if (i >= 0 && i < kMessages && g_received[size_t(i)] == 0.0) {
        g_received[size_t(i)] = t;
        ++g_count;
    }
}

pid_t g_relay = -1;

int StartRelay() {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    g_relay = fork();
    if (g_relay == 0) {
        dup2(fds[1], 2);
        execl(DUO_BINARY_DIR "/duoscope-relay", "duoscope-relay", "--port", "0", "--bind",
              "127.0.0.1", nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string line;
    char ch;
    while (read(fds[0], &ch, 1) == 1 && ch != '\n') line += ch;
    const size_t at = line.rfind(':');
    return at == std::string::npos ? -1 : std::stoi(line.substr(at + 1));
}

void Measure(int port, int intervalMs) {
    std::fill(g_received.begin(), g_received.end(), 0.0);
    g_count = 0;
    int go[2];
    if (pipe(go) != 0) return;
    const pid_t sender = fork();
    if (sender == 0) {
        if (g_NetSession.open("127.0.0.1", port, 0) != 0) _exit(1);
        char c;
        if (read(go[0], &c, 1) != 1) _exit(1);
        for (int i = 0; i < kMessages; ++i) {
            g_SceneObjects[2].position.x = float(i);
            g_sent[i] = Now();
            sendPosition(2, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        }
        g_NetSession.closeAll();
        _exit(0);
    }
    g_NetSession.setCallback(Receive, nullptr);
    if (g_NetSession.open("127.0.0.1", port, 0) != 0) {
        std::printf("cannot connect to the relay\n");
        return;
    }
    if (write(go[1], "g", 1) != 1) return;
    waitpid(sender, nullptr, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (g_count < kMessages && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    g_NetSession.closeAll();
    close(go[0]);
    close(go[1]);

    std::vector<double> latency;
    for (int i = 0; i < kMessages; ++i)
        if (g_received[size_t(i)] != 0.0) latency.push_back(g_received[size_t(i)] - g_sent[i]);
    std::sort(latency.begin(), latency.end());
    if (latency.empty()) return;
    const auto at = [&](double q) { return latency[size_t(q * double(latency.size() - 1))]; };
    std::printf("position latency, one every %3d ms: median %6.2f ms, p99 %6.2f ms, max %6.2f "
                "ms (%zu of %d received)\n",
                intervalMs, at(0.5), at(0.99), latency.back(), latency.size(), kMessages);
}

long ResidentKb(pid_t pid, const char* field) {
    long value = 0;
    char line[256];
    const std::string key = std::string(field) + ": %ld";
    if (FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r")) {
        while (std::fgets(line, sizeof line, f)) std::sscanf(line, key.c_str(), &value);
        std::fclose(f);
    }
    return value;
}

// Resident memory of an idle networked viewer (connected, nobody sending), and what one more
// session (its 25 MiB of zero-filled receive storage) adds to a process's resident memory.
void Memory(int port) {
    const pid_t viewer = fork();
    if (viewer == 0) {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("DUOSCOPE_SERVER_PORT", std::to_string(port).c_str(), 1);
        execl(DUO_BINARY_DIR "/duoscope-net", "duoscope-net", nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(6));
    const long rss = ResidentKb(viewer, "VmRSS");
    kill(viewer, SIGTERM);
    waitpid(viewer, nullptr, 0);
    std::printf("idle networked viewer (640x480 windowed, connected): RSS %ld kB\n", rss);

    const long size0 = ResidentKb(getpid(), "VmSize"), rss0 = ResidentKb(getpid(), "VmRSS");
    auto* extra = new NetSession;
    const long size1 = ResidentKb(getpid(), "VmSize"), rss1 = ResidentKb(getpid(), "VmRSS");
    std::printf("one more NetSession: %+ld kB mapped, %+ld kB resident\n", size1 - size0,
                rss1 - rss0);
    delete extra;
}

} // namespace

int main() {
    g_sent = static_cast<double*>(mmap(nullptr, sizeof(double) * kMessages, PROT_READ | PROT_WRITE,
                                       MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    const int port = StartRelay();
    if (port <= 0) {
        std::printf("the relay did not start\n");
        return 1;
    }
    std::printf("sendPosition -> relay -> onNetworkMessage on loopback, %d messages each\n",
                kMessages);
    Measure(port, 40);
    Measure(port, 250);
    Memory(port);
    kill(g_relay, SIGTERM);
    waitpid(g_relay, nullptr, 0);
    return 0;
}
