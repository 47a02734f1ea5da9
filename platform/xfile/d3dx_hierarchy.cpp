#include "platform/xfile/d3dx_hierarchy.h"

#include "platform/xfile/xd3dx.h"
#include "platform/xfile/xscene.h"

#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using xfile::MeshData;
using xfile::Scene;

// Builds the frame tree through the allocator, linking every record the moment it exists so
// that a failure half-way can free the whole partial tree with D3DXFrameDestroy.
class HierarchyBuilder {
  public:
    // The scene's meshes are moved into the loaded meshes at their last placement.
    HierarchyBuilder(Scene& scene, IDirect3DDevice9* device, ID3DXAllocateHierarchy* allocator,
                     std::string fileName)
        : scene_(scene), device_(device), allocator_(allocator), fileName_(std::move(fileName)),
          placements_(scene.meshes.size()) {
        for (const xfile::Frame& f : scene.frames)
            for (const xfile::FrameItem& item : f.items)
                if (item.isMesh) ++placements_[item.index];
    }

    bool Build(D3DXFRAME*& root) {
        root = nullptr;
        D3DXFRAME** tail = &root;
        for (uint32_t f : scene_.roots) {
            if (!AddFrame(f, tail)) return false;
            if (*tail) tail = &(*tail)->pFrameSibling;
        }
        return true;
    }

  private:
    bool Fail(const std::string& reason) {
        xfile::ReportError(fileName_ + ": " + reason);
        return false;
    }

    // Frame nesting is bounded by the reader, so the recursion is too.
    bool AddFrame(uint32_t index, D3DXFRAME** slot) {
        const xfile::Frame& frame = scene_.frames[index];
        D3DXFRAME* f = nullptr;
        if (FAILED(allocator_->CreateFrame(frame.named ? frame.name.c_str() : nullptr, &f)) || !f)
            return Fail("the allocator made no frame for '" + frame.name + "'");
        f->pMeshContainer = nullptr;
        f->pFrameSibling = nullptr;
        f->pFrameFirstChild = nullptr;
        f->TransformationMatrix = frame.transform;
        *slot = f;
        D3DXFRAME** childTail = &f->pFrameFirstChild;
        D3DXMESHCONTAINER** meshTail = &f->pMeshContainer;
        for (const xfile::FrameItem& item : frame.items) {
            if (item.isMesh) {
                if (!AddMesh(scene_.meshes[item.index], --placements_[item.index] == 0, meshTail))
                    return false;
                if (*meshTail) meshTail = &(*meshTail)->pNextMeshContainer;
            } else {
                if (!AddFrame(item.index, childTail)) return false;
                if (*childTail) childTail = &(*childTail)->pFrameSibling;
            }
        }
        return true;
    }

    bool AddMesh(MeshData& m, bool last, D3DXMESHCONTAINER** slot) {
        auto mesh = last
                        ? std::make_shared<ID3DXMesh>(device_, m.declaration, std::move(m.vertices),
                                                      std::move(m.indices), std::move(m.attributes))
                        : std::make_shared<ID3DXMesh>(device_, m.declaration, m.vertices, m.indices,
                                                      m.attributes);
        // Attribute sort only: faces move, vertices stay where the skin expects them.
        mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr);
        const std::vector<uint32_t> adjacency = mesh->GenerateAdjacency();
        std::vector<D3DXMATERIAL> materials;
        for (const xfile::Material& mat : m.materials)
            materials.push_back(
                {xfile::ToD3DMaterial(mat), mat.hasTexture ? mat.texture.c_str() : nullptr});
        std::vector<D3DXEFFECTINSTANCE> effects(materials.size(),
                                                D3DXEFFECTINSTANCE{nullptr, 0, nullptr});
        SkinInfoPtr skin;
        if (!m.bones.empty())
            skin = std::make_shared<ID3DXSkinInfo>(mesh->GetNumVertices(), m.bones);
        const D3DXMESHDATA data{D3DXMESHTYPE_MESH, mesh};
        D3DXMESHCONTAINER* container = nullptr;
        const HRESULT hr = allocator_->CreateMeshContainer(
            m.named ? m.name.c_str() : nullptr, &data,
            materials.empty() ? nullptr : materials.data(),
            effects.empty() ? nullptr : effects.data(), DWORD(materials.size()), adjacency.data(),
            skin, &container);
        if (FAILED(hr)) return Fail("the allocator refused mesh '" + m.name + "'");
        if (container) {
            container->pNextMeshContainer = nullptr;
            *slot = container;
        }
        return true;
    }

    Scene& scene_;
    IDirect3DDevice9* device_;
    ID3DXAllocateHierarchy* allocator_;
    std::string fileName_;
    std::vector<uint32_t> placements_; // placements of each mesh not yet built
};

// Reads the file and builds the tree into root, which holds whatever was made when this fails
// or throws.
HRESULT BuildHierarchy(const std::string& name, const char* fileName, const void* data, DWORD size,
                       IDirect3DDevice9* device, ID3DXAllocateHierarchy* allocator,
                       D3DXFRAME*& root, AnimControllerPtr* animController) {
    Scene scene;
    if (!xfile::LoadScene(fileName, data, size, scene)) return E_FAIL;
    if (scene.roots.empty()) {
        xfile::ReportError(name + ": holds no frame and no mesh");
        return E_FAIL;
    }
    HierarchyBuilder builder(scene, device, allocator, name);
    if (!builder.Build(root)) return E_FAIL;
    if (animController && !scene.sets.empty()) {
        std::vector<AnimSetPtr> sets;
        for (xfile::AnimationSet& s : scene.sets)
            sets.push_back(std::make_shared<ID3DXAnimationSet>(std::move(s), scene.ticksPerSecond));
        const FrameNameMap byName = D3DXFramesByName(root);
        *animController = std::make_shared<ID3DXAnimationController>(
            std::move(sets), [&byName](const std::string& frame) -> D3DXMATRIX* {
                auto it = byName.find(frame);
                return it == byName.end() ? nullptr : &it->second->TransformationMatrix;
            });
    }
    return S_OK;
}

HRESULT LoadHierarchy(const char* fileName, const void* data, DWORD size, IDirect3DDevice9* device,
                      ID3DXAllocateHierarchy* allocator, D3DXFRAME** rootFrame,
                      AnimControllerPtr* animController) {
    const std::string name = fileName ? fileName : "(memory)";
    if (!allocator || !rootFrame) {
        xfile::ReportError(name + ": no allocator or no place for the root frame");
        return E_FAIL;
    }
    *rootFrame = nullptr;
    if (animController) *animController = nullptr;
    D3DXFRAME* root = nullptr;
    HRESULT hr;
    // A model too large for the memory at hand is refused like a broken one: the viewer runs
    // on without it.
    try {
        hr = BuildHierarchy(name, fileName, data, size, device, allocator, root, animController);
    } catch (const std::bad_alloc&) {
        if (animController) *animController = nullptr;
        xfile::ReportError(name + ": not enough memory to load the model");
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        D3DXFrameDestroy(root, allocator);
        return E_FAIL;
    }
    *rootFrame = root;
    return S_OK;
}

} // namespace

FrameNameMap D3DXFramesByName(D3DXFRAME* root) {
    FrameNameMap byName;
    std::vector<D3DXFRAME*> stack;
    if (root) stack.push_back(root);
    while (!stack.empty()) {
        D3DXFRAME* f = stack.back();
        stack.pop_back();
        if (f->Name) byName.try_emplace(f->Name, f);
        if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
        if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
    }
    return byName;
}

HRESULT D3DXLoadMeshHierarchyFromXA(const char* fileName, DWORD, IDirect3DDevice9* device,
                                    ID3DXAllocateHierarchy* allocator, void*, D3DXFRAME** rootFrame,
                                    AnimControllerPtr* animController) {
    if (!fileName) {
        xfile::ReportError("(null): no file name");
        return E_FAIL;
    }
    return LoadHierarchy(fileName, nullptr, 0, device, allocator, rootFrame, animController);
}

HRESULT D3DXLoadMeshHierarchyFromXInMemory(const void* data, DWORD size, DWORD,
                                           IDirect3DDevice9* device,
                                           ID3DXAllocateHierarchy* allocator, void*,
                                           D3DXFRAME** rootFrame,
                                           AnimControllerPtr* animController) {
    if (!data) {
        xfile::ReportError("(memory): no data");
        return E_FAIL;
    }
    return LoadHierarchy(nullptr, data, size, device, allocator, rootFrame, animController);
}

HRESULT D3DXFrameDestroy(D3DXFRAME* root, ID3DXAllocateHierarchy* allocator) {
    if (!root) return S_OK;
    if (!allocator) return E_FAIL;
    HRESULT result = S_OK;
    // An explicit stack: long sibling chains must not exhaust the call stack.
    std::vector<D3DXFRAME*> stack{root};
    while (!stack.empty()) {
        D3DXFRAME* f = stack.back();
        stack.pop_back();
        if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
        if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
        for (D3DXMESHCONTAINER* c = f->pMeshContainer; c;) {
            D3DXMESHCONTAINER* next = c->pNextMeshContainer;
            if (FAILED(allocator->DestroyMeshContainer(c))) result = E_FAIL;
            c = next;
        }
        if (FAILED(allocator->DestroyFrame(f))) result = E_FAIL;
    }
    return result;
}

D3DXFRAME* D3DXFrameFind(const D3DXFRAME* root, const char* name) {
    if (!name) return nullptr;
    std::vector<const D3DXFRAME*> stack;
    if (root) stack.push_back(root);
    while (!stack.empty()) {
        const D3DXFRAME* f = stack.back();
        stack.pop_back();
        if (f->Name && std::strcmp(f->Name, name) == 0) return const_cast<D3DXFRAME*>(f);
        if (f->pFrameSibling) stack.push_back(f->pFrameSibling);
        if (f->pFrameFirstChild) stack.push_back(f->pFrameFirstChild);
    }
    return nullptr;
}
