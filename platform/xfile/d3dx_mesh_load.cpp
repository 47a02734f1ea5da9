#include "platform/xfile/d3dx_mesh_load.h"

#include "platform/xfile/xd3dx.h"
#include "platform/xfile/xscene.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace {

using xfile::Scene;

struct Placement {
    uint32_t mesh;
    D3DXMATRIX transform;
};

// Every mesh with its frame's combined transform, in file order (nesting is bounded).
void Collect(const Scene& scene, uint32_t frame, const D3DXMATRIX& parent,
             std::vector<Placement>& out) {
    D3DXMATRIX combined;
    MultiplyMatrices(&combined, scene.frames[frame].transform, parent);
    for (const xfile::FrameItem& item : scene.frames[frame].items) {
        if (item.isMesh)
            out.push_back({item.index, combined});
        else
            Collect(scene, item.index, combined, out);
    }
}

void TransformVertex(MeshVertex& v, const D3DXMATRIX& m) {
    float p[3], n[3];
    for (int c = 0; c < 3; ++c) {
        p[c] = v.position[0] * m.m[0][c] + v.position[1] * m.m[1][c] + v.position[2] * m.m[2][c] +
               m.m[3][c];
        n[c] = v.normal[0] * m.m[0][c] + v.normal[1] * m.m[1][c] + v.normal[2] * m.m[2][c];
    }
    const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int c = 0; c < 3; ++c) {
        v.position[c] = p[c];
        v.normal[c] = len > 0 ? n[c] / len : 0.0f;
    }
}

HRESULT BuildMerged(const std::string& name, const char* fileName, const void* data, DWORD size,
                    IDirect3DDevice9* device, BufferPtr* adjacency, BufferPtr* materials,
                    BufferPtr* effectInstances, DWORD* numMaterials, MeshPtr* mesh) {
    Scene scene;
    if (!xfile::LoadScene(fileName, data, size, scene)) return E_FAIL;
    std::vector<Placement> placements;
    for (uint32_t root : scene.roots) Collect(scene, root, IdentityMatrix(), placements);
    if (placements.empty()) {
        xfile::ReportError(name + ": holds no mesh");
        return E_FAIL;
    }

    bool anyMaterials = false;
    for (const Placement& p : placements) anyMaterials |= !scene.meshes[p.mesh].materials.empty();
    xfile::Material fallback;
    for (int i = 0; i < 3; ++i) fallback.faceColor[i] = 0.8f;

    MeshDeclaration declaration;
    std::vector<MeshVertex> vertices;
    std::vector<uint32_t> indices, attributes;
    std::vector<const xfile::Material*> mats;
    for (const Placement& p : placements) {
        const xfile::MeshData& m = scene.meshes[p.mesh];
        declaration.hasNormal |= m.declaration.hasNormal;
        declaration.hasTexCoord |= m.declaration.hasTexCoord;
        declaration.hasColor |= m.declaration.hasColor;
        const uint32_t vertexBase = uint32_t(vertices.size());
        const uint32_t materialBase = uint32_t(mats.size());
        for (MeshVertex v : m.vertices) {
            TransformVertex(v, p.transform);
            vertices.push_back(v);
        }
        for (uint32_t i : m.indices) indices.push_back(i + vertexBase);
        for (uint32_t a : m.attributes) attributes.push_back(a + materialBase);
        for (const xfile::Material& mat : m.materials) mats.push_back(&mat);
        if (m.materials.empty() && anyMaterials) mats.push_back(&fallback);
    }

    auto merged = std::make_shared<ID3DXMesh>(device, declaration, std::move(vertices),
                                              std::move(indices), std::move(attributes));
    merged->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr);

    if (adjacency) {
        const std::vector<uint32_t> adj = merged->GenerateAdjacency();
        D3DXCreateBuffer(DWORD(adj.size() * sizeof(uint32_t)), adjacency);
        if (!adj.empty())
            std::memcpy((*adjacency)->GetBufferPointer(), adj.data(),
                        adj.size() * sizeof(uint32_t));
    }
    if (materials) {
        // The records first, then the texture names they point at, in the same buffer.
        size_t bytes = mats.size() * sizeof(D3DXMATERIAL);
        for (const xfile::Material* m : mats) bytes += m->hasTexture ? m->texture.size() + 1 : 0;
        D3DXCreateBuffer(DWORD(bytes), materials);
        auto* records = static_cast<D3DXMATERIAL*>((*materials)->GetBufferPointer());
        char* text = reinterpret_cast<char*>(records + mats.size());
        for (size_t i = 0; i < mats.size(); ++i) {
            records[i].MatD3D = xfile::ToD3DMaterial(*mats[i]);
            records[i].pTextureFilename = nullptr;
            if (!mats[i]->hasTexture) continue;
            std::memcpy(text, mats[i]->texture.c_str(), mats[i]->texture.size() + 1);
            records[i].pTextureFilename = text;
            text += mats[i]->texture.size() + 1;
        }
    }
    if (effectInstances) {
        // One empty effect instance per material: .x files here carry no effects.
        D3DXCreateBuffer(DWORD(mats.size() * sizeof(D3DXEFFECTINSTANCE)), effectInstances);
        auto* effects = static_cast<D3DXEFFECTINSTANCE*>((*effectInstances)->GetBufferPointer());
        for (size_t i = 0; i < mats.size(); ++i) effects[i] = {nullptr, 0, nullptr};
    }
    if (numMaterials) *numMaterials = DWORD(mats.size());
    *mesh = std::move(merged);
    return S_OK;
}

HRESULT LoadMerged(const char* fileName, const void* data, DWORD size, IDirect3DDevice9* device,
                   BufferPtr* adjacency, BufferPtr* materials, BufferPtr* effectInstances,
                   DWORD* numMaterials, MeshPtr* mesh) {
    const std::string name = fileName ? fileName : "(memory)";
    if (!mesh) {
        xfile::ReportError(name + ": no place for the mesh");
        return E_FAIL;
    }
    // A model too large for the memory at hand is refused like a broken one.
    try {
        return BuildMerged(name, fileName, data, size, device, adjacency, materials,
                           effectInstances, numMaterials, mesh);
    } catch (const std::bad_alloc&) {
        for (BufferPtr* b : {adjacency, materials, effectInstances})
            if (b) b->reset();
        mesh->reset();
        xfile::ReportError(name + ": not enough memory to load the model");
        return E_FAIL;
    }
}

} // namespace

HRESULT D3DXCreateBuffer(DWORD numBytes, BufferPtr* buffer) {
    if (!buffer) return E_FAIL;
    *buffer = std::make_shared<ID3DXBuffer>(numBytes);
    return S_OK;
}

HRESULT D3DXLoadMeshFromXA(const char* fileName, DWORD, IDirect3DDevice9* device,
                           BufferPtr* adjacency, BufferPtr* materials, BufferPtr* effectInstances,
                           DWORD* numMaterials, MeshPtr* mesh) {
    if (!fileName) {
        xfile::ReportError("(null): no file name");
        return E_FAIL;
    }
    return LoadMerged(fileName, nullptr, 0, device, adjacency, materials, effectInstances,
                      numMaterials, mesh);
}

HRESULT D3DXLoadMeshFromXInMemory(const void* data, DWORD size, DWORD, IDirect3DDevice9* device,
                                  BufferPtr* adjacency, BufferPtr* materials,
                                  BufferPtr* effectInstances, DWORD* numMaterials, MeshPtr* mesh) {
    if (!data) {
        xfile::ReportError("(memory): no data");
        return E_FAIL;
    }
    return LoadMerged(nullptr, data, size, device, adjacency, materials, effectInstances,
                      numMaterials, mesh);
}
