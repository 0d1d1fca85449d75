#pragma once
// Builds the Qt widget of one template control at its place, with the classic behaviour the
// pages rely on wired in. Private to the framework.

#include "framework/DialogTemplate.h"

class QWidget;

namespace fw {

class DialogUnits;
class Wnd;

inline constexpr const char* kSortedProperty = "fw.sorted";
// A combo box shows one line; the template's height is the extent of its drop-down list.
inline constexpr int kComboLineUnits = 12;
// Each entry of a drop-down list takes 8 dialog units of its extent.
inline constexpr int kListEntryUnits = 8;

class ControlFactory {
public:
    static QWidget* Create(const ControlTemplate& ctl, QWidget& parent, const DialogUnits& units, Wnd& owner);
};

} // namespace fw
