// Fonts by pixels: placement, cell height, bold, clipping, colour, counts, missing fonts.
#include "test_gl_common.h"

#include <climits>

namespace {

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1; // inclusive lit extent
    long ink = 0;                                               // sum of the channel
    int height = 0;                                             // what DrawTextA returned
    bool Empty() const { return right < 0; }
};

class GlFontTest : public GlDeviceTest {
  protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        ASSERT_EQ(MakeDevice(400, 200), S_OK);
        for (auto [face, font] :
             {std::pair{"Times New Roman", &regular}, std::pair{"Times New Roman Bold", &bold}}) {
            ASSERT_EQ(D3DXCreateFontA(device.get(), 18, 0, 0, 0, false, 0, 0, 0, 0, face, font),
                      S_OK);
            ASSERT_NE(*font, nullptr) << face;
        }
    }
    void TearDown() override { regular = bold = nullptr, GlDeviceTest::TearDown(); }

    // Draws `count` characters of a text (-1: up to its end) on black, in the regular face
    // unless told otherwise, and returns where channel c lit up (above a faint threshold).
    Box Draw(const char* text, RECT rect, D3DCOLOR color = 0xFFFFFFFF, int channel = 0,
             int count = -1, ID3DXFont* font = nullptr) {
        Box box;
        last = Frame([&] {
            box.height =
                (font ? font : regular.get())->DrawTextA(nullptr, text, count, &rect, 0, color);
        });
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x) {
                int v = last[(static_cast<size_t>(y) * 400 + x) * 4 + channel];
                box.ink += v;
                if (v < 40) continue;
                box.left = std::min(box.left, x), box.right = std::max(box.right, x);
                box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
            }
        return box;
    }

    FontPtr regular, bold;
    std::vector<uint8_t> last;
};

} // namespace

TEST_F(GlFontTest, TextSitsTopLeftInCellsOfTheRequestedHeightBoldIsHeavierClipsAndCounts) {
    // One line of the cell height, from the left edge and near the top, inside its 18-pixel
    // cell, and wide for a line of that length.
    Box b = Draw("Display: 640x480 (0.0 fps)", {10, 25, 410, 85});
    EXPECT_EQ(b.height, 18);
    EXPECT_TRUE(b.left >= 10 && b.left <= 13 && b.top >= 25 && b.top <= 30 && b.bottom <= 43 &&
                b.right > 150)
        << b.left << " " << b.top << " " << b.right << " " << b.bottom;
    // A capital's height in a cell of 18: Liberation Serif's cap height is 0.59 of the cell
    // (the cell is 1.107 em), about 10.7 pixels; an em of 18 would give 11.8.
    Box cap = Draw("H", {0, 0, 400, 200});
    EXPECT_TRUE(cap.bottom - cap.top + 1 >= 10 && cap.bottom - cap.top + 1 <= 11);
    // Two lines: the second one cell lower, and twice the height returned.
    Box two = Draw("H\nH", {0, 0, 400, 200});
    EXPECT_EQ(std::pair(two.height, two.bottom - cap.bottom), std::pair(36, 18));
    // Red text lights only the red channel. Nothing to draw: height 0.
    EXPECT_FALSE(Draw("Colour", {0, 0, 400, 200}, 0xFFFF0000, 0).Empty());
    EXPECT_TRUE(Draw("Colour", {0, 0, 400, 200}, 0xFFFF0000, 1).Empty());
    EXPECT_EQ(Draw("", {0, 0, 100, 100}).height + Draw("abc", {0, 0, 9, 9}, ~0u, 0, 0).height, 0);

    const char* text = "[Cursor Up] Move forward";
    const RECT rect{10, 10, 410, 70};
    Box plain = Draw(text, rect);
    Box heavy = Draw(text, rect, 0xFFFFFFFF, 0, -1, bold.get());
    // At least a quarter more ink, and wider.
    EXPECT_TRUE(heavy.ink > plain.ink * 5 / 4 && heavy.right > plain.right);

    // Clipped: nothing right of or below the rectangle.
    Box narrow = Draw(text, {10, 10, 60, 70}), shallow = Draw(text, {10, 10, 410, 18});
    EXPECT_TRUE(!narrow.Empty() && narrow.right < 60 && !shallow.Empty() && shallow.bottom < 18);

    // A count draws that many characters.
    EXPECT_LT(Draw("[Cursor", rect).right, plain.right);
    std::vector<uint8_t> prefixPixels = last;
    EXPECT_EQ(Draw(text, rect, 0xFFFFFFFF, 0, 7).height, 18);
    EXPECT_TRUE(last == prefixPixels) << "7 characters are \"[Cursor\"";

    FontPtr none;
    EXPECT_EQ(D3DXCreateFontA(device.get(), 18, 0, 0, 0, false, 0, 0, 0, 0, "", &none), E_FAIL);
    EXPECT_FALSE(none);
}
