// The D3DX plain mesh loader stand-in and its buffer object.
#pragma once

#include "platform/gfx/mesh.h"
#include "platform/types.h"

#include <cstddef>
#include <memory>
#include <vector>

// An effect named by a material; .x files here carry none, so the loaders hand out empty ones.
struct D3DXEFFECTINSTANCE {
    const char* pEffectFilename;
    DWORD NumDefaults;
    void* pDefaults;
};

// A block of bytes handed out by the loaders (adjacency, materials, effect instances).
class ID3DXBuffer {
  public:
    explicit ID3DXBuffer(size_t bytes)
        : storage_((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)),
          size_(bytes) {}
    void* GetBufferPointer() { return storage_.data(); }
    const void* GetBufferPointer() const { return storage_.data(); }
    DWORD GetBufferSize() const { return DWORD(size_); }

  private:
    std::vector<std::max_align_t> storage_; // aligned for the records placed in it
    size_t size_;
};
using BufferPtr = std::shared_ptr<ID3DXBuffer>;

HRESULT D3DXCreateBuffer(DWORD numBytes, BufferPtr* buffer);

// Loads every mesh of the file, each moved by its frame's combined transform (positions and
// normals), merged into one mesh. The materials of all meshes follow one another, each mesh's
// attribute ids offset by the materials before it; a mesh without materials gets one default
// material (grey diffuse) when other meshes have some. The material buffer holds numMaterials
// D3DXMATERIAL records whose texture names point into the same buffer; the adjacency buffer
// three DWORDs per face. Any out-pointer but mesh may be null. The mesh's faces are sorted by
// attribute. A file that cannot be read, or holds no mesh, gives E_FAIL with one line on the
// standard error stream.
HRESULT D3DXLoadMeshFromXA(const char* fileName, DWORD options, IDirect3DDevice9* device,
                           BufferPtr* adjacency, BufferPtr* materials, BufferPtr* effectInstances,
                           DWORD* numMaterials, MeshPtr* mesh);
HRESULT D3DXLoadMeshFromXInMemory(const void* data, DWORD size, DWORD options,
                                  IDirect3DDevice9* device, BufferPtr* adjacency,
                                  BufferPtr* materials, BufferPtr* effectInstances,
                                  DWORD* numMaterials, MeshPtr* mesh);
