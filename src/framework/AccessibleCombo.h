#pragma once
// What assistive technology reads from a combo box: the name the framework gave it, and its
// current text as its value. Qt's own interface names a combo box by its current text on
// this platform, so an empty combo would have no name and two showing "Disabled" the same
// one. Private to the framework.

#include <QAccessibleWidget>

class QComboBox;

namespace fw {

class AccessibleCombo : public QAccessibleWidget {
public:
    // Makes `combo` report itself through this class. Installs the factory once.
    static void Use(QComboBox& combo);

    explicit AccessibleCombo(QComboBox& combo);

    // The drop-down list first, then, for an editable combo, its edit field, as Qt's own.
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

    QString text(QAccessible::Text type) const override;

    // Pressing, or asking for the menu, opens the list, or closes it when it is open.
    QStringList actionNames() const override;
    void doAction(const QString& action) override;

private:
    QComboBox& Combo() const;
};

} // namespace fw
