#include "platform/win/input.h"

#include <SDL2/SDL.h>

#include <array>
#include <charconv>
#include <vector>

namespace {

struct ScriptedKey {
    int vk;
    uint32_t from, to;
};

std::vector<ScriptedKey> s_script;
uint32_t s_scriptOrigin = 0;
bool s_scriptStarted = false;
std::array<int8_t, 256> s_injected{}; // 0 none, 1 down, -1 up
std::optional<uint32_t> s_pinnedTicks;
uint32_t s_fixedStep = 0; // 0: the wall clock
uint32_t s_fixedTicks = 0;
void (*s_readHook)(int) = nullptr;
uint32_t s_lastPump = UINT32_MAX;

SDL_Scancode ScancodeOf(int vk) {
    if (vk >= 'A' && vk <= 'Z') return SDL_Scancode(SDL_SCANCODE_A + (vk - 'A'));
    if (vk >= '1' && vk <= '9') return SDL_Scancode(SDL_SCANCODE_1 + (vk - '1'));
    if (vk == '0') return SDL_SCANCODE_0;
    if (vk >= VK_NUMPAD1 && vk <= VK_NUMPAD1 + 8)
        return SDL_Scancode(SDL_SCANCODE_KP_1 + (vk - VK_NUMPAD1));
    if (vk >= VK_F1 && vk <= VK_F1 + 11) return SDL_Scancode(SDL_SCANCODE_F1 + (vk - VK_F1));
    switch (vk) {
    case VK_NUMPAD0:
        return SDL_SCANCODE_KP_0;
    case VK_ESCAPE:
        return SDL_SCANCODE_ESCAPE;
    case VK_LEFT:
        return SDL_SCANCODE_LEFT;
    case VK_RIGHT:
        return SDL_SCANCODE_RIGHT;
    case VK_UP:
        return SDL_SCANCODE_UP;
    case VK_DOWN:
        return SDL_SCANCODE_DOWN;
    case VK_PRIOR:
        return SDL_SCANCODE_PAGEUP;
    case VK_NEXT:
        return SDL_SCANCODE_PAGEDOWN;
    case 0x0D:
        return SDL_SCANCODE_RETURN;
    case 0x20:
        return SDL_SCANCODE_SPACE;
    default:
        return SDL_SCANCODE_UNKNOWN;
    }
}

bool KeyboardSaysDown(int vk) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return false;
    const SDL_Scancode sc = ScancodeOf(vk);
    if (sc == SDL_SCANCODE_UNKNOWN) return false;
    // Busy waits read keys thousands of times a second; pump at most once per millisecond.
    const uint32_t now = SDL_GetTicks();
    if (now != s_lastPump) {
        SDL_PumpEvents();
        s_lastPump = now;
    }
    const Uint8* state = SDL_GetKeyboardState(nullptr);
    return state && state[sc];
}

bool ScriptSaysDown(int vk) {
    if (!s_scriptStarted || s_script.empty()) return false;
    const uint32_t t = GetTickCount() - s_scriptOrigin;
    for (const ScriptedKey& k : s_script)
        if (k.vk == vk && t >= k.from && t < k.to) return true;
    return false;
}

bool ParseNumber(std::string_view text, uint32_t* out, int base = 10) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

// Virtual-key code of a key name as the script takes it, or -1.
static int VirtualKeyFromName(std::string_view name) {
    struct Named {
        const char* name;
        int vk;
    };
    static constexpr Named kNames[] = {
        {"UP", VK_UP},      {"DOWN", VK_DOWN}, {"LEFT", VK_LEFT}, {"RIGHT", VK_RIGHT},
        {"ESC", VK_ESCAPE}, {"F1", VK_F1},     {"F10", VK_F10},   {"PGUP", VK_PRIOR},
        {"PGDN", VK_NEXT},  {"SPACE", 0x20},   {"ENTER", 0x0D},
    };
    for (const Named& n : kNames)
        if (name == n.name) return n.vk;
    if (name.size() == 4 && name.substr(0, 3) == "NUM" && name[3] >= '0' && name[3] <= '9')
        return VK_NUMPAD0 + (name[3] - '0');
    if (name.size() == 1) {
        char c = name[0];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    }
    if (name.size() > 2 && (name.substr(0, 2) == "0x" || name.substr(0, 2) == "0X")) {
        uint32_t code = 0;
        if (ParseNumber(name.substr(2), &code, 16) && code > 0 && code < 256) return int(code);
    }
    return -1;
}

bool SetKeyScript(std::string_view script, std::string* error) {
    std::vector<ScriptedKey> keys;
    size_t pos = 0;
    while (!script.empty()) {
        const size_t comma = script.find(',', pos);
        const std::string_view entry = script.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        const size_t at = entry.find('@');
        const size_t dash = entry.find('-', at == std::string_view::npos ? 0 : at);
        ScriptedKey k{};
        if (at == std::string_view::npos || dash == std::string_view::npos ||
            (k.vk = VirtualKeyFromName(entry.substr(0, at))) < 0 ||
            !ParseNumber(entry.substr(at + 1, dash - at - 1), &k.from) ||
            !ParseNumber(entry.substr(dash + 1), &k.to) || k.to < k.from) {
            if (error) *error = "bad key entry '" + std::string(entry) + "'";
            return false;
        }
        keys.push_back(k);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    s_script = std::move(keys);
    return true;
}

void StartKeyScript() {
    s_scriptOrigin = GetTickCount();
    s_scriptStarted = true;
}

void ClearKeyScript() {
    s_script.clear();
    s_scriptStarted = false;
}

int16_t GetAsyncKeyState(int vk) {
    if (s_readHook) s_readHook(vk);
    if (vk < 0 || vk > 255) return 0;
    bool down;
    if (s_injected[vk] != 0) {
        down = s_injected[vk] > 0;
    } else {
        down = ScriptSaysDown(vk) || KeyboardSaysDown(vk);
    }
    return down ? int16_t(0x8000) : int16_t(0);
}

uint32_t GetTickCount() {
    if (s_pinnedTicks) return *s_pinnedTicks;
    if (s_fixedStep != 0) return s_fixedTicks;
    if (!SDL_WasInit(SDL_INIT_TIMER)) SDL_InitSubSystem(SDL_INIT_TIMER);
    return SDL_GetTicks();
}

void SetFixedTickStep(uint32_t stepMs) {
    s_fixedStep = stepMs;
    s_fixedTicks = 0;
}

void AdvanceTickClock() {
    s_fixedTicks += s_fixedStep; // wraps like the wall clock's 32-bit count
}

void AdvanceTickClockForNap() {
    if (s_fixedStep != 0) s_fixedTicks += 1;
}

void InjectKeyState(int vk, bool down) {
    if (vk >= 0 && vk < 256) s_injected[vk] = down ? 1 : -1;
}
void ClearInjectedKeys() {
    s_injected.fill(0);
}
void SetTickCountForTests(std::optional<uint32_t> ticks) {
    s_pinnedTicks = ticks;
}
void SetKeyReadHookForTests(void (*hook)(int)) {
    s_readHook = hook;
}
