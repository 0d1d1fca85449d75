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

namespace {

// A change replaces what lies between the part both texts start with and the part both end
// with; these are the lengths of the three parts in the new text.
struct Change {
    qsizetype prefix;
    qsizetype inserted;
    qsizetype suffix;
};

Change ChangeBetween(const QString& before, const QString& after)
{
    const qsizetype common = std::min(after.size(), before.size());
    qsizetype prefix = 0;
    while (prefix < common && after[prefix] == before[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix && after[after.size() - 1 - suffix] == before[before.size() - 1 - suffix])
        ++suffix;
    return {prefix, after.size() - prefix - suffix, suffix};
}

} // namespace

QValidator::State EditLimit::validate(QString& input, int& pos) const
{
    if (programSetting_)
        return Acceptable;
    const Change change = ChangeBetween(previous_, input);
    // Only a pure deletion goes unmeasured: a replacement by fewer characters can still take
    // more bytes ("ab" by a euro sign in UTF-8).
    if (fits_ && change.inserted > 0 &&
        !fits_(std::u16string_view(reinterpret_cast<const char16_t*>(input.utf16()), static_cast<size_t>(input.size()))))
        return Invalid;
    if (input.size() <= limit_ || input.size() <= previous_.size())
        return Acceptable;
    // Only the inserted part is cut, to the room the rest leaves.
    const qsizetype kept = std::max<qsizetype>(0, limit_ - (input.size() - change.inserted));
    const qsizetype taken = std::min(kept, change.inserted);
    input = input.left(change.prefix) + input.mid(change.prefix, taken) + input.right(change.suffix);
    pos = static_cast<int>(change.prefix + taken);
    return Acceptable;
}

} // namespace fw
