// Loopback helpers for the network tests: wire words, a client socket, a scripted server that
// accepts one client on its own thread, and duoscope-relay run as a child process. Every wait
// is bounded and on a descriptor, a process or (WaitFor) a flag of the code under test.
#pragma once

#include "net/wire.h"
#include "support/viewer_process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline bool Readable(int fd, Clock::time_point end) {
    pollfd p = {fd, POLLIN, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return poll(&p, 1, int(std::max<int64_t>(0, left))) > 0;
}
inline Clock::time_point After(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

inline Bytes Words(std::initializer_list<int32_t> words) { // in network order
    Bytes b;
    for (int32_t w : words)
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(uint32_t(w) >> s));
    return b;
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}
// A framed message from source: header announcing length, then a body of type.
inline Bytes Frame(int source, int32_t length, int32_t type = 500) {
    Bytes b = Words({-1, 0, source, length, type, 0, source});
    for (int32_t i = 12; i < length; ++i) b.push_back(uint8_t(i * 7 + source));
    return b;
}
inline int32_t WordAt(const Bytes& b, size_t at) { // 0 past the end
    return at + 4 > b.size() ? 0 : wire::readWord(&b[at]);
}
inline bool SendAll(int fd, const Bytes& bytes) {
    ssize_t n = 0;
    for (size_t sent = 0; sent < bytes.size(); sent += size_t(n))
        if ((n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)) <= 0)
            return false;
    return true;
}
// Exactly n bytes within timeoutMs; fewer when the peer closes or time runs out.
inline Bytes ReadBytes(int fd, size_t n, int timeoutMs = 5000) {
    Bytes b(n);
    size_t got = 0;
    const auto end = After(timeoutMs);
    for (ssize_t r = 1; got < n && r > 0 && Readable(fd, end);
         got += size_t(std::max<ssize_t>(r, 0)))
        r = recv(fd, b.data() + got, n - got, 0);
    b.resize(got);
    return b;
}
// One framed message, header and body; shorter when the stream ends first.
inline Bytes ReadFrame(int fd, int timeoutMs = 5000) {
    const Bytes h = ReadBytes(fd, 16, timeoutMs);
    const size_t body = size_t(std::clamp(WordAt(h, 12), 0, 10240));
    return h.size() < 16 ? h : Concat({h, ReadBytes(fd, body, timeoutMs)});
}
// Polls pred until it holds or timeoutMs passes: for flags with nothing to wait on.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    for (const auto end = After(timeoutMs); !pred();
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (Clock::now() > end) return false;
    return true;
}
// A client of 127.0.0.1:port from the loopback address from (of [::1]:port when from is
// "::1"), every send its own segment; -1 when the connect fails.
inline int Connect(int port, int receiveBuffer = 0, const char* from = "127.0.0.1") {
    const bool v6 = std::string(from) == "::1";
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
    if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in6 a6 = {AF_INET6, htons(uint16_t(port)), 0, in6addr_loopback, 0};
    if (v6)
        return connect(fd, reinterpret_cast<const sockaddr*>(&a6), sizeof a6) == 0
                   ? fd
                   : (close(fd), -1);
    sockaddr_in a = {AF_INET, 0, {}, {}};
    inet_pton(AF_INET, from, &a.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a = {AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : (close(fd), -1);
}
inline std::string LocalAddress(int fd) { // "127.0.0.x:port" or "[::1]:port" of this end
    sockaddr_in6 a = {};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    const auto& a4 = reinterpret_cast<const sockaddr_in&>(a);
    char host[INET6_ADDRSTRLEN] = "";
    if (a.sin6_family == AF_INET6)
        return "[" + (inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host) +
                      ("]:" + std::to_string(ntohs(a.sin6_port))));
    inet_ntop(AF_INET, &a4.sin_addr, host, sizeof host);
    return host + (":" + std::to_string(ntohs(a4.sin_port)));
}

struct ScriptedServer {
    int listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port = 0, peer = -1;
    std::thread thread;
    Bytes got;
    ScriptedServer() {
        sockaddr_in a = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listenFd, 4);
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~ScriptedServer() {
        Join();
        if (peer >= 0) close(peer);
        close(listenFd);
    }
    void Run(std::function<void(int fd)> script) { // accepts one client, then script(fd)
        thread = std::thread([this, script] {
            if (Readable(listenFd, After(10000)))
                peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            const int one = 1; // every send its own segment, so a split stream arrives split
            if (peer >= 0 && setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0)
                script(peer);
        });
    }
    // Sends bytes (one byte per segment when split; then the end of its stream on hangUp), then
    // reads up to readBack into got.
    void Serve(Bytes bytes, size_t readBack, int timeoutMs = 5000, bool split = false,
               bool hangUp = false) {
        Run([=, this](int fd) {
            for (size_t i = 0; split && i < bytes.size(); ++i) SendAll(fd, Bytes{bytes[i]});
            if (!split) SendAll(fd, bytes);
            if (hangUp) shutdown(fd, SHUT_WR);
            got = ReadBytes(fd, readBack, timeoutMs);
        });
    }
    void Join() {
        if (thread.joinable()) thread.join();
    }
};

// The relay with its stdout and stderr in a pipe roomy enough for every line a test provokes;
// port is the one it reports listening on, IPv4 or IPv6 (0 when it reported none).
struct RelayProcess {
    pid_t pid = -1;
    int out = -1, port = 0;
    std::string log;
    explicit RelayProcess(std::vector<std::string> args = {"--port", "0", "--bind", "127.0.0.1"}) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        fcntl(fds[0], F_SETPIPE_SZ, 1 << 20); // the relay never blocks on its log
        pid = StartProgram(ViewerPath("duoscope-relay"), args, {}, "/", fds[1]); // writes no file
        close(fds[1]);
        out = fds[0];
        if (WaitLog("\n") && log.rfind("duoscope-relay: listening on ", 0) == 0) // its first line
            port = std::stoi(log.substr(log.rfind(':', log.find('\n')) + 1));
    }
    ~RelayProcess() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        close(out);
    }
    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    // Reads the log until text is in it times; false after ms or at its end.
    bool WaitLog(const std::string& text, size_t times = 1, int ms = 10000) {
        char buf[4096];
        const auto end = After(ms);
        for (ssize_t n = 1; n > 0 && Count(text) < times && Readable(out, end);
             log.append(buf, size_t(std::max<ssize_t>(n, 0))))
            n = read(out, buf, sizeof buf);
        return Count(text) >= times;
    }
    int ExitCode() { // waits for the end
        int status = 0;
        WaitLog("\x01"); // reads to the end of its output
        waitpid(std::exchange(pid, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};
