// The frame update on the recording device with injected key and joystick states. Busy waits
// are checked by what they wait for, not by how often they poll.
#include "app/frame_update.h"
#include "app/joystick.h"
#include "app/shell.h"
#include "core/settings.h"
#include "platform/win/input.h"
#include "render/camera.h"
#include "scene/scene.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>

namespace {

using Xyz = std::array<float, 3>;
const auto Of = [](const D3DXVECTOR3& v) { return Xyz{v.x, v.y, v.z}; };

// Key reads, in order, and a per-test reaction to each read (runs before the read is answered,
// so it can press or release keys inside the busy waits).
std::vector<int> g_reads;
std::function<void(int)> g_onRead;
void OnKeyRead(int vk) {
    g_reads.push_back(vk);
    if (g_onRead) g_onRead(vk);
}

// "text|font|left,top" of a text drawn in white into a 400 x 60 box.
std::string Text(const RecordedCall& t) {
    const bool box = t.rect.right == t.rect.left + 400 && t.rect.bottom == t.rect.top + 60;
    return t.text + "|" + t.name + "|" + std::to_string(t.rect.left) + "," +
           std::to_string(t.rect.top) + (box && t.b == 0xFFFFFFFFu ? "" : " not white 400x60");
}

class FrameUpdate : public ::testing::Test {
  protected:
    std::shared_ptr<RecordingDevice> device;
    JoystickDevice joystick; // stands for "a joystick exists"; never polled here

    void SetUp() override {
        device = UseRecordingDevice();
        ResetFrameUpdate();
        ResetWindowSystemForTests();
        ClearInjectedKeys();
        g_pJoystick = nullptr;
        g_JoyState = CentredJoyState();
        g_onRead = nullptr;
        g_bNetwork = false;
        for (int slot = 0; slot < 3; ++slot) PlaceObject(slot, slot, 0, 0, 0, 1, 1, 1, 0, 0, 0);
        SetTickCountForTests(10000);
        UpdateFrame(); // PlaceCharacters: the start places, then Running
        g_reads.clear();
        SetKeyReadHookForTests(OnKeyRead);
        device->calls.clear();
    }
    void TearDown() override {
        SetKeyReadHookForTests(nullptr);
        SetTickCountForTests(std::nullopt);
        ReleaseRecordingDevice();
    }

    SceneObject& Controlled() { return g_SceneObjects[g_nControlled]; }
    int Count(const std::string& op) const { return int(device->Calls(op).size()); }
    static void Tap(int vk) { // one frame with the key down
        InjectKeyState(vk, true);
        UpdateFrame();
        InjectKeyState(vk, false);
    }
    // Holds the keys down: each is released after that many reads of it.
    static void Hold(std::map<int, int> presses) {
        for (auto [vk, reads] : presses) InjectKeyState(vk, true);
        g_onRead = [presses, seen = std::map<int, int>()](int vk) mutable {
            if (presses.count(vk) && ++seen[vk] > presses[vk]) InjectKeyState(vk, false);
        };
    }
};

TEST_F(FrameUpdate, PlaceCharactersReadsNoKeyThenRunningRendersOnceWithBothCameras) {
    g_nPhase = PlaceCharacters;
    InjectKeyState(VK_UP, true);
    UpdateFrame();
    EXPECT_TRUE(g_reads.empty() && device->calls.empty() && g_nPhase == Running);
    const SceneObject &first = g_SceneObjects[g_nCharacters[0]],
                      &second = g_SceneObjects[g_nCharacters[1]];
    EXPECT_EQ(std::tuple(Of(first.position), first.yaw), std::tuple(Xyz{-20, 0, 40}, 90.0f));
    EXPECT_EQ(std::tuple(Of(second.position), second.yaw, second.modelSlot),
              std::tuple(Xyz{0, 0, -40}, 0.0f, 2));

    InjectKeyState(VK_UP, false);
    UpdateFrame();
    EXPECT_EQ(std::pair(device->OpSequence().find("Clear"), Count("Present")), std::pair(0ul, 1));
    // Camera 1 on the controlled character, camera 2 on the other (heading 90).
    EXPECT_EQ(std::tuple(Of(g_vEye1), g_fEyeYaw2), std::tuple(Xyz{0, 25, -34}, 90.0f));
}

TEST_F(FrameUpdate, ViewAndModeKeysSetTheirFlagsAndTheSameFrameDrawsWithThem) {
    const std::tuple<char, bool, bool, bool, const char*> keys[] = {
        {'1', true, false, true, "StandardShading"},
        {'2', true, true, true, "StandardShading"},
        {'3', false, false, true, "DuoscopeWithZ"},
        {'Z', false, false, false, "Duoscope"}};
    for (auto [key, standard, camera2, withZ, technique] : keys) {
        // Start from the opposite of what the key sets.
        g_bStandardView = !standard, g_bCamera2View = !camera2 && standard, g_bWithZ = !withZ;
        device->calls.clear();
        Tap(key);
        EXPECT_EQ(std::tuple(g_bStandardView, g_bCamera2View, standard || g_bWithZ == withZ,
                             device->Calls("Effect.SetTechnique").at(0).name),
                  std::tuple(standard, camera2, true, technique))
            << key;
    }
    InjectKeyState('3', true), InjectKeyState('Z', true); // both down: Z is read later and wins
    UpdateFrame();
    EXPECT_FALSE(g_bWithZ);
    ClearInjectedKeys();
    Tap('C');
    EXPECT_TRUE(g_bComputerControl);
    InjectKeyState('C', true), InjectKeyState('X', true); // both down: X comes later and wins
    UpdateFrame();
    EXPECT_FALSE(g_bComputerControl);
    ClearInjectedKeys();
    Hold({{'4', 30}}); // the frame waits for the release: one toggle per press
    UpdateFrame(), UpdateFrame();
    EXPECT_TRUE(g_bAutoMove2);
}

TEST_F(FrameUpdate, EachMovementKeyAndItsAliasActOnTheControlledCharacterOnce) {
    // Key, alias (0: none), and the move: x, y, z, yaw. The target follows, so computer
    // control starts from there.
    const int moves[][6] = {{VK_LEFT, 0, 0, 0, 0, -1},       {VK_RIGHT, 0, 0, 0, 0, 1},
                            {VK_UP, VK_NUMPAD5, 0, 0, 1, 0}, {VK_DOWN, VK_NUMPAD2, 0, 0, -1, 0},
                            {'A', VK_NUMPAD1, -1, 0, 0, 0},  {'D', VK_NUMPAD3, 1, 0, 0, 0},
                            {'W', VK_PRIOR, 0, 1, 0, 0},     {'S', VK_NEXT, 0, -1, 0, 0}};
    for (auto [key, alias, dx, dy, dz, dyaw] : moves)
        for (int vk : {key, alias ? alias : key}) {
            PlaceObject(g_nControlled, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
            Tap(vk);
            const SceneObject& o = Controlled();
            EXPECT_EQ(std::tuple(Of(o.position), o.yaw, Of(o.target), o.targetYaw),
                      std::tuple(Xyz{float(dx), float(dy), -40.0f + float(dz)}, float(dyaw),
                                 Of(o.position), o.yaw))
                << vk;
        }
    // A key and its alias both down count once; opposite turns cancel.
    PlaceObject(g_nControlled, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
    for (int vk : {VK_UP, VK_NUMPAD5, VK_LEFT, VK_RIGHT}) InjectKeyState(vk, true);
    UpdateFrame();
    EXPECT_EQ(std::tuple(Controlled().position.z, Controlled().yaw), std::tuple(-39.0f, 0.0f));
}

TEST_F(FrameUpdate, F1HeldTogglesHelpOnceAndF10PostsTheQuitAfterItsRelease) {
    Hold({{VK_F1, 40}});
    for (int frame = 0; frame < 3; ++frame) UpdateFrame();
    EXPECT_EQ(std::pair(g_bShowHelp, Count("Present")),
              std::pair(false, 3)); // the wait draws nothing
    Hold({{VK_F10, 5}});
    UpdateFrame();
    // The frame waited for the release, and still renders.
    EXPECT_TRUE(GetAsyncKeyState(VK_F10) == 0 && QuitPosted() && Count("Present") == 4);
}

TEST_F(FrameUpdate, EscThenNLeavesEverythingAsItWasAndThePromptIsShownBold) {
    UpdateFrame(); // settle: the start places' moved flags are cleared by the send check
    SceneObject before[3];
    std::memcpy(before, g_SceneObjects, sizeof before);
    const auto flags = std::tuple(g_bShowHelp, g_bStandardView, g_bWithZ);
    device->calls.clear();
    Hold({{VK_ESCAPE, 1}, {'N', 3}});
    UpdateFrame();
    EXPECT_FALSE(QuitPosted());
    EXPECT_EQ(std::memcmp(before, g_SceneObjects, sizeof before), 0);
    EXPECT_EQ(std::tuple(g_bShowHelp, g_bStandardView, g_bWithZ), flags);
    // The prompt is drawn over the last frame (its pixels: test_control_program).
    ASSERT_FALSE(device->Calls("Font.DrawText").empty());
    EXPECT_EQ(Text(device->Calls("Font.DrawText")[0]), "Quit? [y/n]|Times New Roman Bold|320,240");
    EXPECT_EQ(Count("Present"), 2);

    // Without the bold font the prompt still ends; nothing is drawn.
    g_pFontBold.reset();
    g_bShowHelp = false;
    device->calls.clear();
    Hold({{VK_ESCAPE, 1}, {'N', 3}});
    UpdateFrame();
    EXPECT_EQ(std::pair(Count("Font.DrawText"), Count("Present")), std::pair(0, 2));
}

TEST_F(FrameUpdate, EscThenYEndsAfterThisTurnAndTheNextEvenWithEscStillHeld) {
    Hold({{VK_ESCAPE, 1000}, {'Y', 3}}); // Esc held through both turns
    // The main loop's turns: take at most one message, update; leave after the quit's turn.
    int turns = 0;
    bool quit = false;
    for (MSG msg; !quit && turns < 5; ++turns) {
        quit = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT;
        UpdateFrame();
    }
    EXPECT_EQ(std::pair(quit, turns), std::pair(true, 2));
    // Not asked again in the last turn; presented: the prompt and both turns' frames.
    const auto texts = device->Calls("Font.DrawText");
    EXPECT_EQ(
        std::count_if(texts.begin(), texts.end(), [](auto& c) { return c.text == "Quit? [y/n]"; }),
        1);
    EXPECT_EQ(Count("Present"), 3);
}

TEST_F(FrameUpdate, PausedNothingElseIsReadUntilPIsPressedAgain) {
    int pReads = 0;
    InjectKeyState('P', true);
    g_onRead = [&](int vk) {
        // Down for the check and 2 more reads, up for 10, down for 3, then up.
        if (vk == 'P') ++pReads, InjectKeyState('P', pReads <= 3 || (pReads > 13 && pReads <= 16));
    };
    InjectKeyState(VK_UP, true);
    UpdateFrame();
    const auto first = std::find(g_reads.begin(), g_reads.end(), 'P');
    const auto last = std::find(g_reads.rbegin(), g_reads.rend(), 'P').base();
    EXPECT_TRUE(std::all_of(first, last, [](int vk) { return vk == 'P'; }))
        << "no other key while paused";
    EXPECT_GT(pReads, 16) << "waited for the second press and its release";
    EXPECT_EQ(std::pair(Controlled().position.z, Count("Present")),
              std::pair(-39.0f, 2)); // goes on
    ASSERT_FALSE(device->Calls("Font.DrawText").empty());
    EXPECT_EQ(Text(device->Calls("Font.DrawText")[0]),
              "Paused (press P again)|Times New Roman Bold|320,240");
}

TEST_F(FrameUpdate, ComputerControlIgnoresTheCursorKeysButNotTheViewKeysAndAutoMoveTheOther) {
    g_bComputerControl = true;
    Controlled().target = {0.0f, 0.0f, 0.0f}; // far: the character walks toward the origin
    for (int vk : {VK_UP, VK_LEFT, int('2')}) InjectKeyState(vk, true);
    UpdateFrame();
    EXPECT_TRUE(g_bStandardView && g_bCamera2View);
    // One wander step, not one move step; toward the target, not the cursor key; the target
    // is not overwritten.
    EXPECT_NEAR(Controlled().position.z, -39.95f, 1e-5);
    EXPECT_NEAR(Controlled().yaw, -0.0456f, 1e-3);
    EXPECT_EQ(Controlled().target.z, 0.0f);

    // The other character wanders only with auto move on and networking off.
    SceneObject& other = g_SceneObjects[g_nOther];
    other.target = {-20.0f, 0.0f, 0.0f}; // straight behind its start place
    g_bAutoMove2 = g_bNetwork = true;
    UpdateFrame();
    EXPECT_EQ(other.position.z, 40.0f);
    g_bNetwork = false;
    UpdateFrame();
    EXPECT_TRUE(other.position.z < 40.0f && other.yaw != 90.0f); // turning toward the target
}

TEST_F(FrameUpdate, JoystickAxesUseTheFactorOneOver32767AndButtonsChooseViews) {
    g_JoyState.lX = 65535;
    UpdateFrame();
    EXPECT_EQ(Controlled().yaw, 0.0f); // no joystick: the state is not looked at
    g_pJoystick = &joystick;
    const float f = 3.0518509e-05f;
    UpdateFrame();
    EXPECT_EQ(Controlled().yaw, 32768.0f * f);

    PlaceObject(g_nControlled, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
    g_JoyState = CentredJoyState();
    g_JoyState.lY = 0, g_JoyState.lZ = 65535, g_JoyState.lRz = 16384; // forward, right, half up
    g_fMoveStep = 2.0f;
    UpdateFrame();
    EXPECT_EQ(Of(Controlled().position),
              (Xyz{32768.0f * 2.0f * f, 16383.0f * 2.0f * f, -40.0f + 32767.0f * 2.0f * f}));

    // Buttons 7, 5, 6 and 4 (counted from 0) act as '2', '1', 'Z' and '3', also under computer
    // control (which ignores the stick). Let go, each reads 0x7F: only the high bit counts.
    g_bComputerControl = true;
    const float z = Controlled().position.z;
    const int buttons[][4] = {{7, 1, 1, 1}, {5, 1, 0, 1}, {6, 0, 0, 0}, {4, 0, 0, 1}}; // views
    for (auto [button, standard, camera2, withZ] : buttons) {
        g_JoyState.rgbButtons[button] = 0x80;
        UpdateFrame();
        g_JoyState.rgbButtons[button] = 0x7F;
        EXPECT_EQ(std::pair(g_bStandardView, standard ? g_bCamera2View : g_bWithZ),
                  std::pair(bool(standard), bool(standard ? camera2 : withZ)))
            << button;
    }
    EXPECT_EQ(Controlled().position.z, z);
}

TEST_F(FrameUpdate, PositionIsSentAtMostOncePer40Milliseconds) {
    // Tick, up key, and then: moved still set, last send.
    const auto run = [&](std::initializer_list<std::tuple<DWORD, bool, bool, DWORD>> steps) {
        for (auto [tick, up, moved, lastSend] : steps) {
            SetTickCountForTests(tick);
            InjectKeyState(VK_UP, up);
            UpdateFrame();
            EXPECT_EQ(std::tuple(Controlled().moved, g_dwLastSend), std::tuple(moved, lastSend))
                << tick;
        }
    };
    g_dwLastSend = 0;
    run({{1000, true, false, 1000},    // the first check passes at once
         {1020, true, true, 1000},     // 20 ms later: moved again, but no send
         {1040, false, true, 1000},    // 40 is not more than 40
         {1041, false, false, 1041},   // the second frame's movement goes now
         {2000, false, false, 1041}}); // nothing moved: nothing to send
    // Unsigned difference across the wrap of the tick count.
    g_dwLastSend = 0xFFFFFFF0u;
    Controlled().moved = true;
    run({{0x10, false, true, 0xFFFFFFF0u}, {0x20, false, false, 0x20}});
}

TEST_F(FrameUpdate, PickPhaseChoosesWithSOrFAndDrawsThePickScreenInTheSameFrame) {
    const int picks[][5] = {{0, 0, 0, 0, PickCharacter},
                            {1, 0, 1, 2, PlaceCharacters},
                            {0, 1, 2, 1, PlaceCharacters},
                            {1, 1, 2, 1, PlaceCharacters}};
    for (auto [s, f, controlled, other, phase] : picks) {
        g_nPhase = PickCharacter;
        g_nControlled = g_nOther = 0; // neither character yet
        g_SceneObjects[1].yaw = 359.75f, g_SceneObjects[2].yaw = 0.0f;
        device->calls.clear();
        InjectKeyState('S', s), InjectKeyState('F', f); // 'F' wins
        UpdateFrame();
        EXPECT_EQ(std::tuple(g_nPhase, g_nControlled, g_nOther),
                  std::tuple(phase, controlled, other))
            << s << f;
    }
    // The last frame's pick screen: projection, camera 1's view from the start eye (z = -25),
    // the first character right of centre and the second left, each turned half a degree more.
    EXPECT_EQ(std::tuple(device->OpSequence().find("Clear BeginScene"), device->calls[0].a),
              std::tuple(0u, 3u));
    const std::vector<RecordedCall> transforms = device->Calls("SetTransform");
    ASSERT_EQ(transforms.size(), 4u);
    EXPECT_EQ(std::memcmp(&transforms[0].matrix, &g_matProj, sizeof(D3DXMATRIX)), 0);
    const float* at = transforms[2].matrix.m[3];
    EXPECT_EQ((std::array{transforms[1].matrix.m[3][2], at[0], at[1], at[2],
                          transforms[3].matrix.m[3][0]}),
              (std::array{25.0f, 15.0f, -15.0f, 30.0f, -15.0f}));
    EXPECT_EQ(std::tuple(g_SceneObjects[1].yaw, g_SceneObjects[2].yaw), std::tuple(360.25f, 0.5f));
    // Three directional lights, directions unnormalised.
    const Xyz directions[4] = {{1, 0, 0}, {1, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::tuple(device->lightEnabled[i], Of(device->lights[i].Direction)),
                  std::tuple(i < 3, directions[i]));
    std::string texts;
    for (const RecordedCall& t : device->Calls("Font.DrawText")) texts += Text(t) + "\n";
    EXPECT_EQ(texts, "Pick a character:|Times New Roman|320,50\nPress 'F'|Times New Roman|160,150\n"
                     "Press 'S'|Times New Roman|480,150\n");
}

} // namespace
