#include "framework/Dialog.h"

#include "framework/AccessibleNames.h"
#include "framework/ComboBox.h"
#include "framework/ControlFactory.h"
#include "framework/DataExchange.h"
#include "framework/DialogUnits.h"
#include "framework/DialogWindow.h"
#include "framework/PropertyPage.h"
#include "framework/WinApp.h"
#include "framework/WndImpl.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <vector>

namespace fw {

FW_IMPLEMENT_DYNAMIC(Dialog, Wnd)

void DialogWidget::done(int result)
{
    if (onDone_)
        onDone_(result);
    else
        QDialog::done(result);
}

namespace {

// A one-line label whose text overhangs its box by a few pixels (the font is not the one the
// templates were drawn with) gets the room it needs to its right, as far as no other control
// is in the way; its place and height stay as laid out.
void WidenOverhangingLabels(const std::vector<std::pair<int, QPointer<QWidget>>>& controls)
{
    for (const auto& [id, widget] : controls) {
        auto* label = qobject_cast<QLabel*>(widget.data());
        if (!label || label->wordWrap())
            continue;
        const QFontMetrics metrics = label->fontMetrics();
        const int needed = std::max(metrics.horizontalAdvance(label->text()), metrics.tightBoundingRect(label->text()).right() + 1);
        if (needed <= label->width())
            continue;
        QRect wider = label->geometry();
        wider.setWidth(needed);
        const bool free = std::none_of(controls.begin(), controls.end(), [&](const auto& other) {
            return other.second && other.second != label && other.second->geometry().intersects(wider);
        });
        if (free && (!label->parentWidget() || label->parentWidget()->rect().contains(wider)))
            label->setGeometry(wider);
    }
}

// Gives each control the name a screen reader reads for it, and each label that names a
// control that control as its buddy, which assistive technology reports as "labelled by".
void NameControls(const DialogTemplate& tmpl, const std::vector<QWidget*>& widgets)
{
    const std::vector<AccessibleName> names = AccessibleNames::ForTemplate(tmpl);
    for (size_t i = 0; i < names.size() && i < widgets.size(); ++i) {
        QWidget* control = widgets[i];
        if (!control || names[i].name.empty())
            continue;
        control->setAccessibleName(ToQString(names[i].name));
        // The edit field of an editable combo box takes the focus, so it carries the name too.
        if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit())
            combo->lineEdit()->setAccessibleName(ToQString(names[i].name));
        if (names[i].label < 0)
            continue;
        auto* label = qobject_cast<QLabel*>(widgets[static_cast<size_t>(names[i].label)]);
        if (label && !label->buddy())
            label->setBuddy(control);
    }
}

} // namespace

void BuildDialogWindow(Dialog& dialog, QWidget* parentWidget)
{
    const DialogTemplate& tmpl = dialog.GetTemplate();
    const DialogUnits units = DialogUnits::ForTemplate(tmpl);
    const bool page = dialog.IsKindOf(&PropertyPage::runtimeClass);

    QWidget* window = nullptr;
    if (page) {
        window = new QWidget(parentWidget);
    } else {
        auto* dlg = new DialogWidget(parentWidget);
        dlg->SetOnDone([&dialog](int result) { dialog.EndDialog(result == QDialog::Accepted ? IDOK : IDCANCEL); });
        window = dlg;
    }
    window->setFont(units.Font());
    window->setWindowTitle(ToQString(tmpl.caption));
    const QSize client = units.ToPixels(tmpl.w, tmpl.h);
    if (page) {
        window->setMinimumSize(client);
        window->resize(client);
    } else {
        window->setFixedSize(client);
    }

    if (page)
        window->setAccessibleName(ToQString(tmpl.caption));

    Wnd::Impl& impl = dialog.impl();
    impl.Adopt(window);
    std::vector<QWidget*> widgets;  // one per template control, in template order
    for (const ControlTemplate& ctl : tmpl.controls) {
        QWidget* control = ControlFactory::Create(ctl, *window, units, dialog);
        widgets.push_back(control);
        if (control)
            impl.controls.emplace_back(ctl.id, control);
    }
    NameControls(tmpl, widgets);
    WidenOverhangingLabels(impl.controls);
}

Dialog::Dialog(const DialogTemplate& tmpl, Wnd* parent) : template_(tmpl), parent_(parent) {}

Dialog::~Dialog() = default;

intptr_t Dialog::DoModal()
{
    if (HasWindow())
        return -1;
    // Without a parent the application's main window owns the dialog, unless it is that
    // window itself.
    Wnd* owner = parent_;
    if (!owner)
        if (WinApp* app = WinApp::Instance(); app && app->m_pMainWnd != this)
            owner = app->m_pMainWnd;
    BuildDialogWindow(*this, owner ? owner->GetSafeWidget() : nullptr);

    Impl::ModalRun run;
    impl().modal = &run;
    OnInitDialog();
    const intptr_t result = impl().RunModalLoop(run);
    impl().modal = nullptr;
    if (impl().widget)
        impl().ReleaseWindow();
    return result;
}

bool Dialog::Create(Wnd* parent)
{
    if (HasWindow())
        return false;
    Wnd* owner = parent ? parent : parent_;
    BuildDialogWindow(*this, owner ? owner->GetSafeWidget() : nullptr);
    OnInitDialog();
    return HasWindow();
}

void Dialog::EndDialog(intptr_t result)
{
    impl().EndModal(result);
}

bool Dialog::OnInitDialog()
{
    // The combo lists are filled before the data exchange and before the derived class's
    // own initialisation, which may select any of their entries.
    for (const ComboEntries& list : template_.comboEntries) {
        QWidget* widget = impl().FindControl(list.id);
        if (!qobject_cast<QComboBox*>(widget))
            continue;
        ComboBox combo;
        combo.Attach(widget, list.id);
        for (std::u16string_view entry : list.entries)
            combo.AddString(entry);
    }
    DataExchange dx(*this);
    DoDataExchange(dx);
    return true;
}

void Dialog::DoDataExchange(DataExchange&) {}

} // namespace fw
