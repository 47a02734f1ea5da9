// The network session over POSIX sockets. The main thread opens, sends and closes; the receive
// thread of channel 0 reads pieces and hands bodies to the callback.
//
// Threads meet in three places: the flags isOpen, threadRunning, connected and ownId are
// atomics; every use of a channel's socket for sending and its close take the channel's
// sendLock; and the descriptor itself is released only after the receive thread has been
// joined, so no thread ever reads from or writes to a recycled descriptor number.
#include "net/net.h"
#include "platform/invariant.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

NetSession g_NetSession;

static ReceiveThreadArgs s_receiveThreadArgs;

namespace {

// Linger on, 0 s: the connection is reset rather than closed gracefully, and both directions
// end at once. The descriptor itself stays until releaseChannel.
void AbortConnection(int fd) {
    const linger off = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    shutdown(fd, SHUT_RDWR);
}

// Wire to host order, in place.
void ConvertWord(uint8_t* p) {
    const int32_t v = wire::readWord(p);
    std::memcpy(p, &v, 4);
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Waits for events on fd until deadline (steady milliseconds); false on time-out or failure.
bool WaitUntil(int fd, short events, int64_t deadline) {
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd p = {fd, events, 0};
        const int r = poll(&p, 1, int(left));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

void* ReceiveThreadProc(void*) {
    const ReceiveThreadArgs args = s_receiveThreadArgs;
    if (args.session) args.session->receiveLoop(args.channel);
    return nullptr;
}

} // namespace

int netStartup() {
    return 0;
}

void netCleanup() {}

NetSession::NetSession() {
    // Untouched calloc'd pages stay out of resident memory: the 25 MiB of slots cost nothing
    // until pieces arrive, and then only the pages of slot 0.
    channels = static_cast<NetChannel*>(std::calloc(kNetChannels, sizeof(NetChannel)));
    if (!channels) return;
    for (int i = 0; i < kNetChannels; ++i) {
        new (&channels[i]) NetChannel();
        channels[i].slots = static_cast<ReceiveSlot*>(std::calloc(kNetSlots, sizeof(ReceiveSlot)));
        if (!channels[i].slots) {
            for (int j = 0; j <= i; ++j) {
                std::free(channels[j].slots);
                channels[j].~NetChannel();
            }
            std::free(channels);
            channels = nullptr;
            return;
        }
    }
}

NetSession::~NetSession() {
    if (!channels) return;
    closeAll();
    for (int i = 0; i < kNetChannels; ++i) {
        std::free(channels[i].slots);
        channels[i].~NetChannel();
    }
    std::free(channels);
    channels = nullptr;
}

int NetSession::setCallback(NetMessageCallback callback, HWND w) {
    messageCallback = callback;
    window = w;
    return 0;
}

// Reads 12-byte records until one assigns an id of 1 or more. Bounded: a silent server or a
// stream of useless records ends with false after kNetHandshakeWaitMs.
bool NetSession::handshake(int fd) {
    const int64_t deadline = NowMs() + kNetHandshakeWaitMs;
    uint8_t reply[wire::kIdAssignmentSize];
    int got = 0;
    while (ownId < 1) {
        const ssize_t n = recv(fd, reply + got, sizeof reply - size_t(got), 0);
        if (n == 0) return false; // the server went away
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            if (!WaitUntil(fd, POLLIN, deadline)) return false;
            continue;
        }
        got += int(n);
        if (got < wire::kIdAssignmentSize) continue;
        got = 0;
        if (wire::readWord(reply) == wire::kMarkerIdAssignment)
            ownId = wire::readWord(reply + wire::kIdAssignmentIdAt);
        if (NowMs() >= deadline && ownId < 1) return false;
    }
    return true;
}

int NetSession::open(const char* host, int port, int mode) {
    if (mode != 0) return -2;
    if (!channels || port < 0 || port > 65535) return -1;
    NetChannel& c = channels[0];
    if (c.isOpen) return -1; // one connection per session
    releaseChannel(0);       // a channel closed earlier gives back its thread and descriptor

    in_addr address = {};
    if (!host || inet_aton(host, &address) == 0) return -1; // no name look-up
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Non-blocking from the start, so that the connect is bounded too.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(uint16_t(port));
    peer.sin_addr = address;
    if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        int error = errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            if (WaitUntil(fd, POLLOUT, NowMs() + kNetConnectWaitMs)) {
                socklen_t len = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
            }
        }
        if (error != 0) {
            ::close(fd);
            return -1;
        }
    }
    // Header and body go out as two small sends; without this the body would wait for the
    // acknowledgement of the header.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    {
        std::lock_guard<std::mutex> lock(c.sendLock);
        c.socketHandle = fd;
        c.peerAddress = peer;
        c.peerAddressLength = sizeof peer;
        c.readEvent = {fd, POLLIN, 0};
        c.readPhase = 0;
        c.nextReadSize = wire::kHeaderSize;
        c.queuedCount = 0;
        c.nonBlocking = true;
        c.isOpen = true;
    }
    ++openCount;

    const bool gotId = ownId >= 1 || handshake(fd);
    bool started = false;
    if (gotId) {
        connected = true;
        s_receiveThreadArgs = {0, this};
        started = pthread_create(&c.thread, nullptr, ReceiveThreadProc, nullptr) == 0;
    }
    if (!started) {
        // Nothing started: give the socket back and leave the session unconnected.
        connected = false;
        {
            std::lock_guard<std::mutex> lock(c.sendLock);
            c.isOpen = false;
        }
        --openCount;
        releaseChannel(0);
        return -1;
    }
    c.threadStarted = true;
    waitForReceiveThread(0);
    return 0;
}

NetChannel& NetSession::channelAt(int channel) {
    DUO_ASSERT(channels && channel >= 0 && channel < kNetChannels);
    return channels[channel];
}

void NetSession::waitForReceiveThread(int channel) {
    // threadSeen is set once the thread has copied its arguments and stays set, so a thread
    // that ends at once cannot be missed. A futex wait, not a spin.
    channelAt(channel).threadSeen.wait(false);
}

void NetSession::receiveLoop(int channel) {
    NetChannel& c = channelAt(channel);
    pollfd event = c.readEvent;
    c.threadRunning = true;
    c.threadSeen = true;
    c.threadSeen.notify_all();
    while (c.isOpen) {
        event.revents = 0;
        const int r = poll(&event, 1, kNetTurnMs);
        dispatchOne(channel);
        if (r < 0) {
            if (errno == EINTR) continue;
            break; // the wait failed: leave with isOpen as it is
        }
        if (r == 0 || !c.isOpen) continue;
        if (pollNetworkEvents(channel, event.revents) != 0) {
            // Lost connection, failed socket or broken framing: the channel is closed as the
            // peer would see a lost connection. connected stays set; sends fail quietly.
            std::lock_guard<std::mutex> lock(c.sendLock);
            if (c.isOpen) {
                AbortConnection(c.socketHandle);
                c.isOpen = false;
                --openCount;
            }
            break;
        }
    }
    c.threadRunning = false;
}

int NetSession::pollNetworkEvents(int channel, short events) {
    if (events & POLLNVAL) return -1;
    if (!(events & (POLLIN | POLLHUP | POLLERR))) return 0;
    return readPiece(channel);
}

int NetSession::readPiece(int channel) {
    NetChannel& c = channelAt(channel);
    if (c.readPhase == 0) c.nextReadSize = wire::kHeaderSize;
    if (c.queuedCount >= kNetSlots) return -1;
    ReceiveSlot& slot = c.slots[c.queuedCount];
    slot.pieceLength = c.nextReadSize;
    slot.sourceAddressLength = sizeof(sockaddr_in);
    if (receiveExact(c.socketHandle, slot.data, c.nextReadSize, &slot.sourceAddress,
                     &slot.sourceAddressLength, c.isOpen) < 0)
        return -1;
    ++c.queuedCount;
    c.readPhase ^= 1;

    ReceiveSlot& head = c.slots[0];
    head.inUse = true;
    ConvertWord(head.data);
    ConvertWord(head.data + 4);
    ConvertWord(head.data + 8);
    int32_t marker;
    std::memcpy(&marker, head.data, 4);
    if (marker == wire::kMarkerHeader) {
        ConvertWord(head.data + wire::kHeaderBodyLengthAt);
        int32_t length;
        std::memcpy(&length, head.data + wire::kHeaderBodyLengthAt, 4);
        // A header where a body was expected leaves the channel waiting for a body.
        if (c.nextReadSize != wire::kHeaderSize) c.readPhase ^= 1;
        head.inUse = false;
        --c.queuedCount;
        std::memmove(&c.slots[0], &c.slots[1], sizeof(ReceiveSlot) * size_t(c.queuedCount));
        // A body that cannot hold its three words or does not fit a slot breaks the stream.
        if (length < wire::kMinBodyLength || length > wire::kMaxBodyLength) return -1;
        c.nextReadSize = length;
        return 0;
    }
    head.inUse = false;
    return 0;
}

int receiveExact(int fd, uint8_t* buffer, int size, sockaddr_in* source, int32_t* sourceLength,
                 const std::atomic<bool>& keepGoing) {
    int got = 0;
    while (got < size) {
        socklen_t len = sizeof(sockaddr_in);
        const ssize_t n = recvfrom(fd, buffer + got, size_t(size - got), 0,
                                   reinterpret_cast<sockaddr*>(source), &len);
        if (n > 0) {
            got += int(n);
            *sourceLength = int32_t(len);
            continue;
        }
        if (n == 0) return -1; // the peer closed
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        // The rest of the piece is not there yet: wait a turn, and give up once the channel
        // is closed, so a piece that never completes cannot hold the close back.
        if (!keepGoing) return -1;
        pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, kNetTurnMs);
    }
    return size;
}

void NetSession::dispatchOne(int channel) {
    NetChannel& c = channelAt(channel);
    if (c.queuedCount < 1 || c.slots[0].inUse) return;
    ReceiveSlot& head = c.slots[0];
    head.inUse = true;
    int32_t type, source;
    std::memcpy(&type, head.data + wire::kBodyTypeAt, 4);
    std::memcpy(&source, head.data + wire::kBodySourceAt, 4);
    if (type == wire::kTypeGoodbye) {
        closeChannel(source, false);
    } else if (messageCallback) {
        messageCallback(head.data);
    }
    head.inUse = false;
    --c.queuedCount;
    std::memmove(&c.slots[0], &c.slots[1], sizeof(ReceiveSlot) * size_t(c.queuedCount));
}

int NetSession::sendTo(int channel, const void* bytes, int length) {
    if (channel == -1) {
        sendToAll(bytes, length);
        return length;
    }
    if (!channels || channel < 0 || channel >= kNetChannels) return -1;
    NetChannel& c = channels[channel];
    std::lock_guard<std::mutex> lock(c.sendLock);
    return sendLocked(c, channel, bytes, length);
}

// Sends all of bytes or gives the channel up: a message cut short would leave the peer reading
// the next message's bytes as the rest of this one. A full socket gets kNetSendWaitMs to drain.
int NetSession::sendLocked(NetChannel& c, int channel, const void* bytes, int length) {
    if (!c.isOpen || c.socketHandle < 0 || length < 0) return -1;
    const auto* p = static_cast<const uint8_t*>(bytes);
    const sockaddr* to =
        c.peerAddressLength != 0 ? reinterpret_cast<const sockaddr*>(&c.peerAddress) : nullptr;
    const int64_t deadline = NowMs() + kNetSendWaitMs;
    int sent = 0;
    while (sent < length) {
        const ssize_t n = sendto(c.socketHandle, p + sent, size_t(length - sent), MSG_NOSIGNAL, to,
                                 to ? socklen_t(c.peerAddressLength) : 0);
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            WaitUntil(c.socketHandle, POLLOUT, deadline))
            continue;
        break;
    }
    if (sent == length) return length;
    closeLocked(c, channel, false);
    return sent > 0 ? sent : -1;
}

int NetSession::sendToAll(const void* bytes, int length) {
    if (ownId == 0) return -1;
    return sendTo(0, bytes, length);
}

int NetSession::sendMessage(int channel, void* body, int type, int size, int count) {
    uint8_t header[wire::kHeaderSize];
    wire::writeHeader(header, channel, ownId, size);
    sendTo(channel, header, sizeof header);
    wire::writeBodyWords(static_cast<uint8_t*>(body), type, channel, ownId);
    return sendTo(channel, body, size * count);
}

void NetSession::closeChannel(int channel, bool notify) {
    if (!channels || channel < 0 || channel >= kNetChannels) return;
    NetChannel& c = channels[channel];
    std::lock_guard<std::mutex> lock(c.sendLock);
    closeLocked(c, channel, notify);
}

void NetSession::closeLocked(NetChannel& c, int channel, bool notify) {
    if (!c.isOpen) return;
    if (notify) {
        // The header and the body go to the socket in two sends, as every framed message does.
        uint8_t goodbye[wire::kGoodbyeFrameSize];
        wire::writeGoodbye(goodbye, channel, ownId);
        sendLocked(c, channel, goodbye, wire::kHeaderSize);
        sendLocked(c, channel, goodbye + wire::kHeaderSize, wire::kGoodbyeBodyLength);
        if (!c.isOpen) return; // a failed send closed it already
    }
    AbortConnection(c.socketHandle);
    if (channel == 0) {
        connected = false;
        ownId = -2;
    }
    c.isOpen = false;
    --openCount;
}

// Joins the channel's receive thread (it sees isOpen cleared, or its socket shut down, within
// one 100 ms turn) and then releases the descriptor.
void NetSession::releaseChannel(int channel) {
    NetChannel& c = channelAt(channel);
    if (c.threadStarted) {
        pthread_join(c.thread, nullptr);
        c.threadStarted = false;
    }
    c.threadSeen = false;
    std::lock_guard<std::mutex> lock(c.sendLock);
    if (c.socketHandle >= 0) ::close(c.socketHandle);
    c.socketHandle = -1;
    c.readEvent = {-1, 0, 0};
    c.queuedCount = 0;
    c.readPhase = 0;
}

void NetSession::closeAll() {
    if (!channels) return;
    for (int i = 0; i < kNetChannels; ++i) closeChannel(i, connected);
    for (int i = 0; i < kNetChannels; ++i) releaseChannel(i);
    connected = false;
}
