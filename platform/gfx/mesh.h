// The mesh (D3DX mesh stand-in): a CPU copy of vertices, triangle indices and one attribute id
// per face, plus the GL buffers a device makes from them. After OptimizeInplace with
// D3DXMESHOPT_ATTRSORT the faces are sorted by attribute and the attribute table says where each
// subset lies; DrawSubset(i) draws the faces of attribute i.
#pragma once

#include "platform/gfx/device.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Every mesh stores this vertex; the declaration says which of the optional parts the file gave.
struct MeshVertex {
    float position[3];
    float normal[3];
    float texcoord[2];
    uint32_t color; // 0xAARRGGBB, white when the file gives none
};

struct MeshDeclaration {
    bool hasNormal = false;
    bool hasTexCoord = false;
    bool hasColor = false;
    bool operator==(const MeshDeclaration&) const = default;
};

constexpr DWORD D3DXMESH_MANAGED = 0x220;
constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;
constexpr DWORD D3DLOCK_READONLY = 0x10;
constexpr uint32_t kNoAdjacentFace = 0xFFFFFFFFu;

class ID3DXMesh;
using MeshPtr = std::shared_ptr<ID3DXMesh>;

class ID3DXMesh {
  public:
    // indices holds three entries per face; attributes one per face.
    ID3DXMesh(IDirect3DDevice9* device, MeshDeclaration declaration,
              std::vector<MeshVertex> vertices, std::vector<uint32_t> indices,
              std::vector<uint32_t> attributes);

    DWORD GetNumFaces() const { return static_cast<DWORD>(attributes_.size()); }
    DWORD GetNumVertices() const { return static_cast<DWORD>(vertices_.size()); }
    MeshDeclaration GetDeclaration() const { return declaration_; }
    IDirect3DDevice9* GetDevice() const { return device_; }

    // A copy with the given declaration (parts the source lacks are zero) on the given device.
    HRESULT CloneMesh(DWORD options, const MeshDeclaration& declaration, IDirect3DDevice9* device,
                      MeshPtr* clone) const;
    // Attribute sort (stable), optional compaction of unused vertices and vertex-cache order
    // within each subset. The adjacency is accepted for the interface and not needed here.
    HRESULT OptimizeInplace(DWORD flags, const uint32_t* adjacencyIn, uint32_t* adjacencyOut,
                            uint32_t* faceRemap, void* vertexRemap);
    // With table null: writes the number of ranges to *count. Otherwise fills *count entries.
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* table, DWORD* count) const;
    // Three entries per face: the face sharing each edge, or kNoAdjacentFace.
    std::vector<uint32_t> GenerateAdjacency() const;

    HRESULT LockVertexBuffer(DWORD flags, MeshVertex** data);
    HRESULT UnlockVertexBuffer();
    HRESULT DrawSubset(DWORD attribId);

    std::span<const MeshVertex> Vertices() const { return vertices_; }
    std::span<const uint32_t> Indices() const { return indices_; }
    std::span<const uint32_t> Attributes() const { return attributes_; }
    std::span<const D3DXATTRIBUTERANGE> AttributeTable() const { return table_; }

    mutable std::unique_ptr<GpuResource> gpu; // made by the device that draws the mesh
    mutable bool gpuDirty = true;             // vertices changed since the last upload

  private:
    void BuildAttributeTable();

    IDirect3DDevice9* device_;
    MeshDeclaration declaration_;
    std::vector<MeshVertex> vertices_;
    std::vector<uint32_t> indices_;
    std::vector<uint32_t> attributes_;
    std::vector<D3DXATTRIBUTERANGE> table_;
    bool locked_ = false;
};
