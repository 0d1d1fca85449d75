#include "framework/Icon.h"

#include "framework/IconImpl.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

namespace fw {

namespace {

constexpr int kMaxIconSize = 256;

// An image whose pixel data is short, or whose size is absurd, is skipped: a bad resource
// leaves the window without that image, never reads past its data.
bool IsWellFormed(const IconImage& image)
{
    return image.size > 0 && image.size <= kMaxIconSize &&
           image.pixels.size() >= static_cast<size_t>(image.size) * static_cast<size_t>(image.size);
}

QImage ToImage(const IconImage& image)
{
    QImage result(image.size, image.size, QImage::Format_ARGB32);
    for (int y = 0; y < image.size; ++y)
        for (int x = 0; x < image.size; ++x) {
            const uint8_t index = image.pixels[static_cast<size_t>(y * image.size + x)] & 0x0F;
            result.setPixel(x, y, image.palette[index]);
        }
    return result;
}

} // namespace

Icon Icon::Load(const IconResource& resource)
{
    if (!qGuiApp)
        return {};
    QIcon qicon;
    for (const IconImage& image : resource.images)
        if (IsWellFormed(image))
            qicon.addPixmap(QPixmap::fromImage(ToImage(image)));
    if (qicon.isNull())
        return {};
    Icon icon;
    icon.impl_ = std::make_shared<const Impl>(Impl{qicon});
    return icon;
}

} // namespace fw
