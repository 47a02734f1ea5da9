// The server connection at start-up and the position messages (their layout: net/wire.h).
#include "core/settings.h"
#include "net/net.h"
#include "render/render.h"
#include "scene/scene.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

int g_nServerPort = 9009;

namespace {

// The latest received position, handed from the receive thread to the main thread.
struct ReceivedPosition {
    std::mutex lock;
    bool fresh = false;
    D3DXVECTOR3 position = {};
    float yaw = 0;
} s_received;

} // namespace

void connectToServer() {
    netStartup();
    g_NetSession.setCallback(onNetworkMessage, g_hWnd);

    // The first whitespace-delimited word, cut to 255 characters.
    char word[256] = "";
    if (FILE* f = std::fopen("server.txt", "r")) {
        int ch = std::fgetc(f);
        while (ch != EOF && std::isspace(ch)) ch = std::fgetc(f);
        size_t n = 0;
        while (ch != EOF && ch != 0 && !std::isspace(ch)) {
            if (n < sizeof word - 1) word[n++] = char(ch);
            ch = std::fgetc(f);
        }
        word[n] = 0;
        std::fclose(f);
    }
    SetStatusLine("Try to connect to server *%s*", word);
    g_NetSession.open(word, g_nServerPort, 0);
    if (g_NetSession.connected) SetStatusLine("Connected to server *%s*", word);
}

int sendPosition(int objectSlot, int channel) {
    if (objectSlot < 0 || objectSlot >= kSceneObjectCount) return -1;
    const SceneObject& o = ObjectAt(objectSlot);
    uint8_t body[wire::kPositionBodyLength] = {};
    wire::writePosition(body,
                        {g_NetSession.ownId, o.position.x, o.position.y, o.position.z, o.yaw});
    return g_NetSession.sendMessage(channel, body, wire::kTypePosition, sizeof body, 1);
}

void onNetworkMessage(uint8_t* body) {
    int32_t type; // the session hands the three words over in host order
    std::memcpy(&type, body + wire::kBodyTypeAt, 4);
    wire::Position p;
    // The body lies in a receive slot, which always holds kMaxBodyLength bytes.
    if (type != wire::kTypePosition || !wire::readPosition(body, wire::kMaxBodyLength, p)) return;
    if (p.senderId == g_NetSession.ownId) return;
    {
        std::lock_guard<std::mutex> lock(s_received.lock);
        s_received.position = {p.x, p.y, p.z};
        s_received.yaw = p.yaw;
        s_received.fresh = true;
    }
    SetStatusLine("Got position from network: %.2f %.2f %.2f (yrot: %.2f)", double(p.x),
                  double(p.y), double(p.z), double(p.yaw));
}

void ApplyReceivedPosition() {
    std::lock_guard<std::mutex> lock(s_received.lock);
    if (!s_received.fresh) return;
    SceneObject& o = ObjectAt(g_nOther);
    o.position = s_received.position;
    o.yaw = s_received.yaw;
    s_received.fresh = false;
}

void ResetReceivedPosition() {
    std::lock_guard<std::mutex> lock(s_received.lock);
    s_received.fresh = false;
}
