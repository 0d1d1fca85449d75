#pragma once
// Dialog units to pixels, the classic way: a horizontal unit is a quarter of the template
// font's average character width, a vertical unit an eighth of its character height, so a
// layout keeps its proportions at any font size or screen scale. Private to the framework.

#include "framework/DialogTemplate.h"

#include <QFont>
#include <QRect>
#include <QSize>

namespace fw {

class DialogUnits {
public:
    // The font a template names; "System" stands for the framework's dialog font. Its size
    // follows the desktop's font: twice the usual desktop size gives twice the point size.
    static QFont TemplateFont(std::u16string_view face, int pointSize);
    // The desktop's font size against the usual one; 1 without an application.
    static double DesktopFontScale();
    static DialogUnits ForFont(const QFont& font);
    static DialogUnits ForTemplate(const DialogTemplate& tmpl);

    const QFont& Font() const { return font_; }
    int BaseWidth() const { return baseWidth_; }
    int BaseHeight() const { return baseHeight_; }

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QSize ToPixels(int w, int h) const { return {ToPixelsX(w), ToPixelsY(h)}; }
    QRect ToPixels(int x, int y, int w, int h) const { return {ToPixelsX(x), ToPixelsY(y), ToPixelsX(w), ToPixelsY(h)}; }

    static constexpr std::u16string_view kSystemFace = u"System";
    static constexpr const char* kSystemFamily = "DejaVu Sans";

private:
    DialogUnits(const QFont& font, int baseWidth, int baseHeight)
        : font_(font), baseWidth_(baseWidth), baseHeight_(baseHeight) {}

    QFont font_;
    int baseWidth_;
    int baseHeight_;
};

} // namespace fw
