// D3DXCreateTextureFromFileA on stb_image: the pixels stay on the CPU as RGBA8, rows top first;
// a device uploads them when it first draws with the texture.
#include "platform/gfx/device.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#include <stb_image.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// Backslashes become slashes; a name whose directory does not exist falls back to its bare
// file name (models name textures with paths of the machine they were made on).
std::string ResolveTexturePath(const char* fileName) {
    std::string path = fileName;
    for (char& c : path)
        if (c == '\\') c = '/';
    std::filesystem::path p(path);
    std::error_code error;
    if (p.has_parent_path() && !std::filesystem::is_directory(p.parent_path(), error))
        return p.filename().string();
    return path;
}

} // namespace

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9*, const char* fileName, TexturePtr* texture) {
    if (!texture) return E_FAIL;
    texture->reset();
    if (!fileName || !*fileName) return E_FAIL;
    std::string path = ResolveTexturePath(fileName);
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &width, &height, &channels, 4);
    if (!pixels) return E_FAIL;
    std::vector<uint8_t> rgba(pixels, pixels + static_cast<size_t>(width) * height * 4);
    stbi_image_free(pixels);
    *texture = std::make_shared<IDirect3DTexture9>(width, height, std::move(rgba));
    return S_OK;
}
