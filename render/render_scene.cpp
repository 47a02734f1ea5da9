#include "core/settings.h"
#include "models/model.h"
#include "render/camera.h"
#include "core/matrix.h"
#include "render/render.h"
#include "scene/scene.h"

D3DXMATRIX BuildWorldMatrix(const SceneObject& o) {
    // 3.14 / 180, as the headings use; the camera views turn by pi / 180.
    const float k = 0.017444445f;
    D3DXMATRIX s, rx, ry, rz, t, w;
    D3DXMatrixScaling(&s, o.scale.x, o.scale.y, o.scale.z);
    D3DXMatrixRotationX(&rx, o.pitch * k);
    D3DXMatrixRotationY(&ry, o.yaw * k);
    D3DXMatrixRotationZ(&rz, o.roll * k);
    D3DXMatrixTranslation(&t, o.position.x, o.position.y, o.position.z);
    D3DXMatrixMultiply(&w, &s, &rx);
    D3DXMatrixMultiply(&w, &w, &ry);
    D3DXMatrixMultiply(&w, &w, &rz);
    D3DXMatrixMultiply(&w, &w, &t);
    return w;
}

// The technique the view flags choose.
static const char* ChosenTechnique() {
    if (g_bStandardView) return kTechniqueStandard;
    return g_bWithZ ? kTechniqueDuoscopeWithZ : kTechniqueDuoscope;
}

void DrawSceneObject(int objectSlot) {
    DUO_ASSERT(g_pEffect); // the pass draws every object through the effect's parameters
    const SceneObject& o = ObjectAt(objectSlot);
    const D3DXMATRIX w = BuildWorldMatrix(o);
    D3DXMATRIX wv1, wvp1, wv2, wvp2;
    D3DXMatrixMultiply(&wv1, &w, &g_matView1);
    D3DXMatrixMultiply(&wvp1, &wv1, &g_matProj);
    D3DXMatrixMultiply(&wv2, &w, &g_matView2);
    D3DXMatrixMultiply(&wvp2, &wv2, &g_matProj);
    if (g_bCamera2View) {
        std::swap(wv1, wv2);
        std::swap(wvp1, wvp2);
    }
    g_pEffect->SetMatrix(kParamWorld, &w);
    g_pEffect->SetMatrix(kParamWorldView1, &wv1);
    g_pEffect->SetMatrix(kParamWorldViewProjection1, &wvp1);
    g_pEffect->SetMatrix(kParamWorldView2, &wv2);
    g_pEffect->SetMatrix(kParamWorldViewProjection2, &wvp2);
    UpdateModelAnimation(o.modelSlot, o.animTime);
    DrawModel(o.modelSlot);
}

// Without an effect the frame is drawn on the device's fixed-function path through camera
// slot 1, lit by a light from behind the eye, so the user still sees the scene.
static void DrawWithoutEffect() {
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_matProj);
    g_pDevice->SetTransform(D3DTS_VIEW, g_bCamera2View ? &g_matView2 : &g_matView1);
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Ambient = {0.3f, 0.3f, 0.3f, 1};
    light.Direction = DirectionFromYaw(g_bCamera2View ? g_fEyeYaw2 : g_fEyeYaw1);
    light.Direction.y = -0.5f;
    g_pDevice->SetLight(0, &light);
    g_pDevice->LightEnable(0, true);
    for (int slot : {g_nRoom, g_nControlled, g_nOther}) {
        const SceneObject& o = ObjectAt(slot);
        const D3DXMATRIX w = BuildWorldMatrix(o);
        g_pDevice->SetTransform(D3DTS_WORLD, &w);
        UpdateModelAnimation(o.modelSlot, o.animTime);
        DrawModel(o.modelSlot);
    }
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    g_pDevice->SetTransform(D3DTS_WORLD, &identity);
}

HRESULT RenderScene() {
    g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0);
    g_pDevice->BeginScene();
    // Hierarchies are placed relative to the device's world transform; whatever an earlier
    // screen left there must not move them a second time.
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    g_pDevice->SetTransform(D3DTS_WORLD, &identity);
    BuildViewMatrices();
    if (g_pEffect) {
        g_pEffect->SetTechnique(ChosenTechnique());
        unsigned passes = 0;
        g_pEffect->Begin(&passes, 0);
        for (unsigned pass = 0; pass < passes; ++pass) {
            g_pEffect->BeginPass(pass);
            g_pEffect->SetMatrix(kParamProjection1, &g_matProj);
            DrawSceneObject(g_nRoom);
            DrawSceneObject(g_nControlled);
            DrawSceneObject(g_nOther);
            g_pEffect->EndPass();
        }
        g_pEffect->End();
    } else {
        DrawWithoutEffect();
    }
    if (g_bShowHelp) DrawOverlay();
    g_pDevice->EndScene();
    return g_pDevice->Present(nullptr, nullptr, nullptr, nullptr);
}
