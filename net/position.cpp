// The server connection at start-up and the position messages.
//
// Position body, 32 bytes: type 500, destination, source (big-endian, written by sendMessage),
// then in the host's little-endian order the sender's id, x, y, z and yaw.
#include "core/settings.h"
#include "net/net.h"
#include "render/render.h"
#include "scene/scene.h"

#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

static_assert(std::endian::native == std::endian::little, "the position tail is little-endian");

int g_nServerPort = 9009;

namespace {

constexpr int32_t kTypePosition = 500;

// The latest received position, handed from the receive thread to the main thread.
struct ReceivedPosition {
    std::mutex lock;
    bool fresh = false;
    D3DXVECTOR3 position = {};
    float yaw = 0;
} g_Received;

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
    const SceneObject& o = g_SceneObjects[objectSlot];
    uint8_t body[32] = {};
    const int32_t id = g_NetSession.ownId;
    std::memcpy(body + 12, &id, 4);
    std::memcpy(body + 16, &o.position.x, 4);
    std::memcpy(body + 20, &o.position.y, 4);
    std::memcpy(body + 24, &o.position.z, 4);
    std::memcpy(body + 28, &o.yaw, 4);
    return g_NetSession.sendMessage(channel, body, kTypePosition, 32, 1);
}

void onNetworkMessage(uint8_t* body) {
    int32_t type, sender;
    std::memcpy(&type, body, 4);
    if (type != kTypePosition) return;
    std::memcpy(&sender, body + 12, 4);
    if (sender == g_NetSession.ownId) return;
    float x, y, z, yaw;
    std::memcpy(&x, body + 16, 4);
    std::memcpy(&y, body + 20, 4);
    std::memcpy(&z, body + 24, 4);
    std::memcpy(&yaw, body + 28, 4);
    {
        std::lock_guard<std::mutex> lock(g_Received.lock);
        g_Received.position = {x, y, z};
        g_Received.yaw = yaw;
        g_Received.fresh = true;
    }
    SetStatusLine("Got position from network: %.2f %.2f %.2f (yrot: %.2f)", double(x), double(y),
                  double(z), double(yaw));
}

void ApplyReceivedPosition() {
    std::lock_guard<std::mutex> lock(g_Received.lock);
    if (!g_Received.fresh) return;
    SceneObject& o = g_SceneObjects[g_nOther];
    o.position = g_Received.position;
    o.yaw = g_Received.yaw;
    g_Received.fresh = false;
}

void ResetReceivedPosition() {
    std::lock_guard<std::mutex> lock(g_Received.lock);
    g_Received.fresh = false;
}
