// Fonts, checked by pixels: text lands inside its rectangle from the top-left, the cell height
// is the requested height, the bold face is heavier, clipping, colour, missing fonts.
#include "test_gl_common.h"

#include <climits>
#include <cstring>

namespace {

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1; // inclusive lit extent
    long ink = 0;                                               // sum of the channel
    bool Empty() const { return right < 0; }
};

class GlFontTest : public GlDeviceTest {
  protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        ASSERT_EQ(MakeDevice(400, 200), S_OK);
        ASSERT_EQ(D3DXCreateFontA(device.get(), 18, 0, 0, 0, false, 0, 0, 0, 0, "Times New Roman",
                                  &regular),
                  S_OK);
        ASSERT_EQ(D3DXCreateFontA(device.get(), 18, 0, 0, 0, false, 0, 0, 0, 0,
                                  "Times New Roman Bold", &bold),
                  S_OK);
        ASSERT_NE(regular, nullptr);
        ASSERT_NE(bold, nullptr);
    }
    void TearDown() override {
        regular.reset();
        bold.reset();
        GlDeviceTest::TearDown();
    }

    // Draws one text on black and returns where channel c lit up (above a faint threshold).
    Box Draw(ID3DXFont* font, const char* text, RECT rect, D3DCOLOR color = 0xFFFFFFFF,
             int channel = 0, int* heightOut = nullptr) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        int h =
            font->DrawTextA(nullptr, text, static_cast<int>(std::strlen(text)), &rect, 0, color);
        if (heightOut) *heightOut = h;
        last = PresentAndRead();
        Box box;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x) {
                int v = last[(static_cast<size_t>(y) * 400 + x) * 4 + channel];
                box.ink += v;
                if (v < 40) continue;
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
        return box;
    }

    FontPtr regular, bold;
    std::vector<uint8_t> last;
};

} // namespace

TEST_F(GlFontTest, TextSitsAtTheTopLeftOfItsRectangle) {
    int height = 0;
    Box box = Draw(regular.get(), "Display: 640x480 (0.0 fps)", {10, 25, 410, 85}, 0xFFFFFFFF, 0,
                   &height);
    EXPECT_EQ(height, 18) << "one line of the cell height";
    ASSERT_FALSE(box.Empty());
    EXPECT_GE(box.left, 10);
    EXPECT_LE(box.left, 13) << "starts at the left edge";
    EXPECT_GE(box.top, 25);
    EXPECT_LE(box.top, 30) << "starts near the top edge";
    EXPECT_LE(box.bottom, 25 + 18) << "stays in its 18-pixel cell";
    EXPECT_GT(box.right, 150) << "a line of that length is wide";
    EXPECT_LT(box.right, 410);

    // A capital's height in a cell of 18: Liberation Serif's cap height is 0.59 of the cell
    // (the cell is 1.107 em), about 10.7 pixels; an em of 18 would give 11.8.
    Box cap = Draw(regular.get(), "H", {0, 0, 400, 200});
    EXPECT_GE(cap.bottom - cap.top + 1, 10);
    EXPECT_LE(cap.bottom - cap.top + 1, 11);

    // Two lines: the second one cell lower, and twice the height returned.
    Box two = Draw(regular.get(), "H\nH", {0, 0, 400, 200}, 0xFFFFFFFF, 0, &height);
    EXPECT_EQ(height, 36);
    EXPECT_EQ(two.bottom - cap.bottom, 18);

    // Colour: red text lights only the red channel.
    Box red = Draw(regular.get(), "Colour", {0, 0, 400, 200}, 0xFFFF0000, 0);
    EXPECT_FALSE(red.Empty());
    Box green = Draw(regular.get(), "Colour", {0, 0, 400, 200}, 0xFFFF0000, 1);
    EXPECT_TRUE(green.Empty());
    // Nothing to draw: height 0.
    RECT rect{0, 0, 100, 100};
    EXPECT_EQ(regular->DrawTextA(nullptr, "", -1, &rect, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(regular->DrawTextA(nullptr, "abc", 0, &rect, 0, 0xFFFFFFFF), 0);
}

TEST_F(GlFontTest, BoldFaceIsHeavier) {
    const char* text = "[Cursor Up] Move forward";
    Box plain = Draw(regular.get(), text, {10, 10, 410, 70});
    Box heavy = Draw(bold.get(), text, {10, 10, 410, 70});
    EXPECT_GT(heavy.ink, plain.ink * 5 / 4) << "at least a quarter more ink";
    EXPECT_GT(heavy.right, plain.right) << "bold glyphs are wider too";
}

TEST_F(GlFontTest, ClipsToTheRectangleAndCountsCharacters) {
    const char* text = "[Cursor Right] Turn right";
    Box full = Draw(regular.get(), text, {10, 10, 410, 70});
    Box narrow = Draw(regular.get(), text, {10, 10, 60, 70});
    EXPECT_FALSE(narrow.Empty());
    EXPECT_LT(narrow.right, 60) << "nothing right of the rectangle";
    EXPECT_GT(full.right, 60);
    Box shallow = Draw(regular.get(), text, {10, 10, 410, 18});
    EXPECT_FALSE(shallow.Empty());
    EXPECT_LT(shallow.bottom, 18) << "nothing below the rectangle";
    // Partly outside the back buffer: what lies inside is still drawn.
    Box edge = Draw(regular.get(), text, {-40, 190, 410, 260});
    EXPECT_FALSE(edge.Empty());

    // count -1 draws up to the terminating zero; a count draws that many characters.
    RECT rect{10, 10, 410, 70};
    Draw(regular.get(), text, rect);
    std::vector<uint8_t> counted = last;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    EXPECT_EQ(regular->DrawTextA(nullptr, text, -1, &rect, 0, 0xFFFFFFFF), 18);
    EXPECT_TRUE(PresentAndRead() == counted) << "-1 draws the whole string";
    Box prefix = Draw(regular.get(), "[Cursor", rect);
    std::vector<uint8_t> prefixPixels = last;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    regular->DrawTextA(nullptr, text, 7, &rect, 0, 0xFFFFFFFF);
    EXPECT_TRUE(PresentAndRead() == prefixPixels) << "7 characters are \"[Cursor\"";
    EXPECT_LT(prefix.right, full.right);
}

TEST_F(GlFontTest, MissingFaceGivesNoFont) {
    FontPtr none;
    EXPECT_EQ(D3DXCreateFontA(device.get(), 18, 0, 0, 0, false, 0, 0, 0, 0, "", &none), E_FAIL);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(device->CreateFontObject(18, nullptr), nullptr);
}
