// Models: the frame hierarchy allocator, the model slot table with loading, animation and
// software skinning, and model drawing.
#pragma once

#include "platform/gfx/device.h"
#include "platform/gfx/mesh.h"
#include "platform/invariant.h"
#include "platform/xfile/d3dx_hierarchy.h"

#include <utility>
#include <vector>

// A frame of a hierarchy: the loader's frame plus its transform relative to the model root.
struct ModelFrame : D3DXFRAME {
    D3DXMATRIX CombinedMatrix;
};

// A mesh container: the loader's container plus what drawing and skinning need.
struct ModelMeshContainer : D3DXMESHCONTAINER {
    TexturePtr* pTextures; // NumMaterials entries, null where a material has none
    MeshPtr pDrawMesh;     // skinned: the clone skinning writes; else MeshData.pMesh
    DWORD NumBones;
    D3DXMATRIX* pBoneMatrices;        // bone offset x bone frame's combined, per bone
    D3DXMATRIX* pBoneOffsets;         // copied from the skin at creation
    D3DXMATRIX** ppBoneFrameMatrices; // CombinedMatrix of each bone's frame, set after loading
    DWORD NumAttributeRanges;
    D3DXATTRIBUTERANGE* pAttributeRanges;
};

// Creates and frees the frame and mesh container records for the hierarchy loader.
class HierarchyAllocator : public ID3DXAllocateHierarchy {
  public:
    HRESULT CreateFrame(const char* Name, D3DXFRAME** ppNewFrame) override;
    HRESULT CreateMeshContainer(const char* Name, const D3DXMESHDATA* pMeshData,
                                const D3DXMATERIAL* pMaterials,
                                const D3DXEFFECTINSTANCE* pEffectInstances, DWORD NumMaterials,
                                const DWORD* pAdjacency, const SkinInfoPtr& pSkinInfo,
                                D3DXMESHCONTAINER** ppNewMeshContainer) override;
    HRESULT DestroyFrame(D3DXFRAME* pFrameToFree) override;
    HRESULT DestroyMeshContainer(D3DXMESHCONTAINER* pMeshContainerToFree) override;
};

extern HierarchyAllocator g_HierarchyAllocator;

// A heap copy of name, or "no_name" for null; null only when the allocation fails.
char* CopyFrameName(const char* name);

struct ModelSlot {
    bool IsHierarchy;
    MeshPtr pMesh;            // plain
    DWORD NumMaterials;       // plain
    D3DMATERIAL9* pMaterials; // plain, ambient replaced by diffuse
    TexturePtr* pTextures;    // plain
    ModelFrame* pRootFrame;   // hierarchy
    AnimControllerPtr pAnimController;
    double Period;  // seconds, length of the first animation set
    float LastTime; // time of the last computed pose
};

constexpr int kModelSlotCount = 3;
extern ModelSlot g_ModelSlots[kModelSlotCount];
// The record of a model slot, which must be one of the table's.
inline ModelSlot& ModelSlotAt(int slot) {
    DUO_ASSERT(slot >= 0 && slot < kModelSlotCount);
    return g_ModelSlots[slot];
}

void LoadModel(int slot, const char* fileName, bool asHierarchy);
void FreeModel(int slot);
double StartAnimation(const AnimControllerPtr& controller);
void LinkBones(ModelFrame* frame, ModelFrame* root);
void UpdateModelAnimation(int slot, float time);
void UpdateFrameMatrices(ModelFrame* frame, const D3DXMATRIX* parentMatrix);
void UpdateSkins(ModelFrame* frame);

void DrawModel(int slot);
void ApplyMaterial(const D3DMATERIAL9* material, IDirect3DTexture9* texture);
enum class Sweep { Opaque, Translucent };
void DrawFrame(ModelFrame* frame, const D3DXMATRIX& world, Sweep sweep);

// Frames waiting in a walk, each with its parent's combined matrix.
using FrameStack = std::vector<std::pair<ModelFrame*, const D3DXMATRIX*>>;

// Calls visit(frame, parentMatrix) for frame, its siblings and all their descendants: a frame,
// then the rest of its sibling chain, then its children, the order the drawing sweeps have
// always used. An explicit stack instead of recursion, since a file may chain hundreds of
// thousands of siblings; the caller's stack keeps its capacity, so a walk made every frame stops
// allocating after the first. visit must not start another walk on the same stack.
template <typename Visit>
void WalkFrames(FrameStack& stack, ModelFrame* frame, const D3DXMATRIX* parent, Visit visit) {
    stack.clear();
    if (frame) stack.emplace_back(frame, parent);
    while (!stack.empty()) {
        const auto [f, p] = stack.back();
        stack.pop_back();
        visit(f, p);
        if (f->pFrameFirstChild)
            stack.emplace_back(static_cast<ModelFrame*>(f->pFrameFirstChild), &f->CombinedMatrix);
        if (f->pFrameSibling) stack.emplace_back(static_cast<ModelFrame*>(f->pFrameSibling), p);
    }
}

// Whether a slot holds nothing to draw or animate (never loaded, or its file was refused).
bool IsModelSlotEmpty(int slot);
