// The character selection screen: the two characters side by side, turning slowly, under
// "Pick a character:", each above the key that picks it. Drawn without the effect, on the
// device's fixed-function transforms and lights; the room is not drawn.
#include "core/settings.h"
#include "models/model.h"
#include "render/camera.h"
#include "render/render.h"
#include "scene/scene.h"

#include <cfloat>
#include <cmath>
#include <cstring>

void DrawPickObject(int objectSlot) {
    const SceneObject& o = ObjectAt(objectSlot);
    const D3DXMATRIX world = BuildWorldMatrix(o);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    UpdateModelAnimation(o.modelSlot, o.animTime);
    DrawModel(o.modelSlot);
}

static void DrawPickText(const char* text, int left, int top) {
    if (!g_pFont) return;
    RECT r = {left, top, left + 400, top + 60};
    g_pFont->DrawTextA(nullptr, text, int(std::strlen(text)), &r, 0, 0xFFFFFFFF);
}

HRESULT RenderPickScreen() {
    g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0);
    g_pDevice->BeginScene();

    // The start camera: camera 1's eye as it stands, camera 2 untouched.
    g_matProj = BuildProjection();
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_matProj);
    g_matView1 = BuildCameraView(g_vEye1, g_fEyeYaw1);
    g_pDevice->SetTransform(D3DTS_VIEW, &g_matView1);

    // One light record set three times; the directions are left unnormalised.
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Ambient = {0.0f, 0.0f, 0.0f, 1.0f};
    light.Position = {1.0f, 1.0f, 1.0f};
    light.Range = std::sqrt(FLT_MAX); // the largest range the device accepts
    light.Falloff = 1.0f;
    light.Attenuation0 = 1.0f;
    light.Attenuation1 = 0.0f;
    light.Attenuation2 = 0.0f;
    light.Theta = 1.57f;
    light.Phi = 1.57f;
    const D3DXVECTOR3 directions[3] = {{1.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};
    for (DWORD i = 0; i < 3; ++i) {
        light.Direction = directions[i];
        g_pDevice->SetLight(i, &light);
        g_pDevice->LightEnable(i, true);
    }

    // The first character right of centre, the second left, both turning half a degree per
    // frame.
    const int c0 = g_nCharacters[0], c1 = g_nCharacters[1];
    g_SceneObjects[c0].position = {15.0f, -15.0f, 30.0f};
    g_SceneObjects[c0].yaw += 0.5f;
    DrawPickObject(c0);
    g_SceneObjects[c1].position = {-15.0f, -15.0f, 30.0f};
    g_SceneObjects[c1].yaw += 0.5f;
    DrawPickObject(c1);

    const int w = g_nScreenWidth;
    DrawPickText("Pick a character:", w / 2, 50);
    DrawPickText("Press 'F'", w / 4, 150);
    DrawPickText("Press 'S'", 3 * (w / 4), 150);

    g_pDevice->EndScene();
    return g_pDevice->Present(nullptr, nullptr, nullptr, nullptr);
}
