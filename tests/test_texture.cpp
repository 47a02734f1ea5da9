// Texture files: every format read top row first, the mip chain, names found across case and
// folder separators, one stderr line per unreadable texture; a DDS file's mipmaps on screen.
#include "test_gl_common.h"

#include "platform/gfx/png_writer.h"
#include "platform/gfx/texture.h"

#include <stb_image_write.h>
#include <turbojpeg.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A DDS file of DXT blocks: `levels` mip levels, level l filled with blocks[l] (the last one for
// the levels after it) repeated.
std::string Dds(const char* fourCC, int w, int h, int levels, std::vector<std::string> blocks) {
    uint32_t head[32] = {0x20534444,  124, 0x000A1007, uint32_t(h),
                         uint32_t(w), 0,   0,          uint32_t(levels)};
    head[19] = 32, head[20] = 4; // pixel format: size, FOURCC flag, the code
    std::memcpy(&head[21], fourCC, 4);
    head[27] = 0x401008; // a complex texture with mipmaps
    std::string out(reinterpret_cast<const char*>(head), sizeof head);
    const size_t blockBytes = fourCC[3] == '1' ? 8 : 16;
    for (int l = 0; l < levels; ++l, w = std::max(1, w / 2), h = std::max(1, h / 2)) {
        const std::string& b = blocks[std::min<size_t>(l, blocks.size() - 1)];
        for (size_t n = 0; !b.empty() && n < blockBytes * ((w + 3) / 4) * ((h + 3) / 4);
             n += b.size())
            out += b;
    }
    return out;
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TexturePtr Load(const std::string& name) {
    TexturePtr t;
    EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, name.c_str(), &t), S_OK) << name;
    return t;
}

// Pixels (x, y) of level l as 0xRRGGBBAA.
std::vector<uint32_t> At(const TexturePtr& t, size_t l, std::vector<std::pair<int, int>> xy) {
    const std::vector<uint8_t> px = t->Rgba(l);
    std::vector<uint32_t> out;
    for (auto [x, y] : xy) {
        const uint8_t* p = &px[(size_t(y) * t->Levels()[l].width + x) * 4];
        out.push_back(uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
    }
    return out;
}
using Rgba = std::vector<uint32_t>;

// Each test works in a folder of its own, which it makes the working directory.
class TextureFile : public testing::Test {
  protected:
    void SetUp() override { fs::create_directories(dir), fs::current_path(dir); }
    void TearDown() override { fs::current_path(home), fs::remove_all(dir); }
    const fs::path home = fs::current_path(), dir = fs::path(testing::TempDir()) / "duo_textures";
};

} // namespace

TEST_F(TextureFile, EveryPictureFormatReadsTopRowFirst) {
    // 16x8: left half red, right half blue, top row green marks.
    auto pixels = Image(
        16, 8, [](int x, int y) { return (x < 8 ? 0xFF0000u : 0x0000FFu) | (y ? 0 : 0xFF00); });
    ASSERT_TRUE(WritePngFile("a.png", 16, 8, pixels));
    ASSERT_NE(stbi_write_bmp("a.bmp", 16, 8, 4, pixels.data()), 0);
    ASSERT_NE(stbi_write_tga("a.tga", 16, 8, 4, pixels.data()), 0);
    // A progressive JPEG, which the stb decoder refuses ("unknown marker").
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, pixels.data(), 16, 0, 8, TJPF_RGBA, &jpeg, &size, TJSAMP_444, 95,
                TJFLAG_PROGRESSIVE);
    Write("a.jpg", std::string(reinterpret_cast<char*>(jpeg), size)), tjFree(jpeg), tjDestroy(tj);
    for (const char* name : {"a.png", "a.bmp", "a.tga", "a.jpg"}) {
        SCOPED_TRACE(name);
        const TexturePtr t = Load(name);
        ASSERT_TRUE(t && t->Width() == 16 && t->Height() == 8);
        ASSERT_EQ(t->Levels().size(), 5u); // 16x8 down to 1x1, built on load
        // Pixels (2, 0), (13, 0), (2, 5), (13, 5): away from the colour edges JPEG blurs.
        const int tolerance = std::strstr(name, ".jpg") ? 24 : 0;
        for (int i : {2, 13, 5 * 16 + 2, 5 * 16 + 13})
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(t->Pixels()[i * 4 + k], pixels[i * 4 + k], tolerance) << i << "." << k;
    }
    // Each smaller level rounds per pair of pixels, then between the pairs: (0 1 / 0 0) gives 1.
    IDirect3DTexture9 small(2, 2, {0, 0, 0, 255, 1, 1, 1, 255, 0, 0, 0, 255, 0, 0, 0, 255});
    EXPECT_EQ(small.Levels().at(1).data, (std::vector<uint8_t>{1, 1, 1, 255}));
}

TEST_F(TextureFile, DdsBlocksAndTheirMipmapsDecode) {
    // Colour blocks: red (0xF800) and blue (0x001F) as ends, pixels 0..3 take indices 0..3.
    const std::string redBlue = "\x00\xF8\x1F\x00\xE4\0\0\0"s;
    const std::string blueRed = "\x1F\x00\x00\xF8\xE4\0\0\0"s; // c0 < c1
    // DXT1: four colours, and three plus transparent black when c0 <= c1; three levels each.
    Write("one.dds", Dds("DXT1", 8, 4, 3, {redBlue + blueRed, redBlue}));
    const TexturePtr one = Load("one.dds");
    ASSERT_TRUE(one && one->Format() == TextureFormat::DXT1 && one->Levels().size() == 3u);
    EXPECT_EQ(At(one, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {6, 0}, {7, 0}, {3, 3}}),
              (Rgba{0xFF0000FF, 0x0000FFFF, 0xAA0055FF, 0x5500AAFF, 0x7F007FFF, 0, 0xFF0000FF}));
    EXPECT_EQ(At(one, 2, {{0, 0}}), Rgba{0xFF0000FF});
    // DXT3: explicit 4-bit alpha (F, 8, 0, ...); DXT5: ends 255 and 0 with six steps between,
    // pixels taking indices 0, 1, 2, 7.
    Write("three.dds", Dds("DXT3", 4, 4, 1, {"\x8F\0\0\0\0\0\0\0"s + redBlue}));
    Write("five.dds", Dds("DXT5", 4, 4, 1, {"\xFF\x00\x88\x0E\0\0\0\0"s + redBlue}));
    const TexturePtr three = Load("three.dds"), five = Load("five.dds");
    ASSERT_TRUE(three && five);
    // Without mipmaps of its own a DDS gets the chain built like any picture (as RGBA).
    EXPECT_EQ(three->Levels().size(), 3u);
    EXPECT_EQ(At(three, 0, {{0, 0}, {1, 0}, {2, 0}}), (Rgba{0xFF0000FF, 0x0000FF88, 0xAA005500}));
    EXPECT_EQ(At(five, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}}),
              (Rgba{0xFF0000FF, 0x0000FF00, 0xAA0055DA, 0x5500AA24}));
}

TEST_F(TextureFile, NamesDifferingInCaseOrFoldersAreFoundEachUnreadableIsOneLine) {
    fs::create_directories("Art/Maps");
    Write("Art/Maps/Wood.DDS", Dds("DXT1", 4, 4, 1, {std::string(8, '\0')}));
    Write("Stone.png", "");
    std::string path;
    for (const char* name : {"Art/Maps/Wood.DDS", "art\\maps\\wood.dds", "ART//MAPS//WOOD.dds",
                             "C:\\\\work\\\\Art\\\\Maps\\\\Wood.dds", "D:/x/art/maps/wood.dds"})
        EXPECT_TRUE(ResolveTextureName(name, path) && path == "Art/Maps/Wood.DDS") << name;
    // A tail of the name: the bare file name in the working directory.
    EXPECT_TRUE(ResolveTextureName("C:\\textures\\STONE.PNG", path) && path == "Stone.png");
    EXPECT_FALSE(ResolveTextureName("Art\\Maps\\Oak.dds", path));
    EXPECT_FALSE(ResolveTextureName("\\\\", path));
    EXPECT_TRUE(Load("art\\MAPS\\wood.dds"));

    Write("Note.png", "not a picture");
    Write("cut.dds", Dds("DXT5", 8, 8, 2, {std::string(16, '\0')}).substr(0, 128 + 64 + 8));
    Write("rgb.dds", Dds("ARGB", 4, 4, 1, {""}));
    Write("bad.jpg", "\xFF\xD8\xFF\xE0 broken");
    fs::create_directory("folder.png");
    testing::internal::CaptureStderr();
    for (const char* name :
         {"", "missing.png", "note.PNG", "cut.dds", "rgb.dds", "bad.jpg", "folder.png"}) {
        TexturePtr none;
        EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, name, &none), E_FAIL) << name;
        EXPECT_EQ(none, nullptr) << name;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "texture '': no file name\n"
              "texture 'missing.png': no such file\n"
              "texture 'note.PNG': Note.png: not a readable PNG, BMP or TGA: unknown image type\n"
              "texture 'cut.dds': DDS data cut short in mip level 1\n"
              "texture 'rgb.dds': DDS format not read (only DXT1, DXT3, DXT5)\n"
              "texture 'bad.jpg': not a readable JPEG: Premature end of JPEG file\n"
              "texture 'folder.png': not a regular file\n");
}

TEST_F(TextureFile, JpegsThatWarnKeepTheirPictureWithOneLineEach) {
    // Committed 16x16 JPEGs, top half red and bottom half blue: three stray bytes before the
    // scan marker, the scan cut at 80 %, and the file cut inside its Huffman tables.
    for (const char* name : {"warn_stray.jpg", "warn_cut_scan.jpg", "cut_header.jpg"})
        fs::copy_file(fs::path(DUO_SOURCE_DIR) / "tests/data" / name, name);
    testing::internal::CaptureStderr();
    const TexturePtr stray = Load("warn_stray.jpg"), cut = Load("warn_cut_scan.jpg");
    TexturePtr none;
    EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, "cut_header.jpg", &none), E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "texture 'warn_stray.jpg': decoded with a warning: Corrupt JPEG data: 3 extraneous "
              "bytes before marker 0xda\n"
              "texture 'warn_cut_scan.jpg': decoded with a warning: Premature end of JPEG file\n"
              "texture 'cut_header.jpg': not a readable JPEG: Invalid JPEG file structure: "
              "missing SOS marker\n");
    ASSERT_TRUE(stray && cut);
    EXPECT_EQ(At(stray, 0, {{0, 0}, {15, 15}}), (Rgba{0xFE0000FF, 0x0000FEFF}));
    EXPECT_EQ(At(cut, 0, {{0, 0}}), Rgba{0xFE0000FF}); // the part before the cut
}

using TextureDraw = GlDeviceTest;

TEST_F(TextureDraw, DdsMipmapsReachThePixels) {
    // 64x64 DXT1: levels 0 and 1 red, levels 2 to 6 green. Magnified the square shows red;
    // shrunk to 8 pixels (level 3) it shows the file's own green level.
    ASSERT_EQ(MakeDevice(200, 200), S_OK);
    const D3DXMATRIX proj = Projection90();
    device->SetTransform(D3DTS_PROJECTION, &proj);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    const std::string red = "\x00\xF8\0\0\0\0\0\0"s, green = "\xE0\x07\0\0\0\0\0\0"s;
    const std::string file = testing::TempDir() + "duo_mips.dds";
    Write(file, Dds("DXT1", 64, 64, 7, {red, red, green}));
    const TexturePtr t = Load(file);
    ASSERT_TRUE(t && t->Levels().size() == 7u);
    device->SetTexture(0, t.get());
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    EXPECT_TRUE(Shows(Frame({Square(-8, -8, 8, 8, 10)}), {{100, 100, 0xFF0000}}, 2));
    EXPECT_TRUE(Shows(Frame({Square(-0.4f, -0.4f, 0.4f, 0.4f, 10)}), {{100, 100, 0x00FF00}}, 2));
    std::remove(file.c_str());
}
