#include "framework/DialogUnits.h"

#include "framework/WndImpl.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include <algorithm>

namespace fw {

namespace {

// The classic average character width is measured over the 52 letters.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;
constexpr int kDefaultPointSize = 8;
// The size of the desktop's font the templates were drawn beside (Qt's own default).
constexpr double kDesktopPointSize = 9.0;

int MulDiv(int value, int numerator, int denominator)
{
    // Rounded to the nearest pixel, halves away from zero, as the classic conversion does.
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

QFont DialogUnits::TemplateFont(std::u16string_view face, int pointSize)
{
    QFont font(face.empty() || face == kSystemFace ? QString::fromLatin1(kSystemFamily) : ToQString(face));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF((pointSize > 0 ? pointSize : kDefaultPointSize) * DesktopFontScale());
    return font;
}

double DialogUnits::DesktopFontScale()
{
    // The templates were laid out for a desktop whose font has Qt's usual size; a person who
    // chose larger text gets every dialog font, and with it every dialog unit, as much larger.
    if (!QGuiApplication::instance())
        return 1.0;
    const double desktop = QGuiApplication::font().pointSizeF();
    return desktop > 0 ? desktop / kDesktopPointSize : 1.0;
}

DialogUnits DialogUnits::ForFont(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
    const int baseWidth = std::max(1, (alphabet / (kAlphabetLength / 2) + 1) / 2);
    const int baseHeight = std::max(1, metrics.height());
    return DialogUnits(font, baseWidth, baseHeight);
}

DialogUnits DialogUnits::ForTemplate(const DialogTemplate& tmpl)
{
    return ForFont(TemplateFont(tmpl.font, tmpl.pointSize));
}

int DialogUnits::ToPixelsX(int units) const
{
    return MulDiv(units, baseWidth_, 4);
}

int DialogUnits::ToPixelsY(int units) const
{
    return MulDiv(units, baseHeight_, 8);
}

} // namespace fw
