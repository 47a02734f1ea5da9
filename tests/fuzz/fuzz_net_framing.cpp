// The session's receive framing on arbitrary bytes: the input goes into one end of a socket
// pair, whose other end stands in for channel 0, and readPiece and dispatchOne take it apart
// as the receive thread does, until the stream ends or breaks.
#include "net/net.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

static NetSession g_Session;
static uint32_t g_Sink;

static void Touch(uint8_t* body) { // reads the 32 bytes the position callback reads
    for (int i = 0; i < 32; ++i) g_Sink += body[i];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fds[2];
    const int room = 1 << 20;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    for (ssize_t n = 0; size > 0 && (n = write(fds[1], data, size)) > 0; data += n)
        size -= size_t(n);
    shutdown(fds[1], SHUT_WR); // the end of the input reads as the peer closing
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    g_Session.setCallback(Touch, nullptr);
    g_Session.ownId = 1; // connected, as after the handshake
    g_Session.connected = true;
    NetChannel& c = g_Session.channels[0];
    c.socketHandle = fds[0];
    c.readPhase = c.queuedCount = 0;
    c.isOpen = true;
    ++g_Session.openCount;
    for (int turn = 0; turn < 100000 && c.isOpen; ++turn) {
        g_Session.dispatchOne(0);
        if (!c.isOpen || g_Session.readPiece(0) != 0) break;
    }
    g_Session.dispatchOne(0);
    if (c.isOpen.exchange(false)) --g_Session.openCount;
    c.socketHandle = -1;
    close(fds[0]);
    close(fds[1]);
    return 0;
}
