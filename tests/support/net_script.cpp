#include "support/net_script.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Bytes Words(std::initializer_list<int32_t> words) {
    Bytes b;
    for (int32_t w : words) {
        const uint32_t v = htonl(uint32_t(w));
        const auto* p = reinterpret_cast<const uint8_t*>(&v);
        b.insert(b.end(), p, p + 4);
    }
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

bool SendAll(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

Bytes ReadBytes(int fd, size_t n, int timeoutMs) {
    Bytes b(n);
    size_t got = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p = {fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) break;
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

ScriptedServer::ScriptedServer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listenFd_, 4);
    socklen_t len = sizeof a;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

ScriptedServer::~ScriptedServer() {
    Join();
    if (peer_ >= 0) close(peer_);
    close(listenFd_);
}

void ScriptedServer::Run(std::function<void(int fd)> script) {
    thread_ = std::thread([this, script] {
        pollfd p = {listenFd_, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return;
        peer_ = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        const int one = 1;
        setsockopt(peer_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (peer_ >= 0) script(peer_);
    });
}

void ScriptedServer::Join() {
    if (thread_.joinable()) thread_.join();
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
