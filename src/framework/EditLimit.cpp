#include "framework/EditLimit.h"

#include <algorithm>

namespace fw {

EditLimit::EditLimit(QLineEdit& edit) : QValidator(&edit), edit_(edit), previous_(edit.text())
{
    // The program's text is never cut, so the widget's own maximum is out of the way.
    edit.setMaxLength(std::numeric_limits<int>::max());
    // Read from the edit, not from the signal: a handler that sets the text while Qt is still
    // reporting the user's change makes the signal's text stale.
    connect(&edit, &QLineEdit::textChanged, this, [this] { previous_ = edit_.text(); });
    edit.setValidator(this);
}

EditLimit* EditLimit::Of(const QLineEdit& edit)
{
    return dynamic_cast<EditLimit*>(const_cast<QValidator*>(edit.validator()));
}

void EditLimit::SetProgramText(const QString& text)
{
    programSetting_ = true;
    edit_.setText(text);
    programSetting_ = false;
    previous_ = edit_.text();
}

QValidator::State EditLimit::validate(QString& input, int& pos) const
{
    if (programSetting_)
        return Acceptable;
    if (fits_ && input.size() >= previous_.size() && input != previous_ &&
        !fits_(std::u16string_view(reinterpret_cast<const char16_t*>(input.utf16()), static_cast<size_t>(input.size()))))
        return Invalid;
    if (input.size() <= limit_ || input.size() <= previous_.size())
        return Acceptable;
    // The change is what lies between the part both texts start with and the part both end
    // with; only that part is cut, to the room the rest leaves.
    const qsizetype common = std::min(input.size(), previous_.size());
    qsizetype prefix = 0;
    while (prefix < common && input[prefix] == previous_[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix && input[input.size() - 1 - suffix] == previous_[previous_.size() - 1 - suffix])
        ++suffix;
    const qsizetype inserted = input.size() - prefix - suffix;
    const qsizetype kept = std::max<qsizetype>(0, limit_ - (input.size() - inserted));
    input = input.left(prefix) + input.mid(prefix, std::min(kept, inserted)) + input.right(suffix);
    pos = static_cast<int>(prefix + std::min(kept, inserted));
    return Acceptable;
}

} // namespace fw
