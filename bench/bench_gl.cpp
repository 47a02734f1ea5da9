// Frame time of each effect technique through the device (effect passes, parameter commits,
// state mapping, mesh draw) against bare GL drawing the same triangles with the same shaders
// into a framebuffer of the same size. Off-screen, 640x480; the ratio of the two is the cost
// of the device layer. Every frame ends with glFinish so both measure finished work.
#include "platform/gfx/d3d.h"
#include "platform/gfx/gl_device.h"
#include "platform/gfx/gl_effect.h"
#include "platform/gfx/mesh.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr int kWidth = 640, kHeight = 480;
const char* const kTechniques[] = {"StandardShading", "DuoscopeWithZ", "Duoscope"};

std::string EffectPath() {
#ifdef DUO_SOURCE_DIR
    return DUO_SOURCE_DIR "/data/Duoscope.fx";
#else
    for (const char* p : {"data/Duoscope.fx", "../data/Duoscope.fx", "../../data/Duoscope.fx"})
        if (std::ifstream(p)) return p;
    return "Duoscope.fx";
#endif
}

LRESULT BenchWindowProc(HWND w, UINT m, WPARAM a, LPARAM b) {
    return DefWindowProcA(w, m, a, b);
}

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b) {
    D3DXMATRIX r;
    MultiplyMatrices(&r, a, b);
    return r;
}

// The scene of the benchmark: a sphere of about 20 000 triangles in front of two cameras.
struct Scene {
    HWND window = nullptr;
    std::shared_ptr<IDirect3D9> d3d;
    DevicePtr device;
    EffectPtr effect;
    MeshPtr mesh;
    D3DXMATRIX world, view1, view2, proj;
    bool ok = false;

    Scene() {
        // Off-screen unless the caller picked a video driver.
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        WNDCLASSEXA wc{};
        wc.lpfnWndProc = BenchWindowProc;
        wc.lpszClassName = "DuoscopeBench";
        RegisterClassExA(&wc);
        window = CreateWindowExA(0, "DuoscopeBench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, kWidth,
                                 kHeight, nullptr, nullptr, nullptr, nullptr);
        d3d = window ? Direct3DCreate9(D3D_SDK_VERSION) : nullptr;
        if (!d3d) return;
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kWidth;
        pp.BackBufferHeight = kHeight;
        pp.EnableAutoDepthStencil = true;
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0, &pp, &device);
        if (!device) return;
        D3DXCreateEffectFromFileA(device.get(), EffectPath().c_str(), nullptr, nullptr, 0, nullptr,
                                  &effect, nullptr);
        if (!effect) return;
        mesh = Sphere(100, 100);
        world = IdentityMatrix();
        view1 = view2 = IdentityMatrix();
        view1.m[3][0] = 0.5f;
        view1.m[3][2] = 4;
        view2.m[3][0] = -0.5f;
        view2.m[3][2] = 4;
        float ys = 1.0f / std::tan(0.785398f / 2), xs = ys / (float(kWidth) / kHeight);
        proj = D3DXMATRIX{
            {{xs, 0, 0, 0}, {0, ys, 0, 0}, {0, 0, 1000 / 998.0f, 1}, {0, 0, -2000 / 998.0f, 0}}};
        ok = true;
    }
    ~Scene() {
        mesh.reset();
        effect.reset();
        device.reset();
        ResetWindowSystemForTests();
    }

    MeshPtr Sphere(int rings, int segments) {
        std::vector<MeshVertex> v;
        std::vector<uint32_t> idx;
        for (int r = 0; r <= rings; ++r)
            for (int s = 0; s <= segments; ++s) {
                float a = 3.14159265f * r / rings, b = 6.2831853f * s / segments;
                float n[3] = {std::sin(a) * std::cos(b), std::cos(a), std::sin(a) * std::sin(b)};
                v.push_back({{n[0], n[1], n[2]},
                             {n[0], n[1], n[2]},
                             {float(s) / segments, float(r) / rings},
                             0xFFFFFFFF});
            }
        for (int r = 0; r < rings; ++r)
            for (int s = 0; s < segments; ++s) {
                uint32_t i0 = r * (segments + 1) + s, i1 = i0 + segments + 1;
                idx.insert(idx.end(), {i0, i0 + 1, i1, i1, i0 + 1, i1 + 1});
            }
        std::vector<uint32_t> attr(idx.size() / 3, 0);
        return std::make_shared<ID3DXMesh>(device.get(), MeshDeclaration{true, true, false},
                                           std::move(v), std::move(idx), std::move(attr));
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_DeviceTechnique(benchmark::State& state) {
    Scene& s = TheScene();
    if (!s.ok) {
        state.SkipWithError("no OpenGL device");
        return;
    }
    const char* technique = kTechniques[state.range(0)];
    state.SetLabel(technique);
    D3DMATERIAL9 material{};
    material.Diffuse = {0.8f, 0.7f, 0.6f, 1};
    D3DXMATRIX wv1 = Multiply(s.world, s.view1), wv2 = Multiply(s.world, s.view2);
    D3DXMATRIX wvp1 = Multiply(wv1, s.proj), wvp2 = Multiply(wv2, s.proj);
    for (auto _ : state) {
        s.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        s.effect->SetTechnique(technique);
        unsigned passes = 0;
        s.effect->Begin(&passes, 0);
        for (unsigned p = 0; p < passes; ++p) {
            s.effect->BeginPass(p);
            s.effect->SetMatrix("g_mProjection1", &s.proj);
            s.effect->SetMatrix("g_mWorld", &s.world);
            s.effect->SetMatrix("g_mWorldView1", &wv1);
            s.effect->SetMatrix("g_mWorldViewProjection1", &wvp1);
            s.effect->SetMatrix("g_mWorldView2", &wv2);
            s.effect->SetMatrix("g_mWorldViewProjection2", &wvp2);
            s.device->SetMaterial(&material);
            s.effect->SetInt("g_bHasTexture", 0);
            s.effect->CommitChanges();
            s.mesh->DrawSubset(0);
            s.effect->EndPass();
        }
        s.effect->End();
        glFinish();
    }
}

// The same frame in plain GL: programs from the same effect file, uniforms set directly. The
// second argument is the framebuffer's samples: 4 (as the full-screen build draws) against 1
// gives what multisampling alone costs this driver on the same triangles.
void BM_BareGlTechnique(benchmark::State& state) {
    Scene& s = TheScene();
    if (!s.ok) {
        state.SkipWithError("no OpenGL device");
        return;
    }
    std::ifstream in(EffectPath());
    std::stringstream text;
    text << in.rdbuf();
    FxFile file;
    std::string error;
    if (!ParseEffectFile(text.str(), EffectPath(), &file, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const FxTechnique* technique = nullptr;
    for (const FxTechnique& t : file.techniques)
        if (t.name == kTechniques[state.range(0)]) technique = &t;
    const int samples = int(state.range(1));
    state.SetLabel(std::string(kTechniques[state.range(0)]) + (samples > 1 ? ", 4 samples" : ""));

    // Everything below runs on the device's context, like the device's own drawing.
    auto* gl = static_cast<GlDevice*>(s.device.get());
    gl->MakeCurrent();
    struct Pass {
        GLuint program;
        GLint wv, wvp, world, diffuse, hasTexture;
        const FxPass* states;
    };
    std::vector<Pass> passes;
    for (const FxPass& p : technique->passes) {
        auto source = [&](const FxStage* stage) {
            return GlslPrelude(stage->vertex) + file.shared + stage->code;
        };
        GLuint vs =
            CompileGlShader(GL_VERTEX_SHADER, source(file.FindStage(p.vertex, true)), nullptr);
        GLuint fs =
            CompileGlShader(GL_FRAGMENT_SHADER, source(file.FindStage(p.fragment, false)), nullptr);
        GLuint program = LinkGlProgram(vs, fs, nullptr);
        glDeleteShader(vs);
        glDeleteShader(fs);
        bool second = p.vertex == "Camera2";
        passes.push_back({program,
                          glGetUniformLocation(program, second ? "g_mWorldView2" : "g_mWorldView1"),
                          glGetUniformLocation(program, second ? "g_mWorldViewProjection2"
                                                               : "g_mWorldViewProjection1"),
                          glGetUniformLocation(program, "duo_World"),
                          glGetUniformLocation(program, "duo_MaterialDiffuse"),
                          glGetUniformLocation(program, "g_bHasTexture"), &p});
    }
    GLuint fbo, color, depth, vao, vbo, ibo;
    glGenFramebuffers(1, &fbo);
    glGenRenderbuffers(1, &color);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, color);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples > 1 ? samples : 0, GL_RGBA8, kWidth,
                                     kHeight);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples > 1 ? samples : 0,
                                     GL_DEPTH_COMPONENT16, kWidth, kHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glGenBuffers(1, &ibo);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(s.mesh->Vertices().size_bytes()),
                 s.mesh->Vertices().data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(s.mesh->Indices().size_bytes()),
                 s.mesh->Indices().data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(MeshVertex), nullptr);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(MeshVertex),
                          reinterpret_cast<const void*>(offsetof(MeshVertex, normal)));
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(MeshVertex),
                          reinterpret_cast<const void*>(offsetof(MeshVertex, texcoord)));
    // The same vertex layout as the device's meshes, colour bytes included.
    glVertexAttribPointer(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(MeshVertex),
                          reinterpret_cast<const void*>(offsetof(MeshVertex, color)));
    for (GLuint a = 0; a < 4; ++a) glEnableVertexAttribArray(a);
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);
    glDepthFunc(GL_LEQUAL);

    D3DXMATRIX wv1 = Multiply(s.world, s.view1), wv2 = Multiply(s.world, s.view2);
    D3DXMATRIX wvp1 = Multiply(wv1, s.proj), wvp2 = Multiply(wv2, s.proj);
    GLsizei count = GLsizei(s.mesh->Indices().size());
    for (auto _ : state) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (const Pass& p : passes) {
            const FxPass& st = *p.states;
            if (st.clearDepth) glClear(GL_DEPTH_BUFFER_BIT);
            if (st.depthTest.value_or(true))
                glEnable(GL_DEPTH_TEST);
            else
                glDisable(GL_DEPTH_TEST);
            glDepthMask(st.depthWrite.value_or(true) ? GL_TRUE : GL_FALSE);
            DWORD m = st.colorMask.value_or(0xF);
            glColorMask(m & 1, (m >> 1) & 1, (m >> 2) & 1, (m >> 3) & 1);
            glUseProgram(p.program);
            bool second = p.states->vertex == "Camera2";
            UploadMatrix(p.wv, second ? wv2 : wv1);
            UploadMatrix(p.wvp, second ? wvp2 : wvp1);
            UploadMatrix(p.world, s.world);
            glUniform4f(p.diffuse, 0.8f, 0.7f, 0.6f, 1);
            glUniform1i(p.hasTexture, 0);
            glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, nullptr);
        }
        glFinish();
    }
    for (const Pass& p : passes) glDeleteProgram(p.program);
    glDeleteFramebuffers(1, &fbo);
    GLuint renderbuffers[] = {color, depth};
    glDeleteRenderbuffers(2, renderbuffers);
    glDeleteVertexArrays(1, &vao);
    GLuint buffers[] = {vbo, ibo};
    glDeleteBuffers(2, buffers);
    glBindVertexArray(0);
    gl->BindBackBuffer();
}

BENCHMARK(BM_DeviceTechnique)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareGlTechnique)->ArgsProduct({{0, 1, 2}, {1, 4}})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
