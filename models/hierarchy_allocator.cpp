#include "core/matrix.h"
#include "core/settings.h"
#include "models/model.h"

#include <cstring>
#include <memory>
#include <new>

HierarchyAllocator g_HierarchyAllocator;

char* CopyFrameName(const char* name) {
    const char* source = name ? name : "no_name";
    const size_t size = std::strlen(source) + 1;
    char* copy = new (std::nothrow) char[size];
    if (copy) std::memcpy(copy, source, size);
    return copy;
}

HRESULT HierarchyAllocator::CreateFrame(const char* Name, D3DXFRAME** ppNewFrame) {
    ModelFrame* frame = new ModelFrame();
    frame->Name = CopyFrameName(Name);
    D3DXMatrixIdentity(&frame->TransformationMatrix);
    D3DXMatrixIdentity(&frame->CombinedMatrix);
    *ppNewFrame = frame;
    return S_OK;
}

HRESULT HierarchyAllocator::CreateMeshContainer(const char* Name, const D3DXMESHDATA* pMeshData,
                                                const D3DXMATERIAL* pMaterials,
                                                const D3DXEFFECTINSTANCE*, DWORD NumMaterials,
                                                const DWORD* pAdjacency,
                                                const SkinInfoPtr& pSkinInfo,
                                                D3DXMESHCONTAINER** ppNewMeshContainer) {
    // Progressive and patch meshes are not drawn by this viewer.
    if (pMeshData->Type != D3DXMESHTYPE_MESH) return E_FAIL;
    *ppNewMeshContainer = nullptr;
    ModelMeshContainer* mc = new ModelMeshContainer();
    // Freed whole if an allocation below fails, so that running out of memory leaks nothing.
    auto undo = [this](ModelMeshContainer* p) { DestroyMeshContainer(p); };
    std::unique_ptr<ModelMeshContainer, decltype(undo)> guard(mc, undo);
    mc->Name = CopyFrameName(Name);

    const MeshPtr& mesh = pMeshData->pMesh;
    const DWORD faces = mesh->GetNumFaces();
    mc->pAdjacency = new DWORD[size_t(faces) * 3];
    if (pAdjacency) {
        std::memcpy(mc->pAdjacency, pAdjacency, sizeof(DWORD) * faces * 3);
    } else {
        std::memset(mc->pAdjacency, 0xFF, sizeof(DWORD) * faces * 3);
    }

    mc->MeshData.Type = pMeshData->Type;
    mc->MeshData.pMesh = mesh;
    const MeshDeclaration declaration = mesh->GetDeclaration();

    mc->NumMaterials = NumMaterials > 0 ? NumMaterials : 1;
    mc->pMaterials = new D3DXMATERIAL[mc->NumMaterials];
    mc->pTextures = new TexturePtr[mc->NumMaterials];
    if (NumMaterials > 0) {
        std::memcpy(mc->pMaterials, pMaterials, sizeof(D3DXMATERIAL) * NumMaterials);
        for (DWORD i = 0; i < NumMaterials; ++i) {
            mc->pTextures[i] = nullptr;
            if (mc->pMaterials[i].pTextureFilename)
                D3DXCreateTextureFromFileA(g_pDevice.get(), mc->pMaterials[i].pTextureFilename,
                                           &mc->pTextures[i]);
        }
    } else {
        std::memset(&mc->pMaterials[0], 0, sizeof(D3DXMATERIAL));
        mc->pMaterials[0].MatD3D.Diffuse = {0.8f, 0.8f, 0.8f, 1.0f};
    }
    // The loader's texture names are not ours to keep.
    for (DWORD i = 0; i < mc->NumMaterials; ++i) mc->pMaterials[i].pTextureFilename = nullptr;

    mc->pEffects = nullptr;

    if (pSkinInfo) {
        mc->pSkinInfo = pSkinInfo;
        mc->NumBones = pSkinInfo->GetNumBones();
        mc->pBoneMatrices = new D3DXMATRIX[mc->NumBones];
        mc->pBoneOffsets = new D3DXMATRIX[mc->NumBones];
        mc->ppBoneFrameMatrices = new D3DXMATRIX*[mc->NumBones]();
        for (DWORD i = 0; i < mc->NumBones; ++i)
            mc->pBoneOffsets[i] = *pSkinInfo->GetBoneOffsetMatrix(i);
        mesh->CloneMesh(D3DXMESH_MANAGED, declaration, g_pDevice.get(), &mc->pDrawMesh);
        mesh->GetAttributeTable(nullptr, &mc->NumAttributeRanges);
        mc->pAttributeRanges = new D3DXATTRIBUTERANGE[mc->NumAttributeRanges];
        mesh->GetAttributeTable(mc->pAttributeRanges, &mc->NumAttributeRanges);
    } else {
        mc->pSkinInfo = nullptr;
        mc->pDrawMesh = mesh; // a second reference to the same mesh
    }

    *ppNewMeshContainer = guard.release();
    return S_OK;
}

HRESULT HierarchyAllocator::DestroyFrame(D3DXFRAME* pFrameToFree) {
    if (!pFrameToFree) return S_OK;
    delete[] pFrameToFree->Name;
    delete static_cast<ModelFrame*>(pFrameToFree);
    return S_OK;
}

HRESULT HierarchyAllocator::DestroyMeshContainer(D3DXMESHCONTAINER* pMeshContainerToFree) {
    if (!pMeshContainerToFree) return S_OK;
    auto* mc = static_cast<ModelMeshContainer*>(pMeshContainerToFree);
    delete[] mc->Name;
    mc->MeshData.pMesh.reset();
    delete[] mc->pAdjacency;
    delete[] mc->pMaterials;
    delete[] mc->pAttributeRanges;
    mc->pSkinInfo.reset();
    delete[] mc->pBoneMatrices;
    delete[] mc->pBoneOffsets;
    delete[] mc->ppBoneFrameMatrices;
    mc->pDrawMesh.reset();
    for (DWORD i = 0; mc->pTextures && i < mc->NumMaterials; ++i) mc->pTextures[i].reset();
    delete[] mc->pTextures;
    delete mc;
    return S_OK;
}
