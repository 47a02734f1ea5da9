// Drawing: mesh and texture upload, render states onto GL, and the built-in fixed-function
// shader (transforms, up to 8 directional lights, material, vertex colour, stage-0 texture
// modulated).
#include "platform/gfx/gl_device.h"
#include "platform/gfx/mesh.h"

#include <cmath>
#include <cstdio>
#include <cstddef>

namespace {

// GL buffers of one mesh, made by the device that first drew it.
struct GlMeshBuffers final : GpuResource {
    std::weak_ptr<GlContext> owner;
    GLuint vao = 0, vbo = 0, ibo = 0;
    ~GlMeshBuffers() override {
        auto context = owner.lock();
        if (!context || !context->MakeCurrent()) return;
        glDeleteVertexArrays(1, &vao);
        glDeleteBuffers(1, &vbo);
        glDeleteBuffers(1, &ibo);
    }
};

struct GlTextureObject final : GpuResource {
    std::weak_ptr<GlContext> owner;
    GLuint name = 0;
    ~GlTextureObject() override {
        auto context = owner.lock();
        if (context && context->MakeCurrent()) glDeleteTextures(1, &name);
    }
};

GLenum BlendFactor(DWORD blend) {
    switch (blend) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_ONE:
        return GL_ONE;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    }
    return GL_ONE;
}

const char* kFixedVertex = R"(
uniform mat3 ff_NormalMatrix;
uniform int ff_Lighting;
uniform int ff_Normalize;
uniform int ff_HasVertexColor;
uniform int ff_UseVertexColor;
uniform int ff_LightCount;
uniform vec3 ff_LightDirection[8];
uniform vec4 ff_LightDiffuse[8];
uniform vec4 ff_LightAmbient[8];
out vec4 v_Color;
out vec2 v_TexCoord;

void main() {
    gl_Position = duo_ToGlClip(vec4(duo_Position, 1.0) * duo_World * duo_View * duo_Projection);
    v_TexCoord = duo_TexCoord;
    if (ff_Lighting == 0) {
        v_Color = ff_HasVertexColor != 0 ? duo_Color : vec4(1.0);
        return;
    }
    vec4 diffuseSource = ff_UseVertexColor != 0 ? duo_Color : duo_MaterialDiffuse;
    vec3 n = duo_Normal * ff_NormalMatrix;
    if (ff_Normalize != 0) n = normalize(n);
    // Directional lights only (the viewer uses no other kind), no global ambient.
    vec3 ambient = vec3(0.0);
    vec3 diffuse = vec3(0.0);
    for (int i = 0; i < ff_LightCount; ++i) {
        ambient += ff_LightAmbient[i].rgb;
        diffuse += ff_LightDiffuse[i].rgb * max(dot(n, -ff_LightDirection[i]), 0.0);
    }
    vec3 color = duo_MaterialEmissive.rgb + duo_MaterialAmbient.rgb * ambient +
                 diffuseSource.rgb * diffuse;
    v_Color = clamp(vec4(color, diffuseSource.a), 0.0, 1.0);
}
)";

const char* kFixedFragment = R"(
in vec4 v_Color;
in vec2 v_TexCoord;
out vec4 fragColor;

// Stage 0 modulates the texture with the diffuse colour, the one operation the viewer sets;
// without a texture the diffuse colour passes through.
void main() {
    fragColor = duo_HasTexture0 != 0 ? texture(duo_Texture0, v_TexCoord) * v_Color : v_Color;
}
)";

// Inverse transpose of the upper 3x3 of m (the cofactors over the determinant): it carries
// normals when positions go through m.
D3DXMATRIX NormalMatrix(const D3DXMATRIX& m) {
    auto a = [&](int r, int c) { return m.m[r][c]; };
    float c[3][3];
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col) {
            int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (col + 1) % 3, c2 = (col + 2) % 3;
            c[r][col] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
        }
    float det = a(0, 0) * c[0][0] + a(0, 1) * c[0][1] + a(0, 2) * c[0][2];
    float inv = std::fabs(det) > 1e-20f ? 1.0f / det : 0.0f;
    D3DXMATRIX out = IdentityMatrix();
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col) out.m[r][col] = c[r][col] * inv;
    return out;
}

} // namespace

bool GlDevice::EnsureFixedFunctionProgram() {
    if (fixedProgram_.id) return true;
    GLuint program = BuildGlProgram(GlslPrelude(true) + kFixedVertex,
                                    GlslPrelude(false) + kFixedFragment, "fixed-function shader");
    if (!program) return false;
    fixedProgram_.id = program;
    LookUpReservedUniforms(fixedProgram_);
    auto at = [&](const char* name) { return glGetUniformLocation(program, name); };
    fixed_ = FixedUniforms{at("ff_NormalMatrix"),   at("ff_Lighting"),       at("ff_Normalize"),
                           at("ff_HasVertexColor"), at("ff_UseVertexColor"), at("ff_LightCount"),
                           at("ff_LightDirection"), at("ff_LightDiffuse"),   at("ff_LightAmbient")};
    return true;
}

GLuint GlDevice::TextureObject(const IDirect3DTexture9* texture) {
    if (!texture) return 0;
    auto* object = dynamic_cast<GlTextureObject*>(texture->gpu.get());
    if (object && object->owner.lock() == context_) return object->name;
    texture->gpu.reset(); // made by another device: its destructor switched contexts
    MakeCurrent();
    auto made = std::make_unique<GlTextureObject>();
    made->owner = context_;
    glGenTextures(1, &made->name);
    glBindTexture(GL_TEXTURE_2D, made->name);
    // Rows top first: texture coordinate (0, 0) is the image's top-left, as in Direct3D. Every
    // level comes from the CPU (no glGenerateMipmap: llvmpipe compiles shaders for it on first
    // use); DXT blocks go up as they are where the driver reads S3TC, decoded otherwise.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const auto& levels = texture->Levels();
    const TextureFormat format = texture->Format();
    const bool s3tc =
        format != TextureFormat::RGBA8 && epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
    const GLenum compressed = format == TextureFormat::DXT1   ? GL_COMPRESSED_RGBA_S3TC_DXT1_EXT
                              : format == TextureFormat::DXT3 ? GL_COMPRESSED_RGBA_S3TC_DXT3_EXT
                                                              : GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
    for (size_t i = 0; i < levels.size(); ++i) {
        const TextureLevel& l = levels[i];
        if (s3tc) {
            glCompressedTexImage2D(GL_TEXTURE_2D, GLint(i), compressed, l.width, l.height, 0,
                                   GLsizei(l.data.size()), l.data.data());
        } else if (format == TextureFormat::RGBA8) {
            glTexImage2D(GL_TEXTURE_2D, GLint(i), GL_RGBA8, l.width, l.height, 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, l.data.data());
        } else {
            const std::vector<uint8_t> rgba = texture->Rgba(i);
            glTexImage2D(GL_TEXTURE_2D, GLint(i), GL_RGBA8, l.width, l.height, 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, rgba.data());
        }
    }
    // A file's mip chain may stop before 1x1.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(levels.size()) - 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    GLuint name = made->name;
    texture->gpu = std::move(made);
    return name;
}

void GlDevice::ApplyRenderStates() {
    BindBackBuffer();
    glDisable(GL_SCISSOR_TEST);
    if (renderStates_[D3DRS_ZENABLE]) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(renderStates_[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    // Our matrices are Direct3D's; only clip z is remapped, so what D3D calls a
    // counter-clockwise face is counter-clockwise for GL too: culling CCW means CW is front.
    switch (renderStates_[D3DRS_CULLMODE]) {
    case D3DCULL_CCW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        glCullFace(GL_BACK);
        break;
    case D3DCULL_CW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(GL_BACK);
        break;
    default:
        glDisable(GL_CULL_FACE);
        break;
    }
    if (renderStates_[D3DRS_ALPHABLENDENABLE]) {
        glEnable(GL_BLEND);
        glBlendFunc(BlendFactor(renderStates_[D3DRS_SRCBLEND]),
                    BlendFactor(renderStates_[D3DRS_DESTBLEND]));
    } else {
        glDisable(GL_BLEND);
    }
    DWORD mask = renderStates_[D3DRS_COLORWRITEENABLE];
    glColorMask(mask & 1 ? GL_TRUE : GL_FALSE, mask & 2 ? GL_TRUE : GL_FALSE,
                mask & 4 ? GL_TRUE : GL_FALSE, mask & 8 ? GL_TRUE : GL_FALSE);
}

void GlDevice::SetReservedUniforms(const GlProgram& program) {
    const GlReservedUniforms& r = program.reserved;
    UploadMatrix(r.world, world_);
    UploadMatrix(r.view, view_);
    UploadMatrix(r.projection, projection_);
    auto color = [](GLint location, const D3DCOLORVALUE& c) {
        if (location >= 0) glUniform4f(location, c.r, c.g, c.b, c.a);
    };
    color(r.materialDiffuse, material_.Diffuse);
    color(r.materialAmbient, material_.Ambient);
    color(r.materialSpecular, material_.Specular);
    color(r.materialEmissive, material_.Emissive);
    if (r.materialPower >= 0) glUniform1f(r.materialPower, material_.Power);
    GLuint texture = TextureObject(texture0_);
    glActiveTexture(GL_TEXTURE0 + kTextureUnitStage0);
    glBindTexture(GL_TEXTURE_2D, texture);
    if (r.texture0 >= 0) glUniform1i(r.texture0, kTextureUnitStage0);
    if (r.hasTexture0 >= 0) glUniform1i(r.hasTexture0, texture ? 1 : 0);
}

void GlDevice::SetFixedFunctionUniforms(bool meshHasColor) {
    const FixedUniforms& u = fixed_;
    D3DXMATRIX worldView;
    MultiplyMatrices(&worldView, world_, view_);
    D3DXMATRIX normal = NormalMatrix(worldView);
    float normal3[9];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) normal3[r * 3 + c] = normal.m[r][c];
    if (u.normalMatrix >= 0) glUniformMatrix3fv(u.normalMatrix, 1, GL_TRUE, normal3);
    glUniform1i(u.lighting, renderStates_[D3DRS_LIGHTING] ? 1 : 0);
    glUniform1i(u.normalize, renderStates_[D3DRS_NORMALIZENORMALS] ? 1 : 0);
    glUniform1i(u.hasVertexColor, meshHasColor ? 1 : 0);
    glUniform1i(u.useVertexColor, meshHasColor && renderStates_[D3DRS_COLORVERTEX] ? 1 : 0);

    // Directional lights go to view space, where the shader lights; SetLight takes no other.
    float direction[kLights * 3], diffuse[kLights * 4], ambient[kLights * 4];
    int count = 0;
    for (int i = 0; i < kLights; ++i) {
        if (!lightEnabled_[i]) continue;
        const D3DLIGHT9& l = lights_[i];
        const D3DXMATRIX& v = view_;
        const D3DXVECTOR3& d = l.Direction;
        float* dir = direction + count * 3;
        for (int c = 0; c < 3; ++c) dir[c] = d.x * v.m[0][c] + d.y * v.m[1][c] + d.z * v.m[2][c];
        float length = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
        if (length > 0) {
            for (int c = 0; c < 3; ++c) dir[c] /= length;
        }
        const D3DCOLORVALUE* colors[] = {&l.Diffuse, &l.Ambient};
        float* targets[] = {diffuse + count * 4, ambient + count * 4};
        for (int k = 0; k < 2; ++k) {
            targets[k][0] = colors[k]->r;
            targets[k][1] = colors[k]->g;
            targets[k][2] = colors[k]->b;
            targets[k][3] = colors[k]->a;
        }
        ++count;
    }
    glUniform1i(u.lightCount, count);
    if (count == 0) return;
    glUniform3fv(u.lightDirection, count, direction);
    glUniform4fv(u.lightDiffuse, count, diffuse);
    glUniform4fv(u.lightAmbient, count, ambient);
}

void GlDevice::DrawMeshSubset(const ID3DXMesh& mesh, DWORD attribId) {
    std::span<const D3DXATTRIBUTERANGE> table = mesh.AttributeTable();
    if (table.empty() || !MakeCurrent()) return;
    bool any = false;
    for (const D3DXATTRIBUTERANGE& range : table) any = any || range.AttribId == attribId;
    if (!any) return;

    auto* buffers = dynamic_cast<GlMeshBuffers*>(mesh.gpu.get());
    if (!buffers || buffers->owner.lock() != context_) {
        mesh.gpu.reset();
        MakeCurrent();
        auto made = std::make_unique<GlMeshBuffers>();
        made->owner = context_;
        glGenVertexArrays(1, &made->vao);
        glGenBuffers(1, &made->vbo);
        glGenBuffers(1, &made->ibo);
        glBindVertexArray(made->vao);
        glBindBuffer(GL_ARRAY_BUFFER, made->vbo);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, made->ibo);
        std::span<const uint32_t> indices = mesh.Indices();
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size_bytes()),
                     indices.data(), GL_STATIC_DRAW);
        constexpr GLsizei stride = sizeof(MeshVertex);
        auto offset = [](size_t bytes) { return reinterpret_cast<const void*>(bytes); };
        glVertexAttribPointer(kAttribPosition, 3, GL_FLOAT, GL_FALSE, stride,
                              offset(offsetof(MeshVertex, position)));
        glVertexAttribPointer(kAttribNormal, 3, GL_FLOAT, GL_FALSE, stride,
                              offset(offsetof(MeshVertex, normal)));
        glVertexAttribPointer(kAttribTexCoord, 2, GL_FLOAT, GL_FALSE, stride,
                              offset(offsetof(MeshVertex, texcoord)));
        // 0xAARRGGBB stored little-endian is B, G, R, A in memory; the shader reorders.
        glVertexAttribPointer(kAttribColor, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                              offset(offsetof(MeshVertex, color)));
        for (GLuint a : {kAttribPosition, kAttribNormal, kAttribTexCoord, kAttribColor})
            glEnableVertexAttribArray(a);
        buffers = made.get();
        mesh.gpu = std::move(made);
        mesh.gpuDirty = true;
    }
    glBindVertexArray(buffers->vao);
    if (mesh.gpuDirty) {
        std::span<const MeshVertex> vertices = mesh.Vertices();
        glBindBuffer(GL_ARRAY_BUFFER, buffers->vbo);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size_bytes()),
                     vertices.data(), GL_DYNAMIC_DRAW);
        mesh.gpuDirty = false;
    }

    const GlProgram* program = passProgram_;
    if (!program) {
        if (!EnsureFixedFunctionProgram()) return;
        program = &fixedProgram_;
    }
    glUseProgram(program->id);
    ApplyRenderStates();
    SetReservedUniforms(*program);
    if (program == &fixedProgram_) SetFixedFunctionUniforms(mesh.GetDeclaration().hasColor);

    for (const D3DXATTRIBUTERANGE& range : table) {
        if (range.AttribId != attribId || range.FaceCount == 0) continue;
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(range.FaceCount * 3), GL_UNSIGNED_INT,
                       reinterpret_cast<const void*>(size_t{range.FaceStart} * 3 * 4));
    }
    glBindVertexArray(0);
}
