// The Direct3D 9 object and the device's life, back buffer, Clear, Present and state storage.
// Drawing lives in gl_draw.cpp, the effect in gl_effect*.cpp, fonts in gl_font.cpp.
#include "platform/gfx/gl_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void SetContextAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
}

// A context belongs to the window it was made on; SDL wants it current on that window.
bool MakeContextCurrent(SDL_Window* window, SDL_GLContext context) {
    if (SDL_GL_GetCurrentContext() == context && SDL_GL_GetCurrentWindow() == window) return true;
    return SDL_GL_MakeCurrent(window, context) == 0;
}

} // namespace

bool GlContext::MakeCurrent() const {
    SDL_Window* sdlWindow = SdlWindowOf(window);
    return sdlWindow && MakeContextCurrent(sdlWindow, context);
}

void ColorToFloats(D3DCOLOR color, float out[4]) {
    out[0] = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(color & 0xFF) / 255.0f;
    out[3] = static_cast<float>((color >> 24) & 0xFF) / 255.0f;
}

// ---------------------------------------------------------------------------------------------
// The Direct3D object

std::shared_ptr<IDirect3D9> Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) {
        std::fprintf(stderr, "Direct3DCreate9: unexpected SDK version %u\n", sdkVersion);
        return nullptr;
    }
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        std::fprintf(stderr, "Direct3DCreate9: SDL video is not initialised\n");
        return nullptr;
    }
    // A tiny hidden window and context tell whether OpenGL 3.3 core is there and what it holds.
    SetContextAttributes();
    SDL_Window* probe =
        SDL_CreateWindow("probe", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!probe) {
        std::fprintf(stderr, "Direct3DCreate9: no OpenGL window: %s\n", SDL_GetError());
        return nullptr;
    }
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousContext = SDL_GL_GetCurrentContext();
    SDL_GLContext context = SDL_GL_CreateContext(probe);
    if (!context) {
        std::fprintf(stderr, "Direct3DCreate9: no OpenGL 3.3 core context: %s\n", SDL_GetError());
        SDL_DestroyWindow(probe);
        return nullptr;
    }
    GlLimits limits;
    GLint viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_SAMPLES, &limits.maxSamples);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &limits.maxRenderbufferSize);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    limits.maxViewportWidth = viewport[0];
    limits.maxViewportHeight = viewport[1];
    SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_DestroyWindow(probe);
    if (previousContext) SDL_GL_MakeCurrent(previousWindow, previousContext);
    // Windows made for OpenGL share one pixel format, so the context serves the device's
    // window as well as it served the probe's.
    IDirect3D9::SpareContext spare(context, [](void* c) { SDL_GL_DeleteContext(c); });
    return std::make_shared<IDirect3D9>(limits, std::move(spare));
}

HRESULT IDirect3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (!mode) return E_FAIL;
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(static_cast<int>(adapter), &desktop) != 0) return E_FAIL;
    mode->Width = static_cast<UINT>(desktop.w);
    mode->Height = static_cast<UINT>(desktop.h);
    mode->RefreshRate = static_cast<UINT>(desktop.refresh_rate);
    mode->Format = D3DFMT_X8R8G8B8;
    return S_OK;
}

HRESULT IDirect3D9::CheckDeviceMultiSampleType(UINT, D3DDEVTYPE, D3DFORMAT, bool,
                                               D3DMULTISAMPLE_TYPE samples, DWORD* qualityLevels) {
    bool offered =
        samples == D3DMULTISAMPLE_NONE || static_cast<int>(samples) <= limits_.maxSamples;
    if (qualityLevels) *qualityLevels = offered ? 1 : 0;
    return offered ? S_OK : E_FAIL;
}

HRESULT IDirect3D9::GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9* caps) {
    if (!caps) return E_FAIL;
    caps->DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    return S_OK;
}

HRESULT IDirect3D9::CreateDevice(UINT, D3DDEVTYPE, HWND focusWindow, DWORD,
                                 D3DPRESENT_PARAMETERS* params, DevicePtr* device) {
    if (!device) return E_FAIL;
    device->reset();
    if (!params) return E_FAIL;
    HWND window = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;
    int samples = params->MultiSampleType == D3DMULTISAMPLE_4_SAMPLES ? 4 : 0;
    // Unsigned sizes: a negative int handed in arrives huge and fails the limit check.
    UINT width = params->BackBufferWidth, height = params->BackBufferHeight;
    if (width == 0 || height == 0 || width > static_cast<UINT>(limits_.maxRenderbufferSize) ||
        height > static_cast<UINT>(limits_.maxRenderbufferSize) ||
        width > static_cast<UINT>(limits_.maxViewportWidth) ||
        height > static_cast<UINT>(limits_.maxViewportHeight)) {
        std::fprintf(stderr, "CreateDevice: back buffer %ux%u is not possible\n", width, height);
        return E_FAIL;
    }
    const bool sync = params->PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE;
    auto created = GlDevice::Create(window, static_cast<int>(width), static_cast<int>(height),
                                    samples, sync, limits_, std::move(spareContext_));
    if (!created) return E_FAIL;
    *device = std::move(created);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// The device's life

GlDevice::GlDevice(std::shared_ptr<GlContext> context, int width, int height)
    : context_(std::move(context)), width_(width), height_(height), world_(IdentityMatrix()),
      view_(IdentityMatrix()), projection_(IdentityMatrix()) {
    // Direct3D 9's initial states, for the ones drawing reads.
    renderStates_[D3DRS_ZENABLE] = 1;
    renderStates_[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates_[D3DRS_ALPHABLENDENABLE] = FALSE;
    renderStates_[D3DRS_LIGHTING] = TRUE;
    renderStates_[D3DRS_COLORVERTEX] = TRUE;
    renderStates_[D3DRS_NORMALIZENORMALS] = FALSE;
    renderStates_[D3DRS_COLORWRITEENABLE] = 0xF;
    material_.Diffuse = {1, 1, 1, 1};
}

std::shared_ptr<GlDevice> GlDevice::Create(HWND window, int width, int height, int samples,
                                           bool syncToRetrace, const GlLimits& limits,
                                           IDirect3D9::SpareContext spareContext) {
    SDL_Window* sdlWindow = SdlWindowOf(window);
    if (!sdlWindow) {
        std::fprintf(stderr, "CreateDevice: no window\n");
        return nullptr;
    }
    if (samples > limits.maxSamples) samples = 0;
    // The probe's context when it can be made current on this window, else a new one.
    SDL_GLContext context = nullptr;
    if (spareContext && SDL_GL_MakeCurrent(sdlWindow, spareContext.get()) == 0)
        context = spareContext.release();
    SetContextAttributes();
    if (!context) context = SDL_GL_CreateContext(sdlWindow);
    if (!context) {
        std::fprintf(stderr, "CreateDevice: no OpenGL 3.3 core context: %s\n", SDL_GetError());
        return nullptr;
    }
    // One retrace per present where the driver can wait for it. Surfaces that have no retrace
    // (Xvfb, SDL's off-screen driver) refuse or ignore the wait; they present at once, as a
    // display without a retrace can only do, so a refusal is not worth a word.
    if (!syncToRetrace || SDL_GL_SetSwapInterval(1) != 0) SDL_GL_SetSwapInterval(0);
    auto glContext = std::make_shared<GlContext>();
    glContext->context = context;
    glContext->window = window;
    auto device = std::make_shared<GlDevice>(std::move(glContext), width, height);
    // On failure the destructor frees the context.
    if (!device->CreateBackBuffer(samples) || !device->CreatePresentPrograms()) return nullptr;
    return device;
}

GlDevice::~GlDevice() {
    SDL_GLContext context = context_->context;
    if (context_->MakeCurrent()) {
        // Resources still alive elsewhere must not touch this context from now on.
        glDeleteProgram(fixedProgram_.id);
        glDeleteProgram(textProgram_.id);
        glDeleteProgram(presentProgram_);
        glDeleteProgram(copyProgram_);
        glDeleteVertexArrays(1, &emptyVao_);
        glDeleteFramebuffers(1, &backFbo_);
        glDeleteFramebuffers(1, &frontFbo_);
        GLuint textures[] = {backTexture_, frontTexture_};
        glDeleteTextures(2, textures);
        glDeleteRenderbuffers(1, &backDepth_);
    }
    context_.reset();
    if (SDL_GL_GetCurrentContext() == context) SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(context);
}

bool GlDevice::CreateBackBuffer(int samples) {
    samples_ = samples;
    glGenFramebuffers(1, &backFbo_);
    glGenRenderbuffers(1, &backDepth_);
    glBindRenderbuffer(GL_RENDERBUFFER, backDepth_);
    if (samples_ > 0)
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples_, GL_DEPTH_COMPONENT16, width_,
                                         height_);
    else
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width_, height_);
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    // The colour is a texture that Present's copy pass reads (all samples of a pixel when
    // multisampled).
    glGenTextures(1, &backTexture_);
    glBindTexture(BackTextureTarget(), backTexture_);
    if (samples_ > 0) {
        glTexImage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, samples_, GL_RGBA8, width_, height_,
                                GL_TRUE);
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    glBindTexture(BackTextureTarget(), 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, BackTextureTarget(), backTexture_,
                           0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, backDepth_);
    bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;

    glGenFramebuffers(1, &frontFbo_);
    glGenTextures(1, &frontTexture_);
    glBindTexture(GL_TEXTURE_2D, frontTexture_);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, frontFbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, frontTexture_, 0);
    complete = complete && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!complete || glGetError() != GL_NO_ERROR) {
        std::fprintf(stderr, "CreateDevice: back buffer %dx%d (%d samples) is incomplete\n", width_,
                     height_, samples_);
        return false;
    }
    glGenVertexArrays(1, &emptyVao_);
    BindBackBuffer();
    return true;
}

void GlDevice::BindBackBuffer() {
    drawnSincePresent_ = true; // whoever binds it is about to draw
    glBindFramebuffer(GL_FRAMEBUFFER, backFbo_);
    glViewport(0, 0, width_, height_);
}

// ---------------------------------------------------------------------------------------------
// Frame operations

// Whole targets only: the viewer clears no rectangles.
HRESULT GlDevice::Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                        DWORD) {
    if (count != 0 || rects || !MakeCurrent()) return E_FAIL;
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        ColorToFloats(color, c);
        glClearColor(c[0], c[1], c[2], c[3]);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        glClearDepth(std::clamp(z, 0.0f, 1.0f));
        glDepthMask(GL_TRUE);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (mask == 0) return S_OK;
    BindBackBuffer();
    glDisable(GL_SCISSOR_TEST);
    glClear(mask);
    return S_OK;
}

HRESULT GlDevice::BeginScene() {
    return MakeCurrent() ? S_OK : E_FAIL;
}
HRESULT GlDevice::EndScene() {
    return MakeCurrent() ? S_OK : E_FAIL;
}

HRESULT GlDevice::Present(const RECT*, const RECT*, void*, void*) {
    if (!MakeCurrent()) return E_FAIL;
    SetCopyStates();
    SDL_Window* window = SdlWindowOf(context_->window);
    int windowWidth = 0, windowHeight = 0;
    SDL_GL_GetDrawableSize(window, &windowWidth, &windowHeight);
    if (windowWidth == width_ && windowHeight == height_) {
        // One pass: the back buffer goes straight into the window. The front copy is made
        // only if the frame is read back (the back buffer still holds it until drawn on).
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        CopyBackBuffer();
        frontCurrent_ = false;
    } else {
        // The front copy, then one scaling pass into the letterbox.
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, frontFbo_);
        CopyBackBuffer();
        frontCurrent_ = true;
        if (windowWidth > 0 && windowHeight > 0) ScaleIntoWindow(windowWidth, windowHeight);
    }
    presented_ = true;
    SDL_GL_SwapWindow(window);
    BindBackBuffer();
    drawnSincePresent_ = false;
    return S_OK;
}

void GlDevice::SetCopyStates() {
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

GLenum GlDevice::BackTextureTarget() const {
    return samples_ > 0 ? GL_TEXTURE_2D_MULTISAMPLE : GL_TEXTURE_2D;
}

// Copies the whole back buffer (resolved: the mean of each pixel's samples) into the bound
// draw framebuffer, which has the back buffer's size. A pass of our own: the driver's blit
// compiles its own shaders at its first use, 35-50 ms at every start on llvmpipe.
void GlDevice::CopyBackBuffer() {
    glViewport(0, 0, width_, height_);
    glUseProgram(copyProgram_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(BackTextureTarget(), backTexture_);
    glBindVertexArray(emptyVao_);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
    glBindTexture(BackTextureTarget(), 0);
}

// Shows the front copy in a window drawable of another size, the aspect kept, the bars black:
// one scaling pass over the picture's rectangle.
void GlDevice::ScaleIntoWindow(int windowWidth, int windowHeight) {
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    const double scale = std::min(static_cast<double>(windowWidth) / width_,
                                  static_cast<double>(windowHeight) / height_);
    const int w = std::max(1, static_cast<int>(width_ * scale + 0.5));
    const int h = std::max(1, static_cast<int>(height_ * scale + 0.5));
    const int x = (windowWidth - w) / 2, y = (windowHeight - h) / 2;
    glViewport(0, 0, windowWidth, windowHeight);
    // Only the bars are cleared: the picture covers the rest.
    const int bars[4][4] = {{0, 0, x, windowHeight},
                            {x + w, 0, windowWidth - x - w, windowHeight},
                            {x, 0, w, y},
                            {x, y + h, w, windowHeight - y - h}};
    glClearColor(0, 0, 0, 1);
    glEnable(GL_SCISSOR_TEST);
    for (const auto& bar : bars) {
        if (bar[2] <= 0 || bar[3] <= 0) continue;
        glScissor(bar[0], bar[1], bar[2], bar[3]);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
    glUseProgram(presentProgram_);
    // The rectangle in clip coordinates: left, bottom, right, top.
    glUniform4f(presentRectAt_, 2.0f * x / windowWidth - 1, 2.0f * y / windowHeight - 1,
                2.0f * (x + w) / windowWidth - 1, 2.0f * (y + h) / windowHeight - 1);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, frontTexture_);
    // Same size (a window exactly as large in one direction): texel for pixel.
    const GLint filter = w == width_ && h == height_ ? GL_NEAREST : GL_LINEAR;
    if (filter != frontFilter_) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        frontFilter_ = filter;
    }
    glBindVertexArray(emptyVao_);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
}

bool GlDevice::CreatePresentPrograms() {
    // A rectangle from four vertex ids (the whole target unless duo_Rect says otherwise) with
    // texture coordinates from 0 to 1 across it. The samplers read texture unit 0.
    static constexpr char kVertex[] =
        "#version 330 core\n"
        "uniform vec4 duo_Rect = vec4(-1.0, -1.0, 1.0, 1.0);\n"
        "out vec2 duo_Uv;\n"
        "void main() {\n"
        "    duo_Uv = vec2(gl_VertexID & 1, gl_VertexID >> 1);\n"
        "    gl_Position = vec4(mix(duo_Rect.xy, duo_Rect.zw, duo_Uv), 0.0, 1.0);\n"
        "}\n";
    presentProgram_ = BuildGlProgram(kVertex,
                                     "#version 330 core\n"
                                     "uniform sampler2D duo_Frame;\n"
                                     "in vec2 duo_Uv;\n"
                                     "out vec4 duo_Color;\n"
                                     "void main() { duo_Color = texture(duo_Frame, duo_Uv); }\n",
                                     "CreateDevice: present shader");
    if (!presentProgram_) return false;
    presentRectAt_ = glGetUniformLocation(presentProgram_, "duo_Rect");
    if (samples_ > 0) {
        // The mean of the pixel's samples, as a multisample resolve gives it.
        static constexpr char kResolve[] = "uniform sampler2DMS duo_Samples;\n"
                                           "out vec4 duo_Color;\n"
                                           "void main() {\n"
                                           "    ivec2 p = ivec2(gl_FragCoord.xy);\n"
                                           "    vec4 sum = vec4(0.0);\n"
                                           "    for (int i = 0; i < DUO_SAMPLES; ++i)\n"
                                           "        sum += texelFetch(duo_Samples, p, i);\n"
                                           "    duo_Color = sum / float(DUO_SAMPLES);\n"
                                           "}\n";
        copyProgram_ = BuildGlProgram(kVertex,
                                      "#version 330 core\n#define DUO_SAMPLES " +
                                          std::to_string(samples_) + "\n" + kResolve,
                                      "CreateDevice: resolve shader");
    } else {
        copyProgram_ =
            BuildGlProgram(kVertex,
                           "#version 330 core\n"
                           "uniform sampler2D duo_Back;\n"
                           "out vec4 duo_Color;\n"
                           "void main() {\n"
                           "    duo_Color = texelFetch(duo_Back, ivec2(gl_FragCoord.xy), 0);\n"
                           "}\n",
                           "CreateDevice: copy shader");
    }
    return copyProgram_ != 0;
}

bool GlDevice::ReadBackBuffer(std::vector<uint8_t>& rgba) {
    if (!presented_ || !MakeCurrent()) return false;
    if (!frontCurrent_) {
        // Presented straight from the back buffer: it still holds the frame unless something
        // was drawn since, and then the presented frame is gone.
        if (drawnSincePresent_) return false;
        SetCopyStates();
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, frontFbo_);
        CopyBackBuffer();
        frontCurrent_ = true;
        BindBackBuffer();
        drawnSincePresent_ = false;
    }
    size_t rowBytes = static_cast<size_t>(width_) * 4;
    rgba.resize(rowBytes * static_cast<size_t>(height_));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, frontFbo_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, backFbo_);
    // The back buffer's format is X8R8G8B8: it has no alpha to read.
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    // GL's first row is the bottom one.
    std::vector<uint8_t> row(rowBytes);
    for (int top = 0, bottom = height_ - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = rgba.data() + static_cast<size_t>(top) * rowBytes;
        uint8_t* b = rgba.data() + static_cast<size_t>(bottom) * rowBytes;
        std::memcpy(row.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, row.data(), rowBytes);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// State storage; drawing reads it (ApplyRenderStates, the fixed-function uniforms).

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= kRenderStateCount) return E_FAIL;
    renderStates_[state] = value;
    return S_OK;
}

DWORD GlDevice::GetRenderState(D3DRENDERSTATETYPE state) const {
    return state < kRenderStateCount ? renderStates_[state] : 0;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix) {
    if (!matrix) return E_FAIL;
    switch (state) {
    case D3DTS_WORLD:
        world_ = *matrix;
        return S_OK;
    case D3DTS_VIEW:
        view_ = *matrix;
        return S_OK;
    case D3DTS_PROJECTION:
        projection_ = *matrix;
        return S_OK;
    }
    return E_FAIL;
}

HRESULT GlDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DXMATRIX* matrix) const {
    if (!matrix) return E_FAIL;
    switch (state) {
    case D3DTS_WORLD:
        *matrix = world_;
        return S_OK;
    case D3DTS_VIEW:
        *matrix = view_;
        return S_OK;
    case D3DTS_PROJECTION:
        *matrix = projection_;
        return S_OK;
    }
    return E_FAIL;
}

HRESULT GlDevice::SetMaterial(const D3DMATERIAL9* material) {
    if (!material) return E_FAIL;
    material_ = *material;
    return S_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DTexture9* texture) {
    // Only stage 0 is drawn with; the viewer uses no other.
    if (stage >= kStages) return E_FAIL;
    if (stage == 0) texture0_ = texture;
    return S_OK;
}

// Stage 0 always modulates texture and diffuse colour, the only operation the viewer sets:
// anything else is refused.
HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE, DWORD value) {
    return stage == 0 && value == D3DTOP_MODULATE ? S_OK : E_FAIL;
}

// Directional lights only: the viewer uses no other kind.
HRESULT GlDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (index >= kLights || !light || light->Type != D3DLIGHT_DIRECTIONAL) return E_FAIL;
    lights_[index] = *light;
    return S_OK;
}

HRESULT GlDevice::LightEnable(DWORD index, bool enable) {
    if (index >= kLights) return E_FAIL;
    lightEnabled_[index] = enable;
    return S_OK;
}
