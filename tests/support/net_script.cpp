#include "support/net_script.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

Bytes Words(std::initializer_list<int32_t> words) {
    Bytes b(words.size() * 4);
    size_t at = 0;
    for (int32_t w : words) {
        const uint32_t v = htonl(uint32_t(w));
        std::memcpy(&b[at], &v, 4);
        at += 4;
    }
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

bool SendAll(int fd, const Bytes& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

Bytes ReadBytes(int fd, size_t n, int timeoutMs) {
    Bytes b(n);
    size_t got = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (pollfd p = {fd, POLLIN, 0}; got < n && Clock::now() < end;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (poll(&p, 1, int(left.count())) <= 0) break;
        const ssize_t r = recv(fd, b.data() + got, n - got, 0);
        if (r <= 0) break;
        got += size_t(r);
    }
    b.resize(got);
    return b;
}

int32_t WordAt(const Bytes& b, size_t offset) {
    uint32_t v = 0;
    if (offset + 4 <= b.size()) std::memcpy(&v, b.data() + offset, 4);
    return int32_t(ntohl(v));
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred())
        if (Clock::now() > end)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
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
        pollfd p = {listenFd, POLLIN, 0};
        if (poll(&p, 1, 10000) > 0) peer = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        const int one = 1; // every send its own segment, so a split stream arrives split
        setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (peer >= 0) script(peer);
    });
}

void ScriptedServer::Join() {
    if (thread.joinable()) thread.join();
}
