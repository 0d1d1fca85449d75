#include "framework/AccessibleNames.h"

#include <map>
#include <set>

namespace fw {

namespace {

bool SpeaksOwnText(ControlKind kind)
{
    return kind == ControlKind::Label || kind == ControlKind::Button;
}

std::u16string_view KindWord(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Edit: return u"field";
    case ControlKind::List:
    case ControlKind::Combo: return u"list";
    case ControlKind::Bar: return u"bar";
    case ControlKind::Label:
    case ControlKind::Button: break;
    }
    return u"control";
}

bool SharesRow(const ControlTemplate& a, const ControlTemplate& b)
{
    return a.y < b.y + b.h && b.y < a.y + a.h;
}

// Of a run of labels, the one on the control's row, else the last one, the nearest before it.
int LabelFor(const DialogTemplate& tmpl, const std::vector<int>& run, const ControlTemplate& ctl)
{
    for (int index : run)
        if (SharesRow(tmpl.controls[static_cast<size_t>(index)], ctl))
            return index;
    return run.back();
}

std::u16string Joined(std::u16string first, std::u16string_view second)
{
    if (!second.empty()) {
        if (!first.empty())
            first += u' ';
        first += second;
    }
    return first;
}

std::u16string Number(int n)
{
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
        n /= 10;
    } while (n > 0);
    return digits;
}

} // namespace

std::u16string AccessibleNames::FromLabel(std::u16string_view text)
{
    std::u16string name;
    for (size_t i = 0; i < text.size(); ++i) {
        // "&&" stands for one ampersand; a single one marks the next letter as the mnemonic.
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        name += text[i];
    }
    while (!name.empty() && (name.back() == u' ' || name.back() == u':'))
        name.pop_back();
    return name;
}

std::vector<AccessibleName> AccessibleNames::ForTemplate(const DialogTemplate& tmpl)
{
    const size_t count = tmpl.controls.size();
    std::vector<AccessibleName> names(count);

    // Which label names each control without text of its own: the label before it, or, after
    // a run of several labels (the row headings of a grid), the one on its row.
    std::vector<int> run;
    bool afterLabel = false;
    for (size_t i = 0; i < count; ++i) {
        const ControlTemplate& ctl = tmpl.controls[i];
        if (ctl.kind == ControlKind::Label) {
            if (!afterLabel)
                run.clear();
            run.push_back(static_cast<int>(i));
            afterLabel = true;
            continue;
        }
        afterLabel = false;
        if (SpeaksOwnText(ctl.kind))
            continue;
        if (run.empty())
            names[i].name = Joined(FromLabel(tmpl.caption), KindWord(ctl.kind));
        else
            names[i].label = LabelFor(tmpl, run, ctl);
    }

    // Each label's words go to its controls: several on its own row are the cells of a grid
    // row, numbered from the left; one on its row, or else the first below it, takes the words
    // alone; any further one adds its kind.
    for (size_t l = 0; l < count; ++l) {
        const ControlTemplate& label = tmpl.controls[l];
        std::vector<size_t> onRow, elsewhere;
        for (size_t i = 0; i < count; ++i)
            if (names[i].label == static_cast<int>(l))
                (SharesRow(label, tmpl.controls[i]) ? onRow : elsewhere).push_back(i);
        const std::u16string heading = FromLabel(label.text);
        bool plainTaken = false;
        if (onRow.size() > 1) {
            for (size_t n = 0; n < onRow.size(); ++n)
                names[onRow[n]].name = Joined(Joined(heading, tmpl.cellWord), Number(static_cast<int>(n) + 1));
        } else if (onRow.size() == 1) {
            names[onRow.front()].name = heading;
            plainTaken = true;
        }
        for (size_t i : elsewhere) {
            names[i].name = plainTaken ? Joined(heading, KindWord(tmpl.controls[i].kind)) : heading;
            plainTaken = true;
        }
    }

    // Whatever the layout, no two controls of one template share a name. Labels are left
    // out: a label and the control it names say the same words.
    std::set<std::u16string> taken;
    for (size_t i = 0; i < names.size(); ++i) {
        const ControlTemplate& ctl = tmpl.controls[i];
        if (ctl.kind == ControlKind::Label)
            continue;
        std::u16string& name = names[i].name;
        const std::u16string spoken = name.empty() ? FromLabel(ctl.text) : name;
        if (spoken.empty())
            continue;
        std::u16string unique = spoken;
        for (int n = 2; taken.count(unique) != 0; ++n)
            unique = Joined(spoken, Number(n));
        if (unique != spoken)
            name = unique;
        taken.insert(unique);
    }
    return names;
}

} // namespace fw
