#include "framework/ControlFactory.h"

#include "framework/AccessibleBar.h"
#include "framework/AccessibleCombo.h"
#include "framework/DialogUnits.h"
#include "framework/EditLimit.h"
#include "framework/FocusStyle.h"
#include "framework/WndImpl.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionComplex>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <limits>

namespace fw {

namespace {

// Enter in the edit field of an editable combo goes to the dialog (the sheet's default
// button), as in a classic dialog. Left to Qt, the combo would take it to select a matching
// entry or to add one.
class EnterToDialog : public QObject {
public:
    explicit EnterToDialog(QComboBox& combo) : QObject(&combo), combo_(combo) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if (QWidget* parent = combo_.parentWidget()) {
            QKeyEvent forwarded(QEvent::KeyPress, key->key(), key->modifiers(), key->text());
            QCoreApplication::sendEvent(parent, &forwarded);
        }
        return true;
    }

private:
    QComboBox& combo_;
};

// The combo box parts at their classic sizes: a drop-down button as wide as a scroll bar and
// a thin frame, so the entry text gets the room the templates were laid out for (Fusion's
// wider button and margins would cut "Fully Automatic" in its 60-unit list).
class ClassicComboStyle : public QProxyStyle {
public:
    static QStyle* Instance()
    {
        static QPointer<QStyle> style;
        if (!style) {
            style = new ClassicComboStyle;
            style->setParent(qApp);  // goes with the application, after every widget
        }
        return style;
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override
    {
        if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField))
            return QProxyStyle::subControlRect(control, option, part, widget);
        constexpr int frame = 1;
        const QRect r = option->rect;
        // The button grows with the dialog font, as everything else in the dialog does.
        const int extent = static_cast<int>(pixelMetric(PM_ScrollBarExtent, option, widget) * DialogUnits::DesktopFontScale());
        const int button = std::min(extent, r.width() / 2);
        const QRect rect = part == SC_ComboBoxArrow
                               ? QRect(r.right() - frame - button + 1, r.top() + frame, button, r.height() - 2 * frame)
                               : QRect(r.left() + frame, r.top() + frame, r.width() - button - 2 * frame, r.height() - 2 * frame);
        return visualRect(option->direction, r, rect);
    }
};

// A focused push button takes Enter itself, as a classic button with the focus is the
// default one for that moment; everywhere else Enter belongs to the dialog's default button.
class EnterClicksFocusedButton : public QObject {
public:
    explicit EnterClicksFocusedButton(QPushButton& button) : QObject(&button), button_(button) {}

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        button_.click();
        return true;
    }

private:
    QPushButton& button_;
};

QWidget* CreateLabel(const ControlTemplate& ctl, QWidget& parent, const DialogUnits& units)
{
    auto* label = new QLabel(&parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(ToQString(ctl.text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A box of one line shows its text on that line: wrapping a word that overhangs by a
    // pixel of spacing would push it onto a line nobody sees.
    label->setWordWrap(units.ToPixelsY(ctl.h) >= 2 * label->fontMetrics().height());
    return label;
}

// A borderless edit shows its text as a label beside it does: on the dialog's background,
// from its top line (a line edit centres its text in its box and fills it with the text
// background, which set the text lower than its label's, on a white patch).
void LookLikeALabel(QLineEdit& edit)
{
    edit.setFrame(false);
    QPalette palette = edit.palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    edit.setPalette(palette);
    edit.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The line edit keeps one pixel above its text even without a frame; a label keeps none.
    edit.setTextMargins(0, -1, 0, 0);
}

QWidget* CreateEdit(const ControlTemplate& ctl, QWidget& parent)
{
    auto* edit = new QLineEdit(&parent);
    if (ctl.style & StyleNoBorder) {
        LookLikeALabel(*edit);
        FocusStyle::Use(*edit);  // without a border, nothing else would show the focus
    }
    auto* limit = new EditLimit(*edit);
    limit->SetProgramText(ToQString(ctl.text));
    // Typing, pasting, cutting and undoing notify through textEdited, once per change; the
    // program's own text is notified by SetWindowText.
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, limit](const QString& text) {
        if (text != limit->Previous())
            NotifyOwner(*edit, EN_CHANGE);
    });
    return edit;
}

QWidget* CreateCombo(const ControlTemplate& ctl, QWidget& parent)
{
    auto* combo = new QComboBox(&parent);
    combo->setStyle(ClassicComboStyle::Instance());
    AccessibleCombo::Use(*combo);
    // Without a placeholder Qt selects the first entry added to an empty combo.
    combo->setPlaceholderText(QStringLiteral(" "));
    combo->setProperty(kSortedProperty, (ctl.style & StyleSorted) != 0);
    combo->setMaxVisibleItems(std::max(1, (ctl.h - kComboLineUnits) / kListEntryUnits));
    if (ctl.kind == ControlKind::Combo) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        QLineEdit* edit = combo->lineEdit();
        // The selection of an editable combo is what was last chosen or set: typed text that
        // matches an entry selects nothing, neither on Enter nor when the focus leaves.
        QObject::disconnect(edit, &QLineEdit::editingFinished, combo, nullptr);
        QObject::disconnect(edit, &QLineEdit::returnPressed, combo, nullptr);
        edit->installEventFilter(new EnterToDialog(*combo));
        edit->setMaxLength(std::numeric_limits<int>::max());
    }
    QObject::connect(combo, &QComboBox::activated, combo, [combo](int) { NotifyOwner(*combo, CBN_SELCHANGE); });
    return combo;
}

QWidget* CreateButton(const ControlTemplate& ctl, QWidget& parent)
{
    auto* button = new QPushButton(ToQString(ctl.text), &parent);
    // A page's button is never a default button: Enter belongs to the sheet's OK.
    button->setAutoDefault(false);
    button->setDefault(false);
    FocusStyle::Use(*button);
    button->installEventFilter(new EnterClicksFocusedButton(*button));
    QObject::connect(button, &QPushButton::clicked, button, [button] { NotifyOwner(*button, BN_CLICKED); });
    return button;
}

QWidget* CreateBar(QWidget& parent)
{
    auto* bar = new QProgressBar(&parent);
    bar->setRange(0, 100);  // the classic default range
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFocusPolicy(Qt::NoFocus);
    AccessibleBar::Use(*bar);
    return bar;
}

QRect Placement(const ControlTemplate& ctl, const DialogUnits& units)
{
    QRect rect = units.ToPixels(ctl.x, ctl.y, ctl.w, ctl.h);
    if (ctl.kind == ControlKind::List || ctl.kind == ControlKind::Combo)
        rect.setHeight(units.ToPixelsY(std::min<int>(ctl.h, kComboLineUnits)));
    return rect;
}

} // namespace

QWidget* ControlFactory::Create(const ControlTemplate& ctl, QWidget& parent, const DialogUnits& units, Wnd& owner)
{
    QWidget* widget = nullptr;
    switch (ctl.kind) {
    case ControlKind::Label: widget = CreateLabel(ctl, parent, units); break;
    case ControlKind::Edit: widget = CreateEdit(ctl, parent); break;
    case ControlKind::List:
    case ControlKind::Combo: widget = CreateCombo(ctl, parent); break;
    case ControlKind::Button: widget = CreateButton(ctl, parent); break;
    case ControlKind::Bar: widget = CreateBar(parent); break;
    }
    if (!widget)
        return nullptr;
    widget->setGeometry(Placement(ctl, units));
    if (ctl.style & StyleDisabled)
        widget->setEnabled(false);
    SetControlOwner(*widget, owner, ctl.id);
    return widget;
}

} // namespace fw
