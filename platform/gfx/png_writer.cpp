#include "platform/gfx/png_writer.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

bool WritePngFile(const char* fileName, int width, int height, std::span<const uint8_t> rgba) {
    if (!fileName || width <= 0 || height <= 0 || rgba.size() < size_t(width) * height * 4)
        return false;
    return stbi_write_png(fileName, width, height, 4, rgba.data(), width * 4) != 0;
}
