#include "core/matrix.h"
#include "core/settings.h"
#include "models/model.h"

#include <cstdio>
#include <cstring>

ModelSlot g_ModelSlots[kModelSlotCount];

// Bones that name no frame of their hierarchy follow the model root.
static D3DXMATRIX s_rootPose = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

bool IsModelSlotEmpty(int slot) {
    const ModelSlot& m = ModelSlotAt(slot);
    return m.IsHierarchy ? m.pRootFrame == nullptr : m.pMesh == nullptr;
}

static void LoadPlainModel(ModelSlot& m, const char* fileName) {
    m.IsHierarchy = false;
    BufferPtr adjacency, materials;
    DWORD count = 0;
    if (FAILED(D3DXLoadMeshFromXA(fileName, D3DXMESH_MANAGED, g_pDevice.get(), &adjacency,
                                  &materials, nullptr, &count, &m.pMesh)) ||
        !m.pMesh) {
        m.pMesh = nullptr;
        return; // the loader said why on stderr; the slot stays empty
    }
    m.NumMaterials = count;
    m.pMesh->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE,
                             static_cast<const DWORD*>(adjacency->GetBufferPointer()), nullptr,
                             nullptr, nullptr);
    if (m.NumMaterials > 0) {
        const auto* loaded = static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer());
        m.pMaterials = new D3DMATERIAL9[m.NumMaterials];
        m.pTextures = new TexturePtr[m.NumMaterials];
        for (DWORD i = 0; i < m.NumMaterials; ++i) {
            m.pMaterials[i] = loaded[i].MatD3D;
            m.pMaterials[i].Ambient = m.pMaterials[i].Diffuse;
            m.pTextures[i] = nullptr;
            if (loaded[i].pTextureFilename)
                D3DXCreateTextureFromFileA(g_pDevice.get(), loaded[i].pTextureFilename,
                                           &m.pTextures[i]);
        }
    }
    adjacency.reset();
    materials.reset();
}

void LoadModel(int slot, const char* fileName, bool asHierarchy) {
    ModelSlot& m = ModelSlotAt(slot);
    if (!asHierarchy) {
        LoadPlainModel(m, fileName);
        return;
    }
    m.IsHierarchy = true;
    D3DXFRAME* root = nullptr;
    if (FAILED(D3DXLoadMeshHierarchyFromXA(fileName, D3DXMESH_MANAGED, g_pDevice.get(),
                                           &g_HierarchyAllocator, nullptr, &root,
                                           &m.pAnimController))) {
        m.pRootFrame = nullptr;
        m.pAnimController = nullptr;
        return; // the loader said why on stderr; the slot stays empty
    }
    m.pRootFrame = static_cast<ModelFrame*>(root);
    m.Period = StartAnimation(m.pAnimController);
    LinkBones(m.pRootFrame, m.pRootFrame);
    m.LastTime = -1.0f;
    UpdateModelAnimation(slot, 0.0f);
}

double StartAnimation(const AnimControllerPtr& controller) {
    if (!controller) return 0.0;
    AnimSetPtr set;
    if (FAILED(controller->GetAnimationSet(0, &set)) || !set) return 0.0;
    controller->SetTrackAnimationSet(0, set);
    controller->SetTrackEnable(0, true);
    const double period = set->GetPeriod();
    set.reset();
    return period;
}

// The stack of the hierarchy walks here; its capacity persists, so posing allocates nothing.
static FrameStack s_frameStack;

void LinkBones(ModelFrame* frame, ModelFrame* root) {
    FrameNameMap byName;
    bool gathered = false;
    WalkFrames(s_frameStack, frame, nullptr, [&](ModelFrame* f, const D3DXMATRIX*) {
        for (auto* mc = static_cast<ModelMeshContainer*>(f->pMeshContainer); mc;
             mc = static_cast<ModelMeshContainer*>(mc->pNextMeshContainer)) {
            if (!mc->pSkinInfo) continue;
            if (!gathered) byName = D3DXFramesByName(root);
            gathered = true;
            for (DWORD i = 0; i < mc->NumBones; ++i) {
                const char* bone = mc->pSkinInfo->GetBoneName(i);
                const auto it = bone ? byName.find(bone) : byName.end();
                if (it != byName.end()) {
                    mc->ppBoneFrameMatrices[i] =
                        &static_cast<ModelFrame*>(it->second)->CombinedMatrix;
                } else {
                    std::fprintf(stderr,
                                 "duoscope: bone '%s' names no frame; it follows the root\n",
                                 bone ? bone : "");
                    mc->ppBoneFrameMatrices[i] = &s_rootPose;
                }
            }
        }
    });
}

void UpdateModelAnimation(int slot, float time) {
    ModelSlot& m = ModelSlotAt(slot);
    if (!m.pAnimController) return;
    m.pAnimController->SetTrackPosition(0, double(time));
    m.pAnimController->AdvanceTime(0.0, nullptr);
    if (time == m.LastTime) return;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    UpdateFrameMatrices(m.pRootFrame, &identity);
    UpdateSkins(m.pRootFrame);
    m.LastTime = time;
}

void UpdateFrameMatrices(ModelFrame* frame, const D3DXMATRIX* parentMatrix) {
    WalkFrames(s_frameStack, frame, parentMatrix, [](ModelFrame* f, const D3DXMATRIX* parent) {
        D3DXMatrixMultiply(&f->CombinedMatrix, &f->TransformationMatrix, parent);
    });
}

void UpdateSkins(ModelFrame* frame) {
    WalkFrames(s_frameStack, frame, nullptr, [](ModelFrame* f, const D3DXMATRIX*) {
        for (auto* mc = static_cast<ModelMeshContainer*>(f->pMeshContainer); mc;
             mc = static_cast<ModelMeshContainer*>(mc->pNextMeshContainer)) {
            if (!mc->pSkinInfo) continue;
            for (DWORD i = 0; i < mc->NumBones; ++i)
                D3DXMatrixMultiply(&mc->pBoneMatrices[i], &mc->pBoneOffsets[i],
                                   mc->ppBoneFrameMatrices[i]);
            MeshVertex* source = nullptr;
            MeshVertex* destination = nullptr;
            mc->MeshData.pMesh->LockVertexBuffer(D3DLOCK_READONLY, &source);
            mc->pDrawMesh->LockVertexBuffer(0, &destination);
            mc->pSkinInfo->UpdateSkinnedMesh(mc->pBoneMatrices, nullptr, source, destination);
            mc->MeshData.pMesh->UnlockVertexBuffer();
            mc->pDrawMesh->UnlockVertexBuffer();
        }
    });
}

void FreeModel(int slot) {
    ModelSlot& m = ModelSlotAt(slot);
    if (m.IsHierarchy) {
        m.pAnimController.reset();
        if (m.pRootFrame) D3DXFrameDestroy(m.pRootFrame, &g_HierarchyAllocator);
        m.pRootFrame = nullptr; // a second free finds nothing
        return;
    }
    for (DWORD i = 0; m.pTextures && i < m.NumMaterials; ++i) m.pTextures[i].reset();
    delete[] m.pTextures;
    delete[] m.pMaterials;
    m.pTextures = nullptr;
    m.pMaterials = nullptr;
    m.pMesh.reset();
}
