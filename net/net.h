// The network session: one TCP connection to the relay (channel 0), the id handshake, a receive
// thread that reads length-framed messages and hands each body to a callback, framed sends and
// the goodbye; the server connection at start-up and the position messages. The layout of
// what goes over the wire is net/wire.h's.
#pragma once

#include "net/wire.h"
#include "platform/win/window.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>

constexpr int kNetChannels = 20;
constexpr int kNetSlots = 128;
// Bounds that keep start-up from freezing on a dead or silent server.
constexpr int kNetConnectWaitMs = 3000;
constexpr int kNetHandshakeWaitMs = 3000;
// How long one send may wait for room in the socket before the channel is given up.
constexpr int kNetSendWaitMs = 1000;
// The receive thread's wait per turn.
constexpr int kNetTurnMs = 100;

struct ReceiveSlot {
    uint8_t data[wire::kMaxBodyLength]; // a header or a body
    int32_t pieceLength;
    sockaddr_in sourceAddress; // filled by every read; nothing reads it (one TCP peer per channel)
    int32_t sourceAddressLength;
    bool inUse;
};

struct NetChannel {
    int socketHandle = -1; // -1 when none: 0 is a valid descriptor here
    sockaddr_in peerAddress = {};
    int32_t peerAddressLength = 0;
    std::atomic<bool> isOpen{false};
    std::atomic<bool> threadRunning{false};
    bool nonBlocking = false; // set when the socket is made non-blocking; nothing reads it
    int32_t readPhase = 0;
    int32_t nextReadSize = 0;
    int32_t queuedCount = 0;
    ReceiveSlot* slots = nullptr;
    pollfd readEvent = {-1, 0, 0}; // the socket's readability, waited on with poll
    // Stand-ins for what the event objects did implicitly: the thread to join at close, and a
    // lock that keeps sends and the close of the socket apart.
    pthread_t thread = {};
    bool threadStarted = false;
    std::atomic<bool> threadSeen{false};
    std::mutex sendLock;
};

using NetMessageCallback = void (*)(uint8_t* body);

class NetSession {
  public:
    NetSession();
    ~NetSession();
    NetSession(const NetSession&) = delete;
    NetSession& operator=(const NetSession&) = delete;

    int setCallback(NetMessageCallback callback, HWND window);
    int open(const char* host, int port, int mode);
    int sendTo(int channel, const void* bytes, int length);
    int sendToAll(const void* bytes, int length);
    int sendMessage(int channel, void* body, int type, int size, int count);
    void closeChannel(int channel, bool notify);
    void closeAll();

    // The receive thread's steps, reachable for the framing tests and the fuzzer.
    void receiveLoop(int channel);
    int pollNetworkEvents(int channel, short events);
    int readPiece(int channel);
    void dispatchOne(int channel);

    std::atomic<int32_t> ownId{0};
    std::atomic<bool> connected{false};
    NetMessageCallback messageCallback = nullptr;
    HWND window = nullptr; // kept by setCallback; nothing reads it (the callback needs no window)
    std::atomic<int32_t> openCount{0};
    NetChannel* channels = nullptr;

  private:
    NetChannel& channelAt(int channel); // a channel the session has; checked in test builds
    void waitForReceiveThread(int channel);
    bool handshake(int socketHandle);
    int sendLocked(NetChannel& c, int channel, const void* bytes, int length);
    void closeLocked(NetChannel& c, int channel, bool notify);
    void releaseChannel(int channel);
};

struct ReceiveThreadArgs {
    int32_t channel;
    NetSession* session;
};

// Reads exactly size bytes into buffer. Ends early, returning -1, when the peer closes, the
// socket fails for good or keepGoing is cleared; returns size otherwise.
int receiveExact(int socketHandle, uint8_t* buffer, int size, sockaddr_in* source,
                 int32_t* sourceLength, const std::atomic<bool>& keepGoing);

// Nothing needs starting for POSIX sockets; kept as the step start-up and shutdown call.
int netStartup();
void netCleanup();

extern NetSession g_NetSession;

// The server connection: reads server.txt, opens the session to port 9009 (or
// g_nServerPort) and reports on the status line.
extern int g_nServerPort;
void connectToServer();

// Position messages.
int sendPosition(int objectSlot, int channel);
void onNetworkMessage(uint8_t* body);
// The receive thread leaves the other character's position and yaw here; the frame update
// applies them once per frame on the main thread, so no frame sees a half-stored position.
void ApplyReceivedPosition();
// Forgets a position that has not been applied yet (tests).
void ResetReceivedPosition();
