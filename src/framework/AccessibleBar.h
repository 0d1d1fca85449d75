#pragma once
// What assistive technology reads from a progress bar: its position as the percentage of its
// range, the way the pages print a level next to their bars ("- 53%" for 8 of 0..15), not
// the raw position. Private to the framework.

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

class QProgressBar;

namespace fw {

class AccessibleBar : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    // Makes `bar` report itself through this class. Installs the factory once.
    static void Use(QProgressBar& bar);
    // The percentage a bar reports: its shown position within its range, truncated.
    static int Percent(const QProgressBar& bar);

    explicit AccessibleBar(QProgressBar& bar);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    const QProgressBar& Bar() const;
};

} // namespace fw
