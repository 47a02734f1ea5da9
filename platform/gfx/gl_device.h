// The OpenGL 3.3 core device: internal declarations shared by the device, its effect and its
// fonts. Nothing outside platform/gfx includes this file; the system sees IDirect3DDevice9.
#pragma once

#include "platform/gfx/d3d.h"
#include "platform/gfx/device.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

// The GL context of one device. Resources made on it (mesh buffers, textures) hold a weak
// reference, so they free their GL objects only while the context and its window live; once
// the context is gone its objects went with it.
struct GlContext {
    SDL_GLContext context = nullptr;
    HWND window = nullptr;
    // Makes the context current; false when its window has been destroyed.
    bool MakeCurrent() const;
};

// Vertex attribute locations shared by every program (built-in and effect), so one vertex
// array per mesh serves them all.
enum GlAttrib : GLuint {
    kAttribPosition = 0,
    kAttribNormal = 1,
    kAttribTexCoord = 2,
    kAttribColor = 3,
};

// Locations of the reserved uniforms through which every draw hands a program the device
// state (-1 where the program does not use one).
struct GlReservedUniforms {
    GLint world = -1, view = -1, projection = -1;
    GLint materialDiffuse = -1, materialAmbient = -1, materialSpecular = -1, materialEmissive = -1,
          materialPower = -1;
    GLint texture0 = -1, hasTexture0 = -1;
};

struct GlProgram {
    GLuint id = 0;
    GlReservedUniforms reserved;
};

// The GLSL text put in front of every stage: version, attribute locations (vertex stage),
// reserved uniforms and the clip-space helper. Its declarations are listed at the top of
// data/Duoscope.fx.
std::string GlslPrelude(bool vertexStage);
// Compiles one stage; 0 and the compiler's log on failure.
GLuint CompileGlShader(GLenum stage, std::string_view source, std::string* log);
// Links two compiled stages with the shared attribute locations; 0 and the log on failure.
GLuint LinkGlProgram(GLuint vertex, GLuint fragment, std::string* log);
// Both stages compiled and linked; on failure one stderr line "WHAT: LOG" and 0.
GLuint BuildGlProgram(std::string_view vertex, std::string_view fragment, const char* what);
void LookUpReservedUniforms(GlProgram& program);

// Texture units: the device's stage-0 texture is on unit 0; effect texture parameters use the
// units after it.
constexpr GLint kTextureUnitStage0 = 0;
constexpr GLint kFirstEffectTextureUnit = 1;

class GlDevice final : public IDirect3DDevice9 {
  public:
    // Creates the context on the window and a back buffer of width x height (4 samples when
    // samples is 4). Presents wait for a vertical retrace when syncToRetrace is set and the
    // driver offers it. Null, with the reason on stderr, when any step fails.
    // spareContext, when given and usable on the window, becomes the device's context.
    static std::shared_ptr<GlDevice> Create(HWND window, int width, int height, int samples,
                                            bool syncToRetrace, const GlLimits& limits,
                                            IDirect3D9::SpareContext spareContext);
    // Use Create: the device is not usable before its back buffer exists.
    GlDevice(std::shared_ptr<GlContext> context, int width, int height);
    ~GlDevice() override;
    GlDevice(const GlDevice&) = delete;
    GlDevice& operator=(const GlDevice&) = delete;

    HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* src, const RECT* dst, void* window, void* dirty) override;

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    DWORD GetRenderState(D3DRENDERSTATETYPE state) const override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DXMATRIX* matrix) const override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, bool enable) override;

    void DrawMeshSubset(const ID3DXMesh& mesh, DWORD attribId) override;

    std::shared_ptr<ID3DXEffect> CreateEffectFromFile(const char* fileName) override;
    std::shared_ptr<ID3DXFont> CreateFontObject(int height, const char* faceName) override;

    int BackBufferWidth() const override { return width_; }
    int BackBufferHeight() const override { return height_; }
    bool ReadBackBuffer(std::vector<uint8_t>& rgba) override;

    // --- for the effect and the fonts of this device ---
    bool MakeCurrent() const { return context_->MakeCurrent(); }
    const std::shared_ptr<GlContext>& Context() const { return context_; }
    // The program of the active effect pass, or null for the built-in fixed-function shader.
    void SetPassProgram(const GlProgram* program) { passProgram_ = program; }
    // The GL texture of a texture, uploaded on first use (0 for null).
    GLuint TextureObject(const IDirect3DTexture9* texture);
    // Binds the back buffer for drawing with its full viewport.
    void BindBackBuffer();
    // The text shader all fonts of this device draw with (built at the first font).
    struct TextProgram {
        GLuint id = 0;
        GLint screenAt = -1, colorAt = -1, atlasAt = -1;
    };
    const TextProgram* EnsureTextProgram();

  private:
    bool CreateBackBuffer(int samples);
    bool CreatePresentPrograms();
    GLenum BackTextureTarget() const;
    void SetCopyStates();
    void CopyBackBuffer();
    void ScaleIntoWindow(int windowWidth, int windowHeight);
    void ApplyRenderStates();
    void SetReservedUniforms(const GlProgram& program);
    bool EnsureFixedFunctionProgram();
    void SetFixedFunctionUniforms(bool meshHasColor);

    std::shared_ptr<GlContext> context_;
    int width_, height_;
    int samples_ = 0;

    // Back buffer (possibly multisampled) and the single-sample copy of the last presented
    // frame (a texture: the scaling pass and ReadBackBuffer read it). A window of the back
    // buffer's size gets the frame straight from the back buffer; the copy is then made only
    // when the frame is read back.
    GLuint backFbo_ = 0, backDepth_ = 0;
    GLuint backTexture_ = 0; // the colour: a texture (multisampled or not) the copy pass reads
    GLuint frontFbo_ = 0, frontTexture_ = 0;
    bool presented_ = false;
    bool frontCurrent_ = false;     // the front copy holds the last presented frame
    bool drawnSincePresent_ = true; // the back buffer was bound for drawing since then
    // The copy pass (the back buffer into the window or the front copy, its samples resolved
    // when multisampled) and the scaling pass (the front copy over the letterbox rectangle).
    GLuint copyProgram_ = 0, presentProgram_ = 0;
    GLint presentRectAt_ = -1;
    GLint frontFilter_ = 0; // the front texture's current filter

    std::array<DWORD, kRenderStateCount> renderStates_{};
    static constexpr int kStages = 8;
    D3DXMATRIX world_, view_, projection_;
    D3DMATERIAL9 material_{};
    IDirect3DTexture9* texture0_ = nullptr;
    static constexpr int kLights = 8;
    std::array<D3DLIGHT9, kLights> lights_{};
    std::array<bool, kLights> lightEnabled_{};

    const GlProgram* passProgram_ = nullptr;
    // The built-in fixed-function shader and its own uniform locations.
    struct FixedUniforms {
        GLint normalMatrix, lighting, normalize, hasVertexColor, useVertexColor, lightCount;
        GLint lightDirection, lightDiffuse, lightAmbient;
    };
    GlProgram fixedProgram_;
    TextProgram textProgram_;
    FixedUniforms fixed_{};
    GLuint emptyVao_ = 0;
};

// Uploads a row-vector matrix so that GLSL `v * M` is the row-vector product v x M. The floats
// are stored row after row; GL reads them column after column unless told to transpose, and
// without the transpose `v * M` in GLSL would compute M x v instead.
inline void UploadMatrix(GLint location, const D3DXMATRIX& m) {
    if (location >= 0) glUniformMatrix4fv(location, 1, GL_TRUE, &m.m[0][0]);
}

void ColorToFloats(D3DCOLOR color, float out[4]);
