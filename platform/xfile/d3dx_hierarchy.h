// The D3DX frame hierarchy stand-ins: frame and mesh-container records, the allocation
// interface the system implements, the hierarchy loader, destroyer and frame search.
//
// D3DXLoadMeshHierarchyFromXA reads the file with our own .x reader (xscene.h), then calls
// allocator->CreateFrame for each Frame and CreateMeshContainer for each Mesh, in file order;
// top-level frames become the root and its siblings, and a mesh outside any frame gets a frame
// of its own with a null name. A file that cannot be read is refused with one line on the
// standard error stream, and nothing is created.
#pragma once

#include "platform/gfx/mesh.h"
#include "platform/types.h"
#include "platform/xfile/animation.h"
#include "platform/xfile/d3dx_mesh_load.h"
#include "platform/xfile/skin.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>

enum D3DXMESHDATATYPE : uint32_t {
    D3DXMESHTYPE_MESH = 1,
    D3DXMESHTYPE_PMESH = 2,
    D3DXMESHTYPE_PATCHMESH = 3,
};

struct D3DXMESHDATA {
    D3DXMESHDATATYPE Type;
    MeshPtr pMesh;
};

struct D3DXMESHCONTAINER {
    char* Name;
    D3DXMESHDATA MeshData;
    D3DXMATERIAL* pMaterials;
    D3DXEFFECTINSTANCE* pEffects;
    DWORD NumMaterials;
    DWORD* pAdjacency;
    SkinInfoPtr pSkinInfo;
    D3DXMESHCONTAINER* pNextMeshContainer;
    virtual ~D3DXMESHCONTAINER() = default;
};

struct D3DXFRAME {
    char* Name;
    D3DXMATRIX TransformationMatrix;
    D3DXMESHCONTAINER* pMeshContainer;
    D3DXFRAME* pFrameSibling;
    D3DXFRAME* pFrameFirstChild;
    virtual ~D3DXFRAME() = default;
};

// Implemented by the system: makes and frees the frame and container records. The loader
// passes data it owns (names, materials with their texture names, adjacency); it is valid
// only during the call, so the allocator copies what it keeps.
class ID3DXAllocateHierarchy {
  public:
    virtual ~ID3DXAllocateHierarchy() = default;
    virtual HRESULT CreateFrame(const char* Name, D3DXFRAME** ppNewFrame) = 0;
    virtual HRESULT CreateMeshContainer(const char* Name, const D3DXMESHDATA* pMeshData,
                                        const D3DXMATERIAL* pMaterials,
                                        const D3DXEFFECTINSTANCE* pEffectInstances,
                                        DWORD NumMaterials, const DWORD* pAdjacency,
                                        const SkinInfoPtr& pSkinInfo,
                                        D3DXMESHCONTAINER** ppNewMeshContainer) = 0;
    virtual HRESULT DestroyFrame(D3DXFRAME* pFrameToFree) = 0;
    virtual HRESULT DestroyMeshContainer(D3DXMESHCONTAINER* pMeshContainerToFree) = 0;
};

// Loads the hierarchy. Each mesh has its faces stably sorted by attribute (vertices keep the
// order the skin refers to) and an attribute table; the materials are the file's (ambient
// black, texture names as written); the adjacency has three entries per face; the skin is null
// for a mesh without SkinWeights. animController (may be null) receives a controller bound to
// the frames by name, or null when the file has no AnimationSet. userDataLoader is unused.
// On failure everything made is destroyed through the allocator and E_FAIL is returned.
HRESULT D3DXLoadMeshHierarchyFromXA(const char* fileName, DWORD options, IDirect3DDevice9* device,
                                    ID3DXAllocateHierarchy* allocator, void* userDataLoader,
                                    D3DXFRAME** rootFrame, AnimControllerPtr* animController);
// The same from a file image in memory (refusals name the file "(memory)").
HRESULT D3DXLoadMeshHierarchyFromXInMemory(const void* data, DWORD size, DWORD options,
                                           IDirect3DDevice9* device,
                                           ID3DXAllocateHierarchy* allocator, void* userDataLoader,
                                           D3DXFRAME** rootFrame,
                                           AnimControllerPtr* animController);

// Frees root, its siblings and all children, with their mesh containers, through the
// allocator. A null root gives S_OK.
HRESULT D3DXFrameDestroy(D3DXFRAME* root, ID3DXAllocateHierarchy* allocator);

// The first frame of that name: root, then its children, then its siblings, depth first.
D3DXFRAME* D3DXFrameFind(const D3DXFRAME* root, const char* name);
// Name -> the frame D3DXFrameFind gives for it, gathered in one walk, so that binding many
// names over many frames stays linear. The names are the frames' own: the map lives no longer
// than the tree.
using FrameNameMap = std::unordered_map<std::string_view, D3DXFRAME*>;
FrameNameMap D3DXFramesByName(D3DXFRAME* root);
