#include "framework/AccessibleBar.h"

#include <QAccessible>
#include <QProgressBar>

namespace fw {

namespace {

constexpr const char* kPercentBarProperty = "fw.percentBar";

// Consulted before Qt's own interfaces; answers only for the framework's bars.
QAccessibleInterface* CreateForBar(const QString& className, QObject* object)
{
    if (className != QLatin1String("QProgressBar") || !object || !object->property(kPercentBarProperty).toBool())
        return nullptr;
    auto* bar = qobject_cast<QProgressBar*>(object);
    return bar ? new AccessibleBar(*bar) : nullptr;
}

} // namespace

void AccessibleBar::Use(QProgressBar& bar)
{
    static const bool installed = [] {
        QAccessible::installFactory(CreateForBar);
        return true;
    }();
    (void)installed;
    bar.setProperty(kPercentBarProperty, true);
}

int AccessibleBar::Percent(const QProgressBar& bar)
{
    const long long span = static_cast<long long>(bar.maximum()) - bar.minimum();
    if (span <= 0)
        return 0;
    return static_cast<int>((static_cast<long long>(bar.value()) - bar.minimum()) * 100 / span);
}

AccessibleBar::AccessibleBar(QProgressBar& bar) : QAccessibleWidget(&bar, QAccessible::ProgressBar) {}

void* AccessibleBar::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString AccessibleBar::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return QString::number(Percent(Bar())) + QLatin1Char('%');
    return QAccessibleWidget::text(type);
}

QVariant AccessibleBar::currentValue() const
{
    return Percent(Bar());
}

QVariant AccessibleBar::maximumValue() const
{
    return 100;
}

QVariant AccessibleBar::minimumValue() const
{
    return 0;
}

QVariant AccessibleBar::minimumStepSize() const
{
    return 1;
}

const QProgressBar& AccessibleBar::Bar() const
{
    return *static_cast<const QProgressBar*>(widget());
}

} // namespace fw
