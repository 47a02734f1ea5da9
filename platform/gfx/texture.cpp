// D3DXCreateTextureFromFileA: JPEG through libjpeg-turbo, PNG, BMP and TGA through stb_image,
// DDS (DXT1, DXT3, DXT5 with their mipmaps) read here. The levels stay on the CPU; a device
// uploads them when it first draws with the texture. Names are looked up the way models from
// other machines write them.
#include "platform/gfx/texture.h"

#include "platform/file_read.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
// GCC 12 at -O3 sees uninitialised fields in stb's memory reader that it always sets.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb_image.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr uint64_t kMaxTextureFileBytes = uint64_t(256) << 20;
constexpr int kMaxTextureSize = 16384;

uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

size_t BlockBytes(TextureFormat f) {
    return f == TextureFormat::DXT1 ? 8 : 16;
}

size_t LevelBytes(TextureFormat f, int w, int h) {
    return size_t((w + 3) / 4) * size_t((h + 3) / 4) * BlockBytes(f);
}

// The next level down: each pixel the mean of the 2x2 pixels above it, rounded per pair and
// then between the pairs, as Mesa's own mipmap generation rounds (so the picture stays the
// same). Edges of odd sizes repeat their last row or column.
TextureLevel HalfLevel(const TextureLevel& s) {
    TextureLevel d{std::max(1, s.width / 2), std::max(1, s.height / 2), {}};
    d.data.resize(size_t(d.width) * d.height * 4);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const int x0 = std::min(2 * x, s.width - 1), x1 = std::min(2 * x + 1, s.width - 1);
            const int y0 = std::min(2 * y, s.height - 1), y1 = std::min(2 * y + 1, s.height - 1);
            for (int c = 0; c < 4; ++c) {
                auto at = [&](int sx, int sy) {
                    return s.data[(size_t(sy) * s.width + sx) * 4 + c];
                };
                const int top = (at(x0, y0) + at(x1, y0) + 1) >> 1;
                const int bottom = (at(x0, y1) + at(x1, y1) + 1) >> 1;
                d.data[(size_t(y) * d.width + x) * 4 + c] = uint8_t((top + bottom + 1) >> 1);
            }
        }
    return d;
}

// 5:6:5 to 8:8:8, the top bits repeated into the low ones.
void Expand565(uint16_t c, uint8_t out[4]) {
    const uint8_t r = uint8_t(c >> 11), g = uint8_t((c >> 5) & 63), b = uint8_t(c & 31);
    out[0] = uint8_t(r << 3 | r >> 2);
    out[1] = uint8_t(g << 2 | g >> 4);
    out[2] = uint8_t(b << 3 | b >> 2);
    out[3] = 255;
}

// One 4x4 colour block into 16 RGBA pixels. DXT1 blocks with c0 <= c1 have three colours and
// transparent black; DXT3 and DXT5 colour blocks always have four.
void DecodeColorBlock(const uint8_t* b, bool dxt1, uint8_t px[16][4]) {
    const uint16_t c0 = uint16_t(b[0] | b[1] << 8), c1 = uint16_t(b[2] | b[3] << 8);
    uint8_t pal[4][4];
    Expand565(c0, pal[0]);
    Expand565(c1, pal[1]);
    for (int k = 0; k < 3; ++k) {
        if (c0 > c1 || !dxt1) {
            pal[2][k] = uint8_t((2 * pal[0][k] + pal[1][k]) / 3);
            pal[3][k] = uint8_t((pal[0][k] + 2 * pal[1][k]) / 3);
        } else {
            pal[2][k] = uint8_t((pal[0][k] + pal[1][k]) / 2);
            pal[3][k] = 0;
        }
    }
    pal[2][3] = 255;
    pal[3][3] = (c0 > c1 || !dxt1) ? 255 : 0;
    const uint32_t bits = U32(b + 4);
    for (int i = 0; i < 16; ++i) std::memcpy(px[i], pal[(bits >> (2 * i)) & 3], 4);
}

void DecodeAlphaBlock(const uint8_t* b, TextureFormat f, uint8_t px[16][4]) {
    if (f == TextureFormat::DXT3) { // explicit 4-bit alpha
        for (int i = 0; i < 16; ++i) {
            const uint8_t a = uint8_t((b[i / 2] >> (4 * (i & 1))) & 15);
            px[i][3] = uint8_t(a << 4 | a);
        }
        return;
    }
    uint8_t a[8] = {b[0], b[1]}; // DXT5: two ends and six or four steps between
    for (int k = 1; k < 7; ++k)
        a[k + 1] = b[0] > b[1] ? uint8_t(((7 - k) * b[0] + k * b[1]) / 7)
                   : k < 5     ? uint8_t(((5 - k) * b[0] + k * b[1]) / 5)
                               : uint8_t(k == 5 ? 0 : 255);
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= uint64_t(b[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i) px[i][3] = a[(bits >> (3 * i)) & 7];
}

// libjpeg-turbo returns -1 for warnings too ("Corrupt JPEG data: N extraneous bytes before
// marker", "Premature end of JPEG file") after decoding the whole picture; such files are common
// and every image viewer shows them. A warning keeps the picture and is passed back in `warning`;
// only real errors refuse the file. A header cut short also reports a warning, but gives no size.
bool LoadJpeg(const std::vector<uint8_t>& bytes, TexturePtr& out, std::string& reason,
              std::string& warning) {
    tjhandle tj = tjInitDecompress();
    if (!tj) {
        reason = "cannot start the JPEG decoder";
        return false;
    }
    auto passed = [&](int result) {
        if (result == 0) return true;
        if (tjGetErrorCode(tj) != TJERR_WARNING) return false;
        warning = tjGetErrorStr2(tj);
        return true;
    };
    int w = 0, h = 0, sub = 0, space = 0;
    std::vector<uint8_t> rgba;
    bool ok = passed(tjDecompressHeader3(tj, bytes.data(), (unsigned long)bytes.size(), &w, &h,
                                         &sub, &space)) &&
              w > 0 && h > 0 && w <= kMaxTextureSize && h <= kMaxTextureSize;
    if (ok) {
        rgba.resize(size_t(w) * h * 4);
        ok = passed(tjDecompress2(tj, bytes.data(), (unsigned long)bytes.size(), rgba.data(), w, 0,
                                  h, TJPF_RGBA, 0));
    }
    if (!ok) {
        reason = std::string("not a readable JPEG: ") + tjGetErrorStr2(tj);
        warning.clear();
    }
    tjDestroy(tj);
    if (ok) out = std::make_shared<IDirect3DTexture9>(w, h, std::move(rgba));
    return ok;
}

bool LoadDds(const std::vector<uint8_t>& bytes, TexturePtr& out, std::string& reason) {
    if (bytes.size() < 128 || U32(bytes.data() + 4) != 124) {
        reason = "DDS header cut short";
        return false;
    }
    const uint8_t* h = bytes.data() + 4;
    const uint32_t height = U32(h + 8), width = U32(h + 12), mips = U32(h + 24);
    const uint32_t pfFlags = U32(h + 76), fourCC = U32(h + 80);
    TextureFormat format;
    const char code[5] = {char(fourCC), char(fourCC >> 8), char(fourCC >> 16), char(fourCC >> 24)};
    if (!(pfFlags & 4) ||
        (std::strcmp(code, "DXT1") && std::strcmp(code, "DXT3") && std::strcmp(code, "DXT5"))) {
        reason = "DDS format not read (only DXT1, DXT3, DXT5)";
        return false;
    }
    format = code[3] == '1'   ? TextureFormat::DXT1
             : code[3] == '3' ? TextureFormat::DXT3
                              : TextureFormat::DXT5;
    if (width == 0 || height == 0 || width > kMaxTextureSize || height > kMaxTextureSize) {
        reason = "DDS size " + std::to_string(width) + "x" + std::to_string(height) + " refused";
        return false;
    }
    // Mipmap count when the caps say so, never past 1x1.
    const uint32_t flags = U32(h + 4);
    uint32_t levels = (flags & 0x20000) && mips > 1 ? mips : 1;
    uint32_t full = 1;
    for (uint32_t s = std::max(width, height); s > 1; s /= 2) ++full;
    levels = std::min(levels, full);
    std::vector<TextureLevel> chain;
    size_t at = 128;
    int w = int(width), hh = int(height);
    for (uint32_t i = 0; i < levels; ++i) {
        const size_t n = LevelBytes(format, w, hh);
        if (bytes.size() - at < n) {
            reason = "DDS data cut short in mip level " + std::to_string(i);
            return false;
        }
        chain.push_back({w, hh, {bytes.begin() + at, bytes.begin() + at + n}});
        at += n;
        w = std::max(1, w / 2);
        hh = std::max(1, hh / 2);
    }
    out = std::make_shared<IDirect3DTexture9>(format, std::move(chain));
    // A file without mipmaps gets its chain built like any other picture's.
    if (levels == 1 && full > 1)
        out = std::make_shared<IDirect3DTexture9>(out->Width(), out->Height(), out->Rgba(0));
    return true;
}

bool LoadStb(const std::vector<uint8_t>& bytes, TexturePtr& out, std::string& reason) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), int(bytes.size()), &w, &h, &channels, 4);
    if (!pixels) {
        reason = std::string("not a readable PNG, BMP or TGA: ") + stbi_failure_reason();
        return false;
    }
    std::vector<uint8_t> rgba(pixels, pixels + size_t(w) * h * 4);
    stbi_image_free(pixels);
    out = std::make_shared<IDirect3DTexture9>(w, h, std::move(rgba));
    return true;
}

bool IsDirectory(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of dir named like name: the exact name first, else one that differs only in case.
bool FindEntry(const std::string& dir, const std::string& name, std::string& found) {
    auto join = [&](const char* n) {
        std::string p = dir;
        if (!p.empty() && p.back() != '/') p += '/';
        return p += n;
    };
    struct stat st {};
    const std::string exact = join(name.c_str());
    if (lstat(exact.c_str(), &st) == 0) {
        found = exact;
        return true;
    }
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return false;
    bool ok = false;
    while (const dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name.c_str()) == 0) {
            found = join(e->d_name);
            ok = true;
            break;
        }
    }
    closedir(d);
    return ok;
}

} // namespace

IDirect3DTexture9::IDirect3DTexture9(int width, int height, std::vector<uint8_t> rgba)
    : format_(TextureFormat::RGBA8) {
    levels_.push_back({width, height, std::move(rgba)});
    while (levels_.back().width > 1 || levels_.back().height > 1)
        levels_.push_back(HalfLevel(levels_.back()));
}

IDirect3DTexture9::IDirect3DTexture9(TextureFormat format, std::vector<TextureLevel> levels)
    : format_(format), levels_(std::move(levels)) {}

std::vector<uint8_t> IDirect3DTexture9::Rgba(size_t level) const {
    const TextureLevel& l = levels_.at(level);
    if (format_ == TextureFormat::RGBA8) return l.data;
    std::vector<uint8_t> out(size_t(l.width) * l.height * 4);
    const uint8_t* block = l.data.data();
    const bool alpha = format_ != TextureFormat::DXT1;
    for (int by = 0; by < l.height; by += 4)
        for (int bx = 0; bx < l.width; bx += 4, block += BlockBytes(format_)) {
            uint8_t px[16][4];
            DecodeColorBlock(block + (alpha ? 8 : 0), !alpha, px);
            if (alpha) DecodeAlphaBlock(block, format_, px);
            for (int i = 0; i < 16; ++i) {
                const int x = bx + i % 4, y = by + i / 4;
                if (x < l.width && y < l.height)
                    std::memcpy(&out[(size_t(y) * l.width + x) * 4], px[i], 4);
            }
        }
    return out;
}

bool ResolveTextureName(const char* name, std::string& path) {
    // Split on both separators; a drive ("C:") and empty parts are dropped.
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = name;; ++c) {
        if (*c == '/' || *c == '\\' || *c == 0) {
            if (!part.empty() && !(parts.empty() && part.size() == 2 && part[1] == ':'))
                parts.push_back(part);
            part.clear();
            if (!*c) break;
        } else {
            part += *c;
        }
    }
    if (parts.empty()) return false;
    const bool absolute = name[0] == '/';
    // The whole path first, then ever shorter tails of it relative to the working directory
    // (a model made elsewhere names the folders of the machine it was made on).
    for (size_t first = 0; first < parts.size(); ++first) {
        std::string at = absolute && first == 0 ? "/" : "";
        bool ok = true;
        for (size_t i = first; i < parts.size() && ok; ++i) {
            std::string found;
            ok = FindEntry(at, parts[i], found) && (i + 1 == parts.size() || IsDirectory(found));
            at = found;
        }
        if (ok) {
            path = at;
            return true;
        }
    }
    return false;
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9*, const char* fileName, TexturePtr* texture) {
    if (!texture) return E_FAIL;
    texture->reset();
    const std::string name = fileName ? fileName : "";
    std::string path, reason, warning;
    std::vector<uint8_t> bytes;
    TexturePtr made;
    if (name.empty()) {
        reason = "no file name";
    } else if (!ResolveTextureName(name.c_str(), path)) {
        reason = "no such file";
    } else if (ReadRegularFile(path.c_str(), kMaxTextureFileBytes, bytes, reason)) {
        if (bytes.size() >= 4 && std::memcmp(bytes.data(), "DDS ", 4) == 0)
            LoadDds(bytes, made, reason);
        else if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
            LoadJpeg(bytes, made, reason, warning);
        else
            LoadStb(bytes, made, reason);
    }
    const std::string where = path.empty() || path == name ? "" : path + ": ";
    if (!made) {
        std::fprintf(stderr, "texture '%s': %s%s\n", name.c_str(), where.c_str(), reason.c_str());
        return E_FAIL;
    }
    if (!warning.empty())
        std::fprintf(stderr, "texture '%s': %sdecoded with a warning: %s\n", name.c_str(),
                     where.c_str(), warning.c_str());
    *texture = std::move(made);
    return S_OK;
}
