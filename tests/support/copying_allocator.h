// A hierarchy allocator for the .x loaders' tests, fuzzer and benchmarks: it copies what the loader
// hands over as the viewer's allocator does, records its create calls ("F name" / "M name", null
// names as "<null>"), counts the records alive, and can be told to fail its n-th create call.
#pragma once

#include "platform/xfile/d3dx_hierarchy.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct CopyingFrame : D3DXFRAME {
    std::string name;
};

struct CopyingContainer : D3DXMESHCONTAINER {
    std::string name;
    std::vector<D3DXMATERIAL> materials; // texture names cleared; the copies are in textures
    std::vector<std::string> textures;
    std::vector<DWORD> adjacency;
};

class CopyingAllocator : public ID3DXAllocateHierarchy {
  public:
    std::vector<std::string> calls;
    int failAt = 0; // 1-based; 0: none
    int live = 0;

    HRESULT CreateFrame(const char* name, D3DXFRAME** out) override {
        if (!Record("F ", name)) return E_FAIL;
        auto f = std::make_unique<CopyingFrame>();
        f->name = name ? name : "";
        f->Name = name ? f->name.data() : nullptr;
        f->TransformationMatrix = IdentityMatrix();
        *out = f.release();
        return S_OK;
    }
    HRESULT CreateMeshContainer(const char* name, const D3DXMESHDATA* data,
                                const D3DXMATERIAL* materials, const D3DXEFFECTINSTANCE*,
                                DWORD numMaterials, const DWORD* adjacency, const SkinInfoPtr& skin,
                                D3DXMESHCONTAINER** out) override {
        if (!Record("M ", name)) return E_FAIL;
        auto c = std::make_unique<CopyingContainer>();
        c->name = name ? name : "";
        c->Name = name ? c->name.data() : nullptr;
        c->MeshData = *data;
        c->materials.assign(materials, materials + numMaterials);
        for (D3DXMATERIAL& m : c->materials)
            c->textures.push_back(m.pTextureFilename ? std::exchange(m.pTextureFilename, nullptr)
                                                     : "");
        c->pMaterials = numMaterials ? c->materials.data() : nullptr;
        c->NumMaterials = numMaterials;
        c->adjacency.assign(adjacency, adjacency + size_t(data->pMesh->GetNumFaces()) * 3);
        c->pAdjacency = c->adjacency.data();
        c->pSkinInfo = skin;
        *out = c.release();
        return S_OK;
    }
    HRESULT DestroyFrame(D3DXFRAME* f) override {
        live -= f != nullptr;
        std::unique_ptr<CopyingFrame> owned(static_cast<CopyingFrame*>(f));
        return S_OK;
    }
    HRESULT DestroyMeshContainer(D3DXMESHCONTAINER* c) override {
        live -= c != nullptr;
        std::unique_ptr<CopyingContainer> owned(static_cast<CopyingContainer*>(c));
        return S_OK;
    }

  private:
    bool Record(const char* kind, const char* name) {
        calls.push_back(kind + std::string(name ? name : "<null>"));
        const bool ok = int(calls.size()) != failAt;
        live += ok;
        return ok;
    }
};
