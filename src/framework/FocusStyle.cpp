#include "framework/FocusStyle.h"

#include <algorithm>

#include <QApplication>
#include <QPen>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QWidget>

namespace fw {

QStyle* FocusStyle::Instance()
{
    static QPointer<QStyle> style;
    if (!style && qApp) {
        style = new FocusStyle;
        style->setParent(qApp);  // goes with the application, after every widget
    }
    return style;
}

void FocusStyle::Use(QWidget& widget)
{
    if (QStyle* style = Instance())
        widget.setStyle(style);
}

void FocusStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const
{
    if (const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
        tab && (element == CE_TabBarTab || element == CE_TabBarTabLabel)) {
        // The base style draws the focused tab's cue only once the keyboard has moved the
        // focus; a classic dialog shows where the focus is from the start.
        QStyleOptionTab shown(*tab);
        shown.state |= State_KeyboardFocusChange;
        QProxyStyle::drawControl(element, &shown, painter, widget);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element == CE_PushButton && option && painter && (option->state & State_HasFocus)) {
        // Inside the button's bevel, clear of its caption, at every scale.
        const int inset = std::max(3, pixelMetric(PM_DefaultFrameWidth, option, widget) + 2);
        DrawFocusCue(option->rect.adjusted(inset, inset, -inset, -inset), *option, *painter);
    }
}

void FocusStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                               const QWidget* widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element == PE_PanelLineEdit && option && painter && (option->state & State_HasFocus)) {
        const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
        if (frame && frame->lineWidth == 0)
            DrawFocusCue(option->rect, *option, *painter);
    }
}

QIcon FocusStyle::standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const
{
    // A button box with this style asks for these when it makes its OK and Cancel. The base
    // style would look them up in the icon theme and decode its own pictures, which loads
    // every image-format plugin, for icons a classic sheet's buttons do not show. The buttons
    // still keep the room the style gives an icon, so they are as wide as they always were.
    if (icon == SP_DialogOkButton || icon == SP_DialogCancelButton)
        return {};
    return QProxyStyle::standardIcon(icon, option, widget);
}

void FocusStyle::DrawFocusCue(const QRect& rect, const QStyleOption& option, QPainter& painter) const
{
    painter.save();
    // One unit wide, so a dense screen draws it as thick as the rest of the dialog.
    painter.setPen(QPen(option.palette.color(QPalette::WindowText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}

} // namespace fw
