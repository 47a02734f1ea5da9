// Fonts: fontconfig picks the file, FreeType renders ASCII into a glyph atlas once, DrawTextA
// draws alpha-blended quads in top-left pixel coordinates, clipped to the rectangle.
#include "platform/gfx/gl_device.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kFirstChar = 32, kLastChar = 126;
constexpr int kAtlasWidth = 512;

const char* kTextVertex = R"(#version 330 core
layout(location = 0) in vec2 a_Pixel;
layout(location = 1) in vec2 a_TexCoord;
uniform vec2 u_Screen;
out vec2 v_TexCoord;
void main() {
    // Top-left pixel coordinates to GL's bottom-up clip space.
    gl_Position = vec4(a_Pixel.x / u_Screen.x * 2.0 - 1.0, 1.0 - a_Pixel.y / u_Screen.y * 2.0,
                       0.0, 1.0);
    v_TexCoord = a_TexCoord;
}
)";

const char* kTextFragment = R"(#version 330 core
uniform sampler2D u_Atlas;
uniform vec4 u_Color;
in vec2 v_TexCoord;
out vec4 fragColor;
void main() {
    fragColor = vec4(u_Color.rgb, u_Color.a * texture(u_Atlas, v_TexCoord).r);
}
)";

struct Glyph {
    int x = 0, y = 0, width = 0, height = 0; // place in the atlas
    int left = 0, top = 0;                   // bitmap offset from the pen on the baseline
    int advance = 0;
};

// The file fontconfig offers for a Windows face name. A name ending in " Bold" asks for the
// bold weight of the family before it.
bool FindFontFile(const char* faceName, std::string* file, int* index) {
    std::string family = faceName;
    bool bold = false;
    const std::string suffix = " Bold";
    if (family.size() > suffix.size() && family.ends_with(suffix)) {
        family.resize(family.size() - suffix.size());
        bold = true;
    }
    if (!FcInit()) return false;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    bool found = false;
    FcChar8* path = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
        *file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
        found = true;
    }
    if (match) FcPatternDestroy(match);
    return found;
}

class GlFont final : public ID3DXFont {
  public:
    explicit GlFont(GlDevice* device) : device_(device), context_(device->Context()) {}
    ~GlFont() override {
        auto context = context_.lock();
        if (!context || !context->MakeCurrent()) return;
        glDeleteVertexArrays(1, &vao_);
        glDeleteBuffers(1, &vbo_);
        glDeleteTextures(1, &atlas_);
    }

    bool Create(int height, const char* faceName);
    int DrawTextA(void* sprite, const char* text, int count, RECT* rect, DWORD format,
                  D3DCOLOR color) override;

  private:
    bool RenderAtlas(FT_Face face);
    bool MakeBuffers();

    GlDevice* device_;
    std::weak_ptr<GlContext> context_;
    const GlDevice::TextProgram* program_ = nullptr; // the device's, shared by its fonts
    GLuint vao_ = 0, vbo_ = 0, atlas_ = 0;
    int atlasHeight_ = 0;
    int cellHeight_ = 0, ascent_ = 0;
    Glyph glyphs_[kLastChar - kFirstChar + 1];
    std::vector<float> vertices_; // reused: no allocation once it has grown
    size_t bufferBytes_ = 0;
};

bool GlFont::Create(int height, const char* faceName) {
    std::string file;
    int index = 0;
    if (!faceName || !*faceName || height == 0 || !FindFontFile(faceName, &file, &index)) {
        std::fprintf(stderr, "font '%s': no such font\n", faceName ? faceName : "");
        return false;
    }
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return false;
    FT_Face face = nullptr;
    bool ok = FT_New_Face(library, file.c_str(), index, &face) == 0 && FT_IS_SCALABLE(face);
    if (ok) {
        // A positive height is the cell height (ascent + descent), a negative one the em size,
        // as the Windows font system reads them. The cell comes from the OS/2 Windows metrics.
        auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        double ascentUnits = os2 && os2->usWinAscent ? os2->usWinAscent : face->ascender;
        double descentUnits = os2 && os2->usWinAscent ? os2->usWinDescent : -face->descender;
        double cellUnits = std::max(1.0, ascentUnits + descentUnits);
        double emPixels = height > 0 ? height * face->units_per_EM / cellUnits : -height;
        double scale = emPixels / face->units_per_EM;
        cellHeight_ = static_cast<int>(std::lround(cellUnits * scale));
        ascent_ = static_cast<int>(std::lround(ascentUnits * scale));
        ok = FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(emPixels * 64)), 72,
                              72) == 0 &&
             RenderAtlas(face) && MakeBuffers();
    }
    if (!ok) std::fprintf(stderr, "font '%s': cannot load %s\n", faceName, file.c_str());
    if (face) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return ok;
}

bool GlFont::RenderAtlas(FT_Face face) {
    // First pass: render each glyph and lay it out in rows; second: copy into the atlas.
    std::vector<std::vector<uint8_t>> bitmaps;
    int x = 1, y = 1, rowHeight = 0;
    for (int c = kFirstChar; c <= kLastChar; ++c) {
        Glyph& g = glyphs_[c - kFirstChar];
        bitmaps.emplace_back();
        if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_RENDER) != 0) continue;
        FT_GlyphSlot slot = face->glyph;
        g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = static_cast<int>(slot->bitmap.width);
        g.height = static_cast<int>(slot->bitmap.rows);
        if (x + g.width + 1 > kAtlasWidth) {
            x = 1;
            y += rowHeight + 1;
            rowHeight = 0;
        }
        g.x = x;
        g.y = y;
        x += g.width + 1;
        rowHeight = std::max(rowHeight, g.height);
        std::vector<uint8_t>& pixels = bitmaps.back();
        pixels.resize(static_cast<size_t>(g.width) * g.height);
        for (int row = 0; row < g.height; ++row)
            std::memcpy(&pixels[static_cast<size_t>(row) * g.width],
                        slot->bitmap.buffer + row * slot->bitmap.pitch,
                        static_cast<size_t>(g.width));
    }
    // A power of two, as the scene's textures are: llvmpipe builds one text shader variant for
    // all fonts instead of one per kind of atlas size, which matters on the first frame.
    atlasHeight_ = 1;
    while (atlasHeight_ < y + rowHeight + 1) atlasHeight_ *= 2;
    std::vector<uint8_t> atlas(static_cast<size_t>(kAtlasWidth) * atlasHeight_, 0);
    for (int c = kFirstChar; c <= kLastChar; ++c) {
        const Glyph& g = glyphs_[c - kFirstChar];
        const std::vector<uint8_t>& pixels = bitmaps[c - kFirstChar];
        for (int row = 0; row < g.height; ++row)
            std::memcpy(&atlas[static_cast<size_t>(g.y + row) * kAtlasWidth + g.x],
                        &pixels[static_cast<size_t>(row) * g.width], static_cast<size_t>(g.width));
    }
    device_->MakeCurrent();
    glGenTextures(1, &atlas_);
    glBindTexture(GL_TEXTURE_2D, atlas_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, kAtlasWidth, atlasHeight_, 0, GL_RED, GL_UNSIGNED_BYTE,
                 atlas.data());
    // Glyphs land on whole pixels at their own size: no filtering needed.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return true;
}

bool GlFont::MakeBuffers() {
    program_ = device_->EnsureTextProgram();
    if (!program_) return false;
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &vbo_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float),
                          reinterpret_cast<const void*>(2 * sizeof(float)));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glBindVertexArray(0);
    return true;
}

int GlFont::DrawTextA(void*, const char* text, int count, RECT* rect, DWORD, D3DCOLOR color) {
    if (!text || !rect || context_.expired() || !device_->MakeCurrent()) return 0;
    size_t length = count < 0 ? std::strlen(text) : strnlen(text, static_cast<size_t>(count));
    if (length == 0) return 0;

    // Quads for every glyph, pen starting on the first baseline below the rectangle's top.
    vertices_.clear();
    int lines = 1;
    int penX = rect->left, baseline = rect->top + ascent_;
    const float aw = kAtlasWidth, ah = static_cast<float>(atlasHeight_);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++lines;
            penX = rect->left;
            baseline += cellHeight_;
            continue;
        }
        if (c < kFirstChar) continue;
        if (c > kLastChar) c = '?'; // outside the atlas
        const Glyph& g = glyphs_[c - kFirstChar];
        if (g.width > 0 && g.height > 0) {
            float x0 = static_cast<float>(penX + g.left), y0 = static_cast<float>(baseline - g.top);
            float x1 = x0 + g.width, y1 = y0 + g.height;
            float u0 = g.x / aw, v0 = g.y / ah, u1 = (g.x + g.width) / aw,
                  v1 = (g.y + g.height) / ah;
            float quad[] = {x0, y0, u0, v0, x1, y0, u1, v0, x1, y1, u1, v1,
                            x0, y0, u0, v0, x1, y1, u1, v1, x0, y1, u0, v1};
            vertices_.insert(vertices_.end(), std::begin(quad), std::end(quad));
        }
        penX += g.advance;
    }
    int drawnHeight = lines * cellHeight_;

    int width = device_->BackBufferWidth(), height = device_->BackBufferHeight();
    int left = std::clamp(rect->left, 0, width), right = std::clamp(rect->right, 0, width);
    int top = std::clamp(rect->top, 0, height), bottom = std::clamp(rect->bottom, 0, height);
    if (vertices_.empty() || right <= left || bottom <= top) return drawnHeight;

    device_->BindBackBuffer();
    glEnable(GL_SCISSOR_TEST);
    glScissor(left, height - bottom, right - left, bottom - top);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    DWORD mask = device_->GetRenderState(D3DRS_COLORWRITEENABLE);
    glColorMask(mask & 1 ? GL_TRUE : GL_FALSE, mask & 2 ? GL_TRUE : GL_FALSE,
                mask & 4 ? GL_TRUE : GL_FALSE, mask & 8 ? GL_TRUE : GL_FALSE);

    glUseProgram(program_->id);
    glUniform2f(program_->screenAt, static_cast<float>(width), static_cast<float>(height));
    float rgba[4];
    ColorToFloats(color, rgba);
    glUniform4fv(program_->colorAt, 1, rgba);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, atlas_);
    glUniform1i(program_->atlasAt, 0);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    size_t bytes = vertices_.size() * sizeof(float);
    if (bytes > bufferBytes_) {
        bufferBytes_ = std::max(bytes, size_t{4096});
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bufferBytes_), nullptr,
                     GL_STREAM_DRAW);
    }
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), vertices_.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices_.size() / 4));
    glBindVertexArray(0);
    glDisable(GL_SCISSOR_TEST);
    return drawnHeight;
}

} // namespace

// Built at the first font; a failure is said once per try and the font is refused.
const GlDevice::TextProgram* GlDevice::EnsureTextProgram() {
    if (textProgram_.id) return &textProgram_;
    GLuint program = BuildGlProgram(kTextVertex, kTextFragment, "text shader");
    if (!program) return nullptr;
    textProgram_ = {program, glGetUniformLocation(program, "u_Screen"),
                    glGetUniformLocation(program, "u_Color"),
                    glGetUniformLocation(program, "u_Atlas")};
    return &textProgram_;
}

std::shared_ptr<ID3DXFont> GlDevice::CreateFontObject(int height, const char* faceName) {
    if (!MakeCurrent()) return nullptr;
    auto font = std::make_shared<GlFont>(this);
    if (!font->Create(height, faceName)) return nullptr;
    return font;
}
