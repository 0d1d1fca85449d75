// Icon 128: two images of 16 colours, and the desktop entry's PNG files made from the very
// same pixels (the larger ones with each pixel of the 32 x 32 image repeated).
#include "ui/AppIcon.h"

#include "framework/Icon.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

TEST(AppIcon, HasA16And32PixelImageOfPaletteIndexes)
{
    EXPECT_EQ(kAppIcon.id, 128);
    ASSERT_EQ(kAppIcon.images.size(), 2u);
    EXPECT_EQ(kAppIcon.images[0].size, 16);
    EXPECT_EQ(kAppIcon.images[1].size, 32);
    for (const fw::IconImage& image : kAppIcon.images) {
        ASSERT_EQ(image.pixels.size(), static_cast<size_t>(image.size * image.size));
        for (uint8_t index : image.pixels)
            ASSERT_LT(index, 16);
        // Transparent background, every drawn colour opaque.
        EXPECT_EQ(image.palette[0] >> 24, 0u);
        for (size_t i = 1; i < 16; ++i)
            EXPECT_EQ(image.palette[i] >> 24, 0xFFu) << "palette entry " << i;
        // The drawing does not touch a corner, so the icon reads as a shape on any background.
        EXPECT_EQ(image.pixels.front(), 0);
        EXPECT_EQ(image.pixels.back(), 0);
    }
    EXPECT_FALSE(fw::Icon::Load(kAppIcon).IsNull());
}

// Each PNG file: an image of the icon, by its index, and how many times each of its pixels is
// repeated across and down (the larger sizes are the 32 x 32 image enlarged).
struct DesktopIcon {
    size_t image;
    int factor;
};

void PrintTo(const DesktopIcon& icon, std::ostream* out)
{
    *out << "image " << icon.image << " times " << icon.factor;
}

class DesktopIconTest : public ::testing::TestWithParam<DesktopIcon> {};

TEST_P(DesktopIconTest, PngShowsTheSamePixels)
{
    const fw::IconImage& image = kAppIcon.images[GetParam().image];
    const int factor = GetParam().factor;
    const int pngSize = image.size * factor;
    const std::string size = std::to_string(pngSize);
    const std::string path = std::string(DESKTOP_ICON_DIR) + "/" + size + "x" + size + "/wlan-utility.png";

    QImage png;
    ASSERT_TRUE(png.load(QString::fromStdString(path))) << path;
    ASSERT_EQ(png.width(), pngSize);
    ASSERT_EQ(png.height(), pngSize);
    for (int y = 0; y < pngSize; ++y)
        for (int x = 0; x < pngSize; ++x) {
            const uint32_t want = image.palette[image.pixels[static_cast<size_t>((y / factor) * image.size + x / factor)]];
            const QRgb got = png.pixel(x, y);
            if (qAlpha(want) == 0)
                ASSERT_EQ(qAlpha(got), 0) << "at " << x << "," << y;
            else
                ASSERT_EQ(got, want) << "at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(EachSize, DesktopIconTest,
                         ::testing::Values(DesktopIcon{0, 1}, DesktopIcon{1, 1}, DesktopIcon{1, 2}, DesktopIcon{1, 4}),
                         [](const auto& info) {
                             return "Px" + std::to_string(kAppIcon.images[info.param.image].size * info.param.factor);
                         });

} // namespace
