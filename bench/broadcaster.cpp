// A bare epoll broadcaster, the floor bench_relay compares duoscope-relay against: one thread,
// non-blocking sockets, the relay's wire (an id frame first, then frames split by the length in
// their header), every whole frame passed bytes unchanged to the other members of the sender's
// room. Rooms are filled in accept order; a room size of 0 puts everyone in one room. No checks,
// no caps, no backlog policy: what a socket does not take is kept in the client's std::string,
// however large it grows. Listens on 127.0.0.1 on a free port and says which on stderr.
// usage: broadcaster [ROOM_SIZE] (default 2)
#include "net/wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <span>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Bytes = std::basic_string<std::uint8_t>;

struct Peer {
    Bytes in, out;
    std::size_t room = 0;
    bool dirty = false; // has output queued this turn
};

std::vector<Peer> s_peers;             // by descriptor
std::vector<std::vector<int>> s_rooms; // members' descriptors
std::vector<int> s_dirty;              // peers to flush at the end of the turn

void flush(int fd) {
    Peer& p = s_peers[fd];
    p.dirty = false;
    const ssize_t n = p.out.empty() ? 0 : send(fd, p.out.data(), p.out.size(), MSG_NOSIGNAL);
    if (n > 0) p.out.erase(0, std::size_t(n));
}

void queue(int fd, const std::uint8_t* bytes, std::size_t size) {
    Peer& p = s_peers[fd];
    p.out.append(bytes, size);
    if (!std::exchange(p.dirty, true)) s_dirty.push_back(fd);
}

// Reads what fd has and forwards each whole frame to the rest of its room. Sockets are
// edge-triggered: a read shorter than the buffer has emptied the socket.
void readPeer(int fd) {
    std::uint8_t buf[65536];
    Peer& p = s_peers[fd];
    ssize_t n;
    do {
        n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) p.in.append(buf, std::size_t(n));
    } while (n == ssize_t(sizeof buf));
    if (n == 0 || (n < 0 && errno != EAGAIN)) {
        std::erase(s_rooms[p.room], fd);
        p = Peer{};
        return void(close(fd));
    }
    std::size_t at = 0;
    while (p.in.size() - at >= std::size_t(wire::kHeaderSize)) {
        const std::size_t size =
            wire::kHeaderSize +
            std::uint32_t(wire::readWord(&p.in[at + wire::kHeaderBodyLengthAt]));
        if (p.in.size() - at < size) break;
        for (int m : s_rooms[p.room])
            if (m != fd) queue(m, p.in.data() + at, size);
        at += size;
    }
    p.in.erase(0, at);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t roomSize = argc > 1 ? std::stoul(argv[1]) : 2;
    rlimit lim{}; // bench_relay's, raised to its hard limit
    getrlimit(RLIMIT_NOFILE, &lim);
    s_peers.resize(lim.rlim_cur);
    const int lfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), one = 1;
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    if (bind(lfd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(lfd, SOMAXCONN) != 0)
        return 1;
    getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len);
    std::fprintf(stderr, "broadcaster: listening on 127.0.0.1:%d\n", int(ntohs(addr.sin_port)));
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{EPOLLIN, {.fd = lfd}};
    epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &ev);
    std::vector<epoll_event> events(1024);
    std::int32_t accepted = 0;
    for (;;) {
        const int n = std::max(0, epoll_wait(ep, events.data(), int(events.size()), -1));
        for (const epoll_event& got : std::span(events).first(std::size_t(n))) {
            const int fd = got.data.fd;
            for (int c; fd == lfd && (c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                const std::size_t room = roomSize ? std::size_t(accepted) / roomSize : 0;
                if (s_rooms.size() <= room) s_rooms.resize(room + 1);
                s_rooms[room].push_back(c);
                s_peers[c].room = room;
                std::uint8_t id[wire::kIdAssignmentSize];
                wire::writeIdAssignment(id, ++accepted);
                queue(c, id, sizeof id);
                epoll_event add{EPOLLIN | EPOLLOUT | EPOLLET, {.fd = c}};
                epoll_ctl(ep, EPOLL_CTL_ADD, c, &add);
            }
            if (fd != lfd && (got.events & EPOLLOUT)) flush(fd);
            if (fd != lfd && (got.events & (EPOLLIN | EPOLLHUP | EPOLLERR))) readPeer(fd);
        }
        // Everything read this turn goes out in one send per peer.
        for (int fd : s_dirty) flush(fd);
        s_dirty.clear();
    }
}
