#include "framework/AccessibleCombo.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>

namespace fw {

namespace {

constexpr const char* kNamedComboProperty = "fw.namedCombo";

QAccessibleInterface* CreateForCombo(const QString& className, QObject* object)
{
    if (className != QLatin1String("QComboBox") || !object || !object->property(kNamedComboProperty).toBool())
        return nullptr;
    auto* combo = qobject_cast<QComboBox*>(object);
    return combo ? new AccessibleCombo(*combo) : nullptr;
}

} // namespace

void AccessibleCombo::Use(QComboBox& combo)
{
    static const bool installed = [] {
        QAccessible::installFactory(CreateForCombo);
        return true;
    }();
    (void)installed;
    combo.setProperty(kNamedComboProperty, true);
}

AccessibleCombo::AccessibleCombo(QComboBox& combo) : QAccessibleWidget(&combo, QAccessible::ComboBox) {}

int AccessibleCombo::childCount() const
{
    return Combo().lineEdit() ? 2 : 1;
}

QAccessibleInterface* AccessibleCombo::child(int index) const
{
    if (index == 0)
        return QAccessible::queryAccessibleInterface(Combo().view());
    if (index == 1 && Combo().lineEdit())
        return QAccessible::queryAccessibleInterface(Combo().lineEdit());
    return nullptr;
}

int AccessibleCombo::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child)
        return -1;
    if (child->object() == Combo().view())
        return 0;
    if (Combo().lineEdit() && child->object() == Combo().lineEdit())
        return 1;
    return -1;
}

QString AccessibleCombo::text(QAccessible::Text type) const
{
    const QComboBox& combo = Combo();
    const QString value = combo.lineEdit() ? combo.lineEdit()->text() : combo.currentText();
    if (type == QAccessible::Value)
        return value;
    if (type == QAccessible::Name) {
        const QString name = QAccessibleWidget::text(type);
        return name.isEmpty() ? value : name;
    }
    return QAccessibleWidget::text(type);
}

QStringList AccessibleCombo::actionNames() const
{
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
}

void AccessibleCombo::doAction(const QString& action)
{
    if (action != showMenuAction() && action != pressAction()) {
        QAccessibleWidget::doAction(action);
        return;
    }
    QComboBox& combo = Combo();
    if (combo.view() && combo.view()->isVisible())
        combo.hidePopup();
    else
        combo.showPopup();
}

QComboBox& AccessibleCombo::Combo() const
{
    return *static_cast<QComboBox*>(widget());
}

} // namespace fw
