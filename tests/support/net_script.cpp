#include "support/net_script.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

// Polls fd for input until end; true when there is some.
static bool Readable(int fd, Clock::time_point end) {
    pollfd p = {fd, POLLIN, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    return poll(&p, 1, int(std::max<int64_t>(0, left))) > 0;
}

Bytes Words(std::initializer_list<int32_t> words) {
    Bytes b;
    for (int32_t w : words)
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(uint32_t(w) >> s));
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

int32_t WordAt(const Bytes& b, size_t at) {
    return at + 4 > b.size()
               ? 0
               : int32_t(uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]);
}

bool SendAll(int fd, const Bytes& bytes) {
    ssize_t n = 0;
    for (size_t sent = 0; sent < bytes.size(); sent += size_t(n))
        if ((n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)) <= 0)
            return false;
    return true;
}

Bytes ReadBytes(int fd, size_t n, int timeoutMs) {
    Bytes b(n);
    size_t got = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (ssize_t r = 1; got < n && r > 0 && Readable(fd, end);
         got += size_t(std::max<ssize_t>(r, 0)))
        r = recv(fd, b.data() + got, n - got, 0);
    b.resize(got);
    return b;
}

Bytes ReadFrame(int fd, int timeoutMs) {
    const Bytes h = ReadBytes(fd, 16, timeoutMs);
    const size_t body = size_t(std::clamp(WordAt(h, 12), 0, 10240));
    return h.size() < 16 ? h : Concat({h, ReadBytes(fd, body, timeoutMs)});
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    for (int waited = 0; !pred(); waited += 2) {
        if (waited > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int Connect(int port, int receiveBuffer) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
    if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a = {AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

std::string LocalAddress(int fd) {
    sockaddr_in a = {};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

ScriptedServer::ScriptedServer() {
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listenFd, 4);
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
}

ScriptedServer::~ScriptedServer() {
    Join();
    if (peer >= 0) close(peer);
    close(listenFd);
}

void ScriptedServer::Run(std::function<void(int fd)> script) {
    thread = std::thread([this, script] {
        if (Readable(listenFd, Clock::now() + std::chrono::seconds(10)))
            peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        const int one = 1; // every send its own segment, so a split stream arrives split
        if (peer >= 0 && setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0)
            script(peer);
    });
}

void ScriptedServer::Serve(Bytes bytes, size_t readBack, int timeoutMs, bool split) {
    Run([=, this](int fd) {
        for (size_t i = 0; split && i < bytes.size(); ++i) SendAll(fd, Bytes{bytes[i]});
        if (!split) SendAll(fd, bytes);
        got = ReadBytes(fd, readBack, timeoutMs);
    });
}

void ScriptedServer::Join() {
    if (thread.joinable()) thread.join();
}

RelayProcess::RelayProcess(std::vector<std::string> args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    fcntl(fds[0], F_SETPIPE_SZ, 1 << 20); // the relay never blocks on its log
    if ((pid = fork()) == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::vector<char*> argv{const_cast<char*>(DUO_BINARY_DIR "/duoscope-relay")};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    if (WaitLog("listening on 127.0.0.1:"))
        port = std::stoi(log.substr(log.find("127.0.0.1:") + 10));
}

RelayProcess::~RelayProcess() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    close(out);
}

size_t RelayProcess::Count(const std::string& text) const {
    size_t n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
}

bool RelayProcess::WaitLog(const std::string& text, size_t times, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    char buf[4096];
    for (ssize_t n = 1; n > 0 && Count(text) < times && Readable(out, end);
         log.append(buf, size_t(std::max<ssize_t>(n, 0))))
        n = read(out, buf, sizeof buf);
    return Count(text) >= times;
}

int RelayProcess::ExitCode() {
    WaitLog("\x01"); // reads to the end of its output
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
