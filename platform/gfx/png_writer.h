#pragma once

#include <cstdint>
#include <span>

// Writes RGBA8 pixels, top row first, as a PNG file. False when the file cannot be written.
bool WritePngFile(const char* fileName, int width, int height, std::span<const uint8_t> rgba);
