// The frame update on the recording device with injected key and joystick states: phases,
// one-shot keys and prompts, view and mode keys, manual and computer control, the send rhythm,
// and the character selection screen.
#include "app/frame_update.h"
#include "app/joystick.h"
#include "core/settings.h"
#include "app/shell.h"
#include "platform/win/input.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"
#include "support/recording_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

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

// A text drawn in white into a 400 x 60 box from (left, top).
void ExpectText(const RecordedCall& t, const char* text, const char* font, int count, int left,
                int top) {
    EXPECT_EQ(t.text, text);
    EXPECT_EQ(t.name, font) << text;
    EXPECT_EQ(t.count, count) << text;
    EXPECT_EQ(t.a, 0u) << text;
    EXPECT_EQ(t.b, 0xFFFFFFFFu) << text;
    EXPECT_EQ((std::array<int32_t, 4>{t.rect.left, t.rect.top, t.rect.right, t.rect.bottom}),
              (std::array<int32_t, 4>{left, top, left + 400, top + 60}))
        << text;
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
    int Reads(int vk) const { return int(std::count(g_reads.begin(), g_reads.end(), vk)); }
    int Count(const std::string& op) const { return int(device->Calls(op).size()); }
    // One frame with the key down.
    static void Tap(int vk) {
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
    static bool QuitPosted() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message == WM_QUIT) return true;
        return false;
    }
};

TEST_F(FrameUpdate, PlaceCharactersFrameReadsNoKeyAndDrawsNothing) {
    g_nPhase = PlaceCharacters;
    InjectKeyState(VK_UP, true);
    UpdateFrame();
    EXPECT_TRUE(g_reads.empty());
    EXPECT_TRUE(device->calls.empty());
    EXPECT_EQ(g_nPhase, Running);
    const SceneObject& first = g_SceneObjects[g_nCharacters[0]];
    const SceneObject& second = g_SceneObjects[g_nCharacters[1]];
    EXPECT_EQ(Of(first.position), (Xyz{-20, 0, 40}));
    EXPECT_EQ(first.yaw, 90.0f);
    EXPECT_EQ(Of(second.position), (Xyz{0, 0, -40}));
    EXPECT_EQ(second.yaw, 0.0f);
    EXPECT_EQ(second.modelSlot, 2);
}

TEST_F(FrameUpdate, RunningFrameReadsTheKeysInOrderThenPlacesCamerasAndRendersOnce) {
    UpdateFrame();
    const std::vector<int> order = {
        VK_F1,      VK_F10, VK_ESCAPE,  'P',      '1',      '2',        '3',     '4',        'C',
        'X',        'Z',    VK_LEFT,    VK_RIGHT, VK_UP,    VK_NUMPAD5, VK_DOWN, VK_NUMPAD2, 'A',
        VK_NUMPAD1, 'D',    VK_NUMPAD3, 'W',      VK_PRIOR, 'S',        VK_NEXT};
    EXPECT_EQ(g_reads, order); // 25 reads at most
    EXPECT_EQ(Count("Present"), 1);
    EXPECT_EQ(device->calls.front().op, "Clear");
    EXPECT_EQ(device->calls.back().op, "Present");
    // Camera 1 on object 2 (6 ahead), camera 2 on object 1 (12 ahead, heading 90).
    EXPECT_EQ(Of(g_vEye1), (Xyz{0, 25, -34}));
    EXPECT_NEAR(g_vEye2.x, -8.0000038f, 1e-5);
    EXPECT_NEAR(g_vEye2.z, 40.009556f, 1e-5);
    EXPECT_EQ(g_fEyeYaw2, 90.0f);
}

TEST_F(FrameUpdate, ViewKeysSetTheirFlagsAndTheSameFrameDrawsWithThem) {
    struct Case {
        int key;
        bool standard, camera2, withZ;
        const char* technique;
    };
    for (const Case& c : {Case{'1', true, false, true, "StandardShading"},
                          Case{'2', true, true, true, "StandardShading"},
                          Case{'3', false, false, true, "DuoscopeWithZ"},
                          Case{'Z', false, false, false, "Duoscope"}}) {
        // Start from the opposite of what the key sets.
        g_bStandardView = !c.standard;
        g_bCamera2View = !c.camera2 && c.standard;
        g_bWithZ = !c.withZ;
        device->calls.clear();
        Tap(c.key);
        EXPECT_EQ(g_bStandardView, c.standard) << char(c.key);
        EXPECT_EQ(g_bCamera2View, c.camera2) << char(c.key);
        EXPECT_TRUE(c.standard || g_bWithZ == c.withZ) << char(c.key);
        EXPECT_EQ(device->Calls("Effect.SetTechnique").at(0).name, c.technique) << char(c.key);
    }
}

TEST_F(FrameUpdate, ModeKeysSwitchComputerControlAndFourTogglesOncePerPress) {
    InjectKeyState('C', true);
    UpdateFrame();
    EXPECT_TRUE(g_bComputerControl);
    InjectKeyState('X', true); // C and X both down: X comes later and wins
    UpdateFrame();
    EXPECT_FALSE(g_bComputerControl);
    ClearInjectedKeys();
    g_reads.clear();

    Hold({{'4', 30}});
    UpdateFrame();
    EXPECT_TRUE(g_bAutoMove2);
    EXPECT_EQ(Reads('4'), 31); // the busy wait kept reading until the release
    UpdateFrame();
    EXPECT_TRUE(g_bAutoMove2);
}

TEST_F(FrameUpdate, EachMovementKeyAndItsAliasActOnTheControlledCharacterOnce) {
    struct Case {
        int key, alias; // 0: none
        float dx, dy, dz, dyaw;
    };
    for (const Case& c :
         {Case{VK_LEFT, 0, 0, 0, 0, -1}, Case{VK_RIGHT, 0, 0, 0, 0, 1},
          Case{VK_UP, VK_NUMPAD5, 0, 0, 1, 0}, Case{VK_DOWN, VK_NUMPAD2, 0, 0, -1, 0},
          Case{'A', VK_NUMPAD1, -1, 0, 0, 0}, Case{'D', VK_NUMPAD3, 1, 0, 0, 0},
          Case{'W', VK_PRIOR, 0, 1, 0, 0}, Case{'S', VK_NEXT, 0, -1, 0, 0}}) {
        for (int key : {c.key, c.alias}) {
            if (key == 0) continue;
            PlaceObject(g_nControlled, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
            Tap(key);
            const SceneObject& o = Controlled();
            EXPECT_EQ(Of(o.position), (Xyz{c.dx, c.dy, -40.0f + c.dz})) << key;
            EXPECT_EQ(o.yaw, c.dyaw) << key;
            // The target follows, so computer control starts from here.
            EXPECT_EQ(Of(o.target), Of(o.position)) << key;
            EXPECT_EQ(o.targetYaw, o.yaw) << key;
        }
    }
    // Both a key and its alias down count once (the alias is not even read); opposite turns
    // cancel.
    PlaceObject(g_nControlled, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
    for (int vk : {VK_UP, VK_NUMPAD5, VK_LEFT, VK_RIGHT}) InjectKeyState(vk, true);
    g_reads.clear();
    UpdateFrame();
    EXPECT_EQ(Controlled().position.z, -39.0f);
    EXPECT_EQ(Reads(VK_NUMPAD5), 0);
    EXPECT_EQ(Controlled().yaw, 0.0f);
}

TEST_F(FrameUpdate, F1HeldTogglesHelpOnceAndF10PostsTheQuitAfterItsRelease) {
    Hold({{VK_F1, 40}});
    for (int frame = 0; frame < 3; ++frame) UpdateFrame();
    EXPECT_FALSE(g_bShowHelp);
    EXPECT_EQ(Reads(VK_F1), 41 + 2);
    EXPECT_EQ(Count("Present"), 3); // the wait draws nothing

    Hold({{VK_F10, 5}});
    UpdateFrame();
    EXPECT_EQ(Reads(VK_F10), 6 + 3);
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(Count("Present"), 4); // the frame still renders
}

TEST_F(FrameUpdate, EscThenNLeavesEverythingAsItWas) {
    UpdateFrame(); // settle: the start places' moved flags are cleared by the send check
    SceneObject before[3];
    std::memcpy(before, g_SceneObjects, sizeof before);
    const bool help = g_bShowHelp, standard = g_bStandardView, withZ = g_bWithZ;
    device->calls.clear();

    InjectKeyState(VK_ESCAPE, true);
    int nReads = 0;
    g_onRead = [&](int vk) {
        if (vk != 'N') return;
        InjectKeyState(VK_ESCAPE, false);
        ++nReads;
        InjectKeyState('N', nReads >= 10 && nReads < 15); // answered after a while
    };
    UpdateFrame();
    EXPECT_EQ(nReads, 15);
    EXPECT_FALSE(QuitPosted());
    EXPECT_EQ(std::memcmp(before, g_SceneObjects, sizeof before), 0);
    EXPECT_EQ(std::tuple(g_bShowHelp, g_bStandardView, g_bWithZ),
              std::tuple(help, standard, withZ));

    // The prompt is drawn bold over the last frame and shown before the frame goes on.
    const std::vector<RecordedCall> texts = device->Calls("Font.DrawText");
    ASSERT_FALSE(texts.empty());
    ExpectText(texts[0], kQuitPrompt, "Times New Roman Bold", -1, 320, 240);
    EXPECT_EQ(device->OpSequence().rfind("BeginScene Font.DrawText EndScene Present Clear", 0), 0u)
        << device->OpSequence();
    EXPECT_EQ(Count("Present"), 2);
}

TEST_F(FrameUpdate, EscThenYEndsAfterThisTurnAndTheNextEvenWithEscStillHeld) {
    InjectKeyState(VK_ESCAPE, true); // held through both turns
    int yReads = 0;
    g_onRead = [&](int vk) {
        if (vk == 'Y') ++yReads, InjectKeyState('Y', yReads >= 3 && yReads < 8);
    };
    // The main loop's turns: take at most one message, update; leave after the quit's turn.
    int turns = 0;
    bool quit = false;
    for (MSG msg; !quit && turns < 5; ++turns) {
        quit = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_QUIT;
        UpdateFrame();
    }
    EXPECT_TRUE(quit);
    EXPECT_EQ(turns, 2);
    EXPECT_EQ(yReads, 8); // pressed, then waited for until released
    int prompts = 0;
    for (const RecordedCall& c : device->Calls("Font.DrawText")) prompts += c.text == kQuitPrompt;
    EXPECT_EQ(prompts, 1);          // not asked again in the last turn
    EXPECT_EQ(Count("Present"), 3); // the prompt and both turns' frames
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
    EXPECT_EQ(pReads, 17);
    const auto first = std::find(g_reads.begin(), g_reads.end(), 'P');
    const auto after = std::find_if(first, g_reads.end(), [](int vk) { return vk != 'P'; });
    EXPECT_EQ(after - first, 17);               // no other key while paused
    EXPECT_EQ(Controlled().position.z, -39.0f); // the frame goes on afterwards
    const std::vector<RecordedCall> texts = device->Calls("Font.DrawText");
    ASSERT_FALSE(texts.empty());
    ExpectText(texts[0], kPausePrompt, "Times New Roman Bold", -1, 320, 240);
    EXPECT_EQ(Count("Present"), 2);
}

TEST_F(FrameUpdate, PromptsWithoutTheBoldFontStillShowAndEnd) {
    g_pFontBold.reset();
    g_bShowHelp = false; // no other text
    Hold({{VK_ESCAPE, 1}, {'N', 3}});
    UpdateFrame();
    EXPECT_EQ(Count("Font.DrawText"), 0);
    EXPECT_EQ(Count("Present"), 2);
}

TEST_F(FrameUpdate, ComputerControlIgnoresTheCursorKeysButNotTheViewKeys) {
    g_bComputerControl = true;
    Controlled().target = {0.0f, 0.0f, 0.0f}; // far: the character walks toward the origin
    InjectKeyState(VK_UP, true);
    InjectKeyState(VK_LEFT, true);
    InjectKeyState('2', true);
    UpdateFrame();
    EXPECT_EQ(Reads(VK_UP) + Reads(VK_LEFT), 0);
    EXPECT_TRUE(g_bStandardView && g_bCamera2View);
    EXPECT_NEAR(Controlled().position.z, -39.95f, 1e-5); // one wander step, not one move step
    EXPECT_EQ(Controlled().target.z, 0.0f);              // the target is not overwritten
}

TEST_F(FrameUpdate, JoystickAxesUseTheFactorOneOver32767) {
    g_JoyState.lX = 65535;
    UpdateFrame();
    EXPECT_EQ(Controlled().yaw, 0.0f); // no joystick: the state is not looked at

    g_pJoystick = &joystick;
    g_JoyState = CentredJoyState();
    UpdateFrame();
    EXPECT_EQ(Controlled().yaw, 0.0f);
    EXPECT_EQ(Of(Controlled().position), (Xyz{0, 0, -40}));

    const float f = 3.0518509e-05f;
    g_JoyState.lX = 65535;
    UpdateFrame();
    EXPECT_EQ(Controlled().yaw, 32768.0f * f);
    g_JoyState.lX = 0;
    UpdateFrame();
    EXPECT_EQ(Controlled().yaw, 32768.0f * f - 32767.0f * f);

    PlaceObject(g_nControlled, 2, 0, 0, -40, 1, 1, 1, 0, 0, 0);
    g_JoyState = CentredJoyState();
    g_JoyState.lY = 0;      // stick forward
    g_JoyState.lZ = 65535;  // right
    g_JoyState.lRz = 16384; // half up
    g_fMoveStep = 2.0f;
    UpdateFrame();
    EXPECT_FLOAT_EQ(Controlled().position.z, -40.0f + 32767.0f * 2.0f * f);
    EXPECT_FLOAT_EQ(Controlled().position.x, 32768.0f * 2.0f * f);
    EXPECT_EQ(Controlled().position.y, 16383.0f * 2.0f * f);
}

TEST_F(FrameUpdate, JoystickButtonsChooseViewsAlsoUnderComputerControl) {
    g_pJoystick = &joystick;
    g_bComputerControl = true;
    g_JoyState.lY = 0; // stick forward
    // Buttons 7, 5, 6 and 4 (counted from 0) act as '2', '1', 'Z' and '3'. Let go, each reads
    // 0x7F: only the high bit counts.
    struct Case {
        int button;
        bool standard, camera2, withZ;
    };
    for (const Case& c : {Case{7, true, true, true}, Case{5, true, false, true},
                          Case{6, false, false, false}, Case{4, false, false, true}}) {
        g_JoyState.rgbButtons[c.button] = 0x80;
        UpdateFrame();
        g_JoyState.rgbButtons[c.button] = 0x7F;
        EXPECT_EQ(g_bStandardView, c.standard) << c.button;
        EXPECT_EQ(c.standard ? g_bCamera2View : g_bWithZ, c.standard ? c.camera2 : c.withZ)
            << c.button;
        EXPECT_TRUE(c.button != 7 || Controlled().position.z == -40.0f); // lY ignored
    }
}

TEST_F(FrameUpdate, PositionIsSentAtMostOncePer40Milliseconds) {
    struct Step {
        DWORD tick;
        bool up, moved;
        DWORD lastSend;
    };
    const auto run = [&](std::initializer_list<Step> steps) {
        for (const Step& s : steps) {
            SetTickCountForTests(s.tick);
            InjectKeyState(VK_UP, s.up);
            UpdateFrame();
            EXPECT_EQ(Controlled().moved, s.moved) << s.tick;
            EXPECT_EQ(g_dwLastSend, s.lastSend) << s.tick;
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

TEST_F(FrameUpdate, TheOtherCharacterWandersOnlyWithAutoMoveAndNetworkingOff) {
    SceneObject& other = g_SceneObjects[g_nOther];
    other.target = {-20.0f, 0.0f, 0.0f}; // straight behind its start place
    g_bAutoMove2 = true;
    g_bNetwork = true;
    UpdateFrame();
    EXPECT_EQ(other.position.z, 40.0f);
    g_bNetwork = false;
    UpdateFrame();
    EXPECT_LT(other.position.z, 40.0f);
    EXPECT_NE(other.yaw, 90.0f); // turning toward the target
}

TEST_F(FrameUpdate, PickPhaseChoosesWithSOrFAndDrawsThePickScreenInTheSameFrame) {
    struct Case {
        bool s, f;
        int controlled, other, phase;
    };
    for (const Case& c :
         {Case{false, false, 0, 0, PickCharacter}, Case{true, false, 1, 2, PlaceCharacters},
          Case{false, true, 2, 1, PlaceCharacters},
          Case{true, true, 2, 1, PlaceCharacters}}) { // 'F' wins
        g_nPhase = PickCharacter;
        g_nControlled = g_nOther = 0; // neither character yet
        device->calls.clear();
        InjectKeyState('S', c.s);
        InjectKeyState('F', c.f);
        UpdateFrame();
        EXPECT_EQ(g_nPhase, c.phase) << c.s << c.f;
        EXPECT_EQ(g_nControlled, c.controlled) << c.s << c.f;
        EXPECT_EQ(g_nOther, c.other) << c.s << c.f;
        EXPECT_EQ(Count("Present"), 1) << c.s << c.f;
        ASSERT_FALSE(device->Calls("Font.DrawText").empty());
        EXPECT_EQ(device->Calls("Font.DrawText")[0].text, "Pick a character:");
    }
}

TEST_F(FrameUpdate, PickScreenLightsTransformsCharactersAndTexts) {
    g_SceneObjects[1].yaw = 359.75f;
    RenderPickScreen();
    const std::vector<RecordedCall>& calls = device->calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "Clear");
    EXPECT_EQ(calls[0].a, 3u);
    EXPECT_EQ(calls[0].b, 0u);
    EXPECT_EQ(calls[1].op, "BeginScene");
    EXPECT_EQ(calls.back().op, "Present");
    EXPECT_EQ(calls[calls.size() - 2].op, "EndScene");

    // Projection and camera 1's view from the start eye.
    const std::vector<RecordedCall> transforms = device->Calls("SetTransform");
    ASSERT_EQ(transforms.size(), 4u);
    EXPECT_EQ(transforms[0].a, DWORD(D3DTS_PROJECTION));
    EXPECT_EQ(std::memcmp(&transforms[0].matrix, &g_matProj, sizeof(D3DXMATRIX)), 0);
    EXPECT_NEAR(transforms[0].matrix.m[1][1], 2.41421f, 1e-5);
    EXPECT_EQ(transforms[1].a, DWORD(D3DTS_VIEW));
    EXPECT_EQ(transforms[1].matrix.m[3][2], 25.0f); // eye at z = -25
    // The first character right of centre, the second left; each turned half a degree more.
    EXPECT_EQ(transforms[2].a, DWORD(D3DTS_WORLD));
    const float* at = transforms[2].matrix.m[3];
    EXPECT_EQ((Xyz{at[0], at[1], at[2]}), (Xyz{15, -15, 30}));
    EXPECT_EQ(transforms[3].matrix.m[3][0], -15.0f);
    EXPECT_EQ(g_SceneObjects[1].yaw, 360.25f); // not wrapped
    EXPECT_EQ(g_SceneObjects[2].yaw, 0.5f);

    // Three directional lights from one record, directions unnormalised.
    EXPECT_EQ(Count("SetLight"), 3);
    const Xyz directions[3] = {{1, 0, 0}, {1, 1, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; ++i) {
        const D3DLIGHT9& l = device->lights[i];
        EXPECT_TRUE(device->lightEnabled[i]);
        EXPECT_EQ(l.Type, D3DLIGHT_DIRECTIONAL);
        EXPECT_EQ(Of(l.Direction), directions[i]) << i;
        EXPECT_EQ((std::array{l.Diffuse.r, l.Specular.g, l.Ambient.r, l.Ambient.a, l.Attenuation0,
                              l.Theta}),
                  (std::array{1.0f, 1.0f, 0.0f, 1.0f, 1.0f, 1.57f}))
            << i;
        EXPECT_NEAR(l.Range, 1.8446743e19f, 1e13f);
    }
    EXPECT_FALSE(device->lightEnabled[3]);

    const std::vector<RecordedCall> texts = device->Calls("Font.DrawText");
    ASSERT_EQ(texts.size(), 3u);
    ExpectText(texts[0], "Pick a character:", "Times New Roman", 17, 320, 50);
    ExpectText(texts[1], "Press 'F'", "Times New Roman", 9, 160, 150);
    ExpectText(texts[2], "Press 'S'", "Times New Roman", 9, 480, 150);
}

} // namespace
