// The graphics device: the Direct3D 9 device operations the viewer calls, as an interface with
// two implementations: the OpenGL 3.3 device (gl_device.cpp) and the recording device
// (recording_device.cpp) that tests use to check call order, states and matrices.
//
// Conventions at this boundary: matrices are row-vector, left-handed, clip z in [0, 1] (the GL
// device converts); rectangles are top-left pixel coordinates; results are S_OK / E_FAIL.
#pragma once

#include "platform/types.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

class ID3DXMesh;
class ID3DXEffect;
class ID3DXFont;
class IDirect3DDevice9;

// Something a device made on behalf of a CPU-side resource (GL buffers, a GL texture); it dies
// with the resource that holds it.
struct GpuResource {
    virtual ~GpuResource() = default;
};

// A 2-D texture with its whole mip chain, level 0 first, rows top first. RGBA8 levels, or the
// DXT blocks of a DDS file kept as they are (a device uploads them compressed where the driver
// reads S3TC, decoded otherwise). A device uploads the levels the first time it draws with it.
enum class TextureFormat { RGBA8, DXT1, DXT3, DXT5 };

struct TextureLevel {
    int width, height;
    std::vector<uint8_t> data;
};

class IDirect3DTexture9 {
  public:
    // RGBA8 pixels; the smaller levels are built here, each pixel the mean of the 2x2 above it.
    IDirect3DTexture9(int width, int height, std::vector<uint8_t> rgba);
    // Levels as given (a DDS file's own mip chain, which may stop before 1x1).
    IDirect3DTexture9(TextureFormat format, std::vector<TextureLevel> levels);
    int Width() const { return levels_[0].width; }
    int Height() const { return levels_[0].height; }
    TextureFormat Format() const { return format_; }
    const std::vector<TextureLevel>& Levels() const { return levels_; }
    // Level 0's bytes: RGBA8 pixels, or DXT blocks.
    std::span<const uint8_t> Pixels() const { return levels_[0].data; }
    // Level i as RGBA8, decoding DXT blocks.
    std::vector<uint8_t> Rgba(size_t level) const;

    mutable std::unique_ptr<GpuResource> gpu; // owned by whichever device drew it

  private:
    TextureFormat format_;
    std::vector<TextureLevel> levels_;
};
using TexturePtr = std::shared_ptr<IDirect3DTexture9>;

class IDirect3DDevice9 {
  public:
    virtual ~IDirect3DDevice9() = default;

    // Clears whole targets; the GL device refuses rectangles, which the viewer never passes.
    virtual HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    // Shows the back buffer. The four arguments of the original (source and destination
    // rectangles, window override, dirty region) are always null in this viewer.
    virtual HRESULT Present(const RECT* src, const RECT* dst, void* window, void* dirty) = 0;

    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual DWORD GetRenderState(D3DRENDERSTATETYPE state) const = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DXMATRIX* matrix) const = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* material) = 0;
    virtual HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) = 0;
    // Stage 0 modulates texture and diffuse colour; the GL device refuses other operations.
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                         DWORD value) = 0;
    // Directional lights (the viewer uses no other kind).
    virtual HRESULT SetLight(DWORD index, const D3DLIGHT9* light) = 0;
    virtual HRESULT LightEnable(DWORD index, bool enable) = 0;

    // Draws the faces of one attribute id of a mesh with the current state: through the pass
    // of the effect that is active, or through the built-in fixed-function shader.
    virtual void DrawMeshSubset(const ID3DXMesh& mesh, DWORD attribId) = 0;

    // Factories behind the D3DX stand-ins; each returns null on failure.
    virtual std::shared_ptr<ID3DXEffect> CreateEffectFromFile(const char* fileName) = 0;
    virtual std::shared_ptr<ID3DXFont> CreateFontObject(int height, const char* faceName) = 0;

    // The back buffer's size and its last presented contents as RGBA8, top row first
    // (used by screenshots and tests). Returns false when there is nothing to read: nothing
    // presented yet, or the presented frame drawn over since (a device whose window has the
    // back buffer's size presents straight from the back buffer and keeps no copy).
    virtual int BackBufferWidth() const = 0;
    virtual int BackBufferHeight() const = 0;
    virtual bool ReadBackBuffer(std::vector<uint8_t>& rgba) = 0;
};
using DevicePtr = std::shared_ptr<IDirect3DDevice9>;

// The effect (D3DX effect stand-in). Parameters are set by name; an unknown name is ignored.
class ID3DXEffect {
  public:
    virtual ~ID3DXEffect() = default;
    virtual HRESULT SetTechnique(const char* name) = 0;
    virtual HRESULT Begin(unsigned* passes, DWORD flags) = 0;
    virtual HRESULT BeginPass(unsigned pass) = 0;
    virtual HRESULT EndPass() = 0;
    virtual HRESULT End() = 0;
    virtual HRESULT SetMatrix(const char* name, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT SetInt(const char* name, int value) = 0;
    virtual HRESULT SetTexture(const char* name, IDirect3DTexture9* texture) = 0;
    virtual HRESULT CommitChanges() = 0;
};
using EffectPtr = std::shared_ptr<ID3DXEffect>;

// A font (D3DX font stand-in). DrawTextA with format 0: left, top, no wrap, clipped to the
// rectangle, which is in top-left pixel coordinates. count -1 means up to the terminating zero.
class ID3DXFont {
  public:
    virtual ~ID3DXFont() = default;
    virtual int DrawTextA(void* sprite, const char* text, int count, RECT* rect, DWORD format,
                          D3DCOLOR color) = 0;
};
using FontPtr = std::shared_ptr<ID3DXFont>;

// D3DX entry points over the device factories.
HRESULT D3DXCreateFontA(IDirect3DDevice9* device, int height, unsigned width, unsigned weight,
                        unsigned mipLevels, bool italic, DWORD charSet, DWORD outputPrecision,
                        DWORD quality, DWORD pitchAndFamily, const char* faceName, FontPtr* font);
HRESULT D3DXCreateEffectFromFileA(IDirect3DDevice9* device, const char* fileName,
                                  const void* defines, void* include, DWORD flags, void* pool,
                                  EffectPtr* effect, void* errors);
// Reads PNG, JPEG, BMP, TGA or DDS (DXT1, DXT3, DXT5). The name is looked up as models write
// it (backslashes, a drive, another case): see ResolveTextureName. A texture that cannot be
// read is one line on stderr naming the file and the reason, and E_FAIL.
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* fileName,
                                   TexturePtr* texture);
