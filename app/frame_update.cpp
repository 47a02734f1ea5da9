// The per-turn frame update: the phase machine, the keys and joystick, computer control, the
// position send check, both cameras, both walk clocks and the render.
//
// Keys are sampled from the asynchronous key state at the moment they are read. One-shot keys
// wait in a busy loop for their release, so holding one acts once; the waits give the
// processor away for a millisecond per turn, which changes nothing about what the keys do.
#include "app/frame_update.h"
#include "app/joystick.h"
#include "core/settings.h"
#include "app/shell.h"
#include "net/net.h"
#include "platform/win/key_wait.h"
#include "platform/win/input.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"

namespace {

bool KeyDown(int virtualKey) {
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

void WaitForRelease(int virtualKey) {
    while (KeyDown(virtualKey)) NapWhileWaiting();
}

// Draws a prompt over the last frame, in the middle of the screen, and shows it. The back
// buffer keeps its contents, so the frame stays visible around the text.
void ShowPrompt(const char* text) {
    RECT r;
    r.left = g_nScreenWidth / 2;
    r.top = g_nScreenHeight / 2;
    r.right = r.left + 400;
    r.bottom = r.top + 60;
    g_pDevice->BeginScene();
    if (g_pFontBold) g_pFontBold->DrawTextA(nullptr, text, -1, &r, 0, 0xFFFFFFFF);
    g_pDevice->EndScene();
    g_pDevice->Present(nullptr, nullptr, nullptr, nullptr);
}

// "Quit? [y/n]" until Y or N. A window closed meanwhile also ends the prompt: the close then
// ends the program through the message loop.
void QuitPrompt() {
    ShowPrompt(kQuitPrompt);
    bool answered = false;
    for (;;) {
        if (KeyDown('Y')) {
            PostQuitMessage(0);
            answered = true;
            WaitForRelease('Y');
        }
        if (KeyDown('N')) {
            WaitForRelease('N');
            return;
        }
        if (answered || StopRequested()) return;
        NapWhileWaiting();
    }
}

// P was pressed: wait for its release, show the prompt, and hold everything until P is
// pressed and released again.
void Pause() {
    WaitForRelease('P');
    ShowPrompt(kPausePrompt);
    while (!KeyDown('P')) {
        if (StopRequested()) return;
        NapWhileWaiting();
    }
    WaitForRelease('P');
}

void StandardView(bool camera2) {
    g_bStandardView = true;
    g_bCamera2View = camera2;
}

void DuoscopeView(bool withZ) {
    g_bStandardView = false;
    g_bWithZ = withZ;
    g_bCamera2View = false;
}

void OneShotKeys() {
    if (KeyDown(VK_F1)) {
        g_bShowHelp = !g_bShowHelp;
        WaitForRelease(VK_F1);
    }
    if (KeyDown(VK_F10)) {
        PostQuitMessage(0);
        WaitForRelease(VK_F10);
    }
    // Once the quit is posted (here, by the window or by a hook) the loop ends after this turn
    // or the next; a prompt opened by a key still held would wait for nothing.
    if (KeyDown(VK_ESCAPE) && !QuitPosted()) QuitPrompt();
    if (KeyDown('P') && !QuitPosted()) Pause();
}

void ViewAndModeKeys() {
    if (KeyDown('1')) StandardView(false);
    if (KeyDown('2')) StandardView(true);
    if (KeyDown('3')) DuoscopeView(true);
    if (KeyDown('4')) {
        g_bAutoMove2 = !g_bAutoMove2;
        WaitForRelease('4');
    }
    if (KeyDown('C')) g_bComputerControl = true;
    if (KeyDown('X')) g_bComputerControl = false;
    if (KeyDown('Z')) DuoscopeView(false);
}

// Full deflection moves by one step; each product is (float)(integer difference) * step * f.
void JoystickAxes(int k) {
    const float f = 1.0f / 32767.0f;
    const DIJOYSTATE2& j = g_JoyState;
    if (j.lX != kJoyAxisCentre) TurnObject(k, float(j.lX - kJoyAxisCentre) * g_fTurnStep * f);
    if (j.lY != kJoyAxisCentre) MoveObject(k, float(kJoyAxisCentre - j.lY) * g_fMoveStep * f);
    if (j.lZ != kJoyAxisCentre) StrafeObject(k, float(j.lZ - kJoyAxisCentre) * g_fMoveStep * f);
    if (j.lRz != kJoyAxisCentre) LiftObject(k, float(kJoyAxisCentre - j.lRz) * g_fMoveStep * f);
}

void JoystickButtons() {
    const DIJOYSTATE2& j = g_JoyState;
    if (j.rgbButtons[4] & 0x80) DuoscopeView(true);  // as '3'
    if (j.rgbButtons[5] & 0x80) StandardView(false); // as '1'
    if (j.rgbButtons[6] & 0x80) DuoscopeView(false); // as 'Z'
    if (j.rgbButtons[7] & 0x80) StandardView(true);  // as '2'
}

// A key and its alias act once: the alias is read only when the key is up.
void MovementKeys(int k) {
    if (KeyDown(VK_LEFT)) TurnObject(k, -g_fTurnStep);
    if (KeyDown(VK_RIGHT)) TurnObject(k, g_fTurnStep);
    if (KeyDown(VK_UP) || KeyDown(VK_NUMPAD5)) MoveObject(k, g_fMoveStep);
    if (KeyDown(VK_DOWN) || KeyDown(VK_NUMPAD2)) MoveObject(k, -g_fMoveStep);
    if (KeyDown('A') || KeyDown(VK_NUMPAD1)) StrafeObject(k, -g_fMoveStep);
    if (KeyDown('D') || KeyDown(VK_NUMPAD3)) StrafeObject(k, g_fMoveStep);
    if (KeyDown('W') || KeyDown(VK_PRIOR)) LiftObject(k, g_fMoveStep);
    if (KeyDown('S') || KeyDown(VK_NEXT)) LiftObject(k, -g_fMoveStep);
}

// The controlled character: computer control, or the joystick and the keys. The joystick's
// view buttons work in both modes, like the view keys.
void ControlledCharacter(int k) {
    if (g_bComputerControl) {
        ComputerControl(k);
        if (g_pJoystick) JoystickButtons();
        return;
    }
    if (g_pJoystick) {
        JoystickAxes(k);
        JoystickButtons();
    }
    MovementKeys(k);
    // Computer control, when switched on, starts from where the user left the character.
    SceneObject& o = ObjectAt(k);
    o.target = o.position;
    o.targetYaw = o.yaw;
}

// At most one position message per 40 ms, and only after movement. moved is cleared and the
// clock restarted whether or not a message went out.
void PositionSendCheck(int k) {
    SceneObject& o = ObjectAt(k);
    if (!o.moved) return;
    const uint32_t now = GetTickCount();
    if (now - g_dwLastSend > 40) {
        if (g_NetSession.connected) sendPosition(k, 0);
        o.moved = false;
        g_dwLastSend = GetTickCount();
    }
}

void PickCharacterPhase() {
    if (KeyDown('S')) {
        g_nControlled = g_nCharacters[0];
        g_nOther = g_nCharacters[1];
        g_nPhase = PlaceCharacters;
    }
    if (KeyDown('F')) {
        g_nControlled = g_nCharacters[1];
        g_nOther = g_nCharacters[0];
        g_nPhase = PlaceCharacters;
    }
    RenderPickScreen();
}

void PlaceCharactersPhase() {
    PlaceCharactersAtStart();
    g_nPhase = Running;
}

void RunningPhase() {
    OneShotKeys();
    ViewAndModeKeys();
    const int k = g_nControlled;
    ControlledCharacter(k);
    PositionSendCheck(k);
    if (!g_bNetwork && g_bAutoMove2) ComputerControl(g_nOther);
    // With networking on, the peer's messages place the other character: the latest one
    // received is applied here, once per frame, before the cameras and the drawing read it.
    if (g_bNetwork) ApplyReceivedPosition();
    UpdateCamera(g_nControlled, g_vEye1, g_fEyeYaw1);
    UpdateCamera(g_nOther, g_vEye2, g_fEyeYaw2);
    StepAnimation(g_nControlled);
    StepAnimation(g_nOther);
    RenderScene();
}

} // namespace

void ResetFrameUpdate() {
    ClearQuitPostedForTests();
}

void UpdateFrame() {
    switch (g_nPhase) {
    case PickCharacter:
        PickCharacterPhase();
        return;
    case PlaceCharacters:
        PlaceCharactersPhase();
        return;
    case Running:
        RunningPhase();
        return;
    default:
        return;
    }
}
