// Procedural textures: floor tiles, bricks, a crate, skin and the characters' clothes. Noise
// comes from an integer hash of the pixel position, so every run gives the same pixels, and
// stb_image_write's own deflate gives the same PNG bytes.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "modelgen.h"

#include <algorithm>

namespace modelgen {

namespace {

struct Rgb {
    int r, g, b;
};

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

// Signed noise in [-amount, amount].
int Noise(uint32_t x, uint32_t y, uint32_t seed, int amount) {
    return int(Hash(x, y, seed) % uint32_t(2 * amount + 1)) - amount;
}

Rgb Shade(Rgb c, int d) {
    return {c.r + d, c.g + d, c.b + d};
}

template <typename PixelFn> Image Paint(const char* name, int size, PixelFn pixel) {
    Image img{name, size, size, {}};
    img.rgb.reserve(size_t(size) * size * 3);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            Rgb c = pixel(x, y);
            for (int v : {c.r, c.g, c.b}) img.rgb.push_back(uint8_t(std::clamp(v, 0, 255)));
        }
    return img;
}

// 2 x 2 checker of large tiles with dark grout, so distance and motion are easy to read.
Image Floor() {
    return Paint("floor.png", 128, [](int x, int y) {
        if (x % 64 < 2 || y % 64 < 2) return Rgb{70, 62, 52};
        bool dark = ((x / 64) + (y / 64)) % 2 == 1;
        Rgb base = dark ? Rgb{150, 82, 56} : Rgb{205, 185, 145};
        return Shade(base, Noise(uint32_t(x), uint32_t(y), 1, 7));
    });
}

// Running bond bricks, 32 x 16 pixels, each a slightly different red.
Image Bricks() {
    return Paint("wall.png", 128, [](int x, int y) {
        int row = y / 16, shifted = x + (row % 2) * 16;
        if (y % 16 < 2 || shifted % 32 < 2) return Rgb{180, 174, 162};
        int brick = (shifted / 32) % 4;
        Rgb base{150 + Noise(uint32_t(brick), uint32_t(row), 2, 18), 62, 46};
        return Shade(base, Noise(uint32_t(x), uint32_t(y), 3, 6));
    });
}

// Planks inside a dark frame, with a diagonal brace.
Image Crate() {
    return Paint("crate.png", 64, [](int x, int y) {
        Rgb wood{172, 122, 66};
        int grain = Noise(uint32_t(y), 0, 4, 10) + Noise(uint32_t(x / 4), uint32_t(y), 5, 4);
        if (x < 6 || y < 6 || x >= 58 || y >= 58) return Shade(Rgb{118, 80, 40}, grain / 2);
        if (std::abs(x - y) < 4) return Shade(Rgb{140, 96, 50}, grain / 2);
        if (y % 13 == 0) return Rgb{90, 60, 30};
        return Shade(wood, grain);
    });
}

Image Skin() {
    return Paint("skin.png", 64, [](int x, int y) {
        return Shade(Rgb{236, 190, 160}, Noise(uint32_t(x), uint32_t(y), 6, 4));
    });
}

// Breton shirt: navy and white bands, 8 pixels each.
Image SeamanShirt() {
    return Paint("seaman_shirt.png", 64, [](int x, int y) {
        Rgb c = (y / 8) % 2 == 0 ? Rgb{28, 38, 100} : Rgb{240, 240, 245};
        return Shade(c, Noise(uint32_t(x), uint32_t(y), 7, 3));
    });
}

// Navy twill.
Image SeamanTrousers() {
    return Paint("seaman_trousers.png", 64, [](int x, int y) {
        Rgb c{32, 44, 108};
        return Shade(c, (x + y) % 4 == 0 ? -14 : Noise(uint32_t(x), uint32_t(y), 8, 4));
    });
}

// Brown tweed with light pinstripes.
Image FatmanSuit() {
    return Paint("fatman_suit.png", 64, [](int x, int y) {
        if (x % 16 == 0) return Rgb{150, 112, 76};
        return Shade(Rgb{104, 66, 38}, Noise(uint32_t(x), uint32_t(y), 9, 10));
    });
}

// Red tie with darker diagonal stripes.
Image FatmanTie() {
    return Paint("fatman_tie.png", 64, [](int x, int y) {
        bool stripe = ((x + y) / 8) % 2 == 1;
        Rgb c = stripe ? Rgb{128, 16, 22} : Rgb{196, 28, 34};
        return Shade(c, Noise(uint32_t(x), uint32_t(y), 10, 3));
    });
}

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

std::vector<Image> BuildTextures() {
    return {Floor(),       Bricks(),         Crate(),      Skin(),
            SeamanShirt(), SeamanTrousers(), FatmanSuit(), FatmanTie()};
}

std::vector<uint8_t> EncodePng(const Image& image) {
    std::vector<uint8_t> out;
    if (!stbi_write_png_to_func(AppendBytes, &out, image.width, image.height, 3, image.rgb.data(),
                                image.width * 3))
        out.clear();
    return out;
}

} // namespace modelgen
