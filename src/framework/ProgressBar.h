#pragma once

#include "framework/Control.h"

namespace fw {

// A progress bar. A position outside the range is shown clamped to the range.
class ProgressBar : public Control {
public:
    void SetRange(int lower, int upper);
    void SetPos(int pos);
    // The position as last set, unclamped.
    int GetPos() const;
    int GetRangeLower() const;
    int GetRangeUpper() const;
};

} // namespace fw
