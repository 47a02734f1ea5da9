#include "core/matrix.h"
#include "core/settings.h"
#include "models/model.h"

static bool FitsSweep(const D3DMATERIAL9& material, Sweep sweep) {
    // Alpha exactly 1 is opaque, below 1 translucent; above 1 is drawn in neither sweep.
    const float alpha = material.Diffuse.a;
    return sweep == Sweep::Opaque ? alpha == 1.0f : alpha < 1.0f;
}

static void BlendingOn() {
    g_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    g_pDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    g_pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

void ApplyMaterial(const D3DMATERIAL9* material, IDirect3DTexture9* texture) {
    g_pDevice->SetMaterial(material);
    g_pDevice->SetTexture(0, texture);
    if (g_pEffect) {
        if (texture) {
            g_pEffect->SetTexture("g_txScene", texture);
            g_pEffect->SetInt("g_bHasTexture", 1);
        } else {
            g_pEffect->SetInt("g_bHasTexture", 0); // g_txScene keeps the last texture
        }
        g_pEffect->CommitChanges();
    }
}

static void DrawPlainSweep(ModelSlot& m, Sweep sweep) {
    for (DWORD i = 0; i < m.NumMaterials; ++i) {
        if (!FitsSweep(m.pMaterials[i], sweep)) continue;
        ApplyMaterial(&m.pMaterials[i], m.pTextures[i].get());
        m.pMesh->DrawSubset(i);
    }
}

static void DrawFrameMeshes(ModelFrame* frame, const D3DXMATRIX& world, Sweep sweep) {
    D3DXMATRIX frameWorld;
    D3DXMatrixMultiply(&frameWorld, &frame->CombinedMatrix, &world);
    for (auto* mc = static_cast<ModelMeshContainer*>(frame->pMeshContainer); mc;
         mc = static_cast<ModelMeshContainer*>(mc->pNextMeshContainer)) {
        if (mc->pSkinInfo) {
            // Skinned vertices are already in model-root space.
            g_pDevice->SetTransform(D3DTS_WORLD, &world);
            for (DWORD r = 0; r < mc->NumAttributeRanges; ++r) {
                const DWORD a = mc->pAttributeRanges[r].AttribId;
                if (a >= mc->NumMaterials) continue; // a face naming no material
                if (r == 0 || a != mc->pAttributeRanges[r - 1].AttribId)
                    ApplyMaterial(&mc->pMaterials[a].MatD3D, mc->pTextures[a].get());
                if (FitsSweep(mc->pMaterials[a].MatD3D, sweep)) mc->pDrawMesh->DrawSubset(a);
            }
        } else {
            g_pDevice->SetTransform(D3DTS_WORLD, &frameWorld);
            for (DWORD i = 0; i < mc->NumMaterials; ++i) {
                if (!FitsSweep(mc->pMaterials[i].MatD3D, sweep)) continue;
                ApplyMaterial(&mc->pMaterials[i].MatD3D, mc->pTextures[i].get());
                mc->pDrawMesh->DrawSubset(i);
            }
        }
    }
}

// The stack of the drawing walk; its capacity persists, so drawing allocates nothing.
static FrameStack s_drawStack;

// Each frame's meshes, then its sibling chain, then its children: the translucent sweep relies
// on this order staying as it is.
void DrawFrame(ModelFrame* frame, const D3DXMATRIX& world, Sweep sweep) {
    WalkFrames(s_drawStack, frame, nullptr,
               [&](ModelFrame* f, const D3DXMATRIX*) { DrawFrameMeshes(f, world, sweep); });
}

void DrawModel(int slot) {
    if (IsModelSlotEmpty(slot)) return; // a model that failed to load draws nothing
    ModelSlot& m = ModelSlotAt(slot);
    g_pDevice->SetRenderState(D3DRS_COLORVERTEX, FALSE);
    g_pDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    g_pDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    if (!m.IsHierarchy) {
        DrawPlainSweep(m, Sweep::Opaque);
        BlendingOn();
        DrawPlainSweep(m, Sweep::Translucent);
        g_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    } else {
        D3DXMATRIX world;
        g_pDevice->GetTransform(D3DTS_WORLD, &world);
        DrawFrame(m.pRootFrame, world, Sweep::Opaque);
        BlendingOn();
        DrawFrame(m.pRootFrame, world, Sweep::Translucent);
        g_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        g_pDevice->SetTransform(D3DTS_WORLD, &world);
    }
    g_pDevice->SetTexture(0, nullptr);
    g_pDevice->SetRenderState(D3DRS_COLORVERTEX, TRUE);
}
