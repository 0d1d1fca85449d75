#include "framework/ProgressBar.h"

#include <QProgressBar>
#include <QVariant>

#include <algorithm>

namespace fw {

namespace {

// The position as the program last set it lives on the widget, so every wrapper of the same
// bar answers the same.
constexpr const char* kRawPosProperty = "fw.pos";

void ShowClamped(QProgressBar& bar, int pos)
{
    // QProgressBar ignores a value outside its range; a classic bar shows it at the end.
    bar.setValue(std::clamp(pos, bar.minimum(), bar.maximum()));
}

} // namespace

void ProgressBar::SetRange(int lower, int upper)
{
    auto* bar = qobject_cast<QProgressBar*>(widget_);
    if (!bar)
        return;
    bar->setRange(lower, std::max(lower, upper));
    ShowClamped(*bar, GetPos());
}

void ProgressBar::SetPos(int pos)
{
    auto* bar = qobject_cast<QProgressBar*>(widget_);
    if (!bar)
        return;
    bar->setProperty(kRawPosProperty, pos);
    ShowClamped(*bar, pos);
}

int ProgressBar::GetPos() const
{
    auto* bar = qobject_cast<QProgressBar*>(widget_);
    if (!bar)
        return 0;
    const QVariant raw = bar->property(kRawPosProperty);
    return raw.isValid() ? raw.toInt() : bar->value();
}

int ProgressBar::GetRangeLower() const
{
    auto* bar = qobject_cast<QProgressBar*>(widget_);
    return bar ? bar->minimum() : 0;
}

int ProgressBar::GetRangeUpper() const
{
    auto* bar = qobject_cast<QProgressBar*>(widget_);
    return bar ? bar->maximum() : 0;
}

} // namespace fw
