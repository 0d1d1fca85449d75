#pragma once
// The focus cues of a classic dialog on top of the application's style: a dotted rectangle
// inside a focused push button (so a focused OK differs from OK merely being the default
// button), around a focused edit that has no border, and around the focused tab, shown
// whenever the control has the focus; and an OK and a Cancel that carry their caption only.
// Private to the framework.

#include <QProxyStyle>

namespace fw {

class FocusStyle : public QProxyStyle {
public:
    // The one instance, owned by the application; null before the application exists.
    static QStyle* Instance();
    // Gives `widget` the focus cues.
    static void Use(QWidget& widget);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;

private:
    void DrawFocusCue(const QRect& rect, const QStyleOption& option, QPainter& painter) const;
};

} // namespace fw
