#include "ui/nSheet.h"

FW_IMPLEMENT_DYNAMIC(nSheet, fw::PropertySheet)

nSheet::nSheet(std::u16string_view caption, fw::Wnd* parent, unsigned selectPage)
    : fw::PropertySheet(caption, parent, selectPage)
{
    // Tabs appear in the order of adding; page 0, shown first, is the Status page.
    AddPage(Status);
    AddPage(Configuration);
    AddPage(Encryption);
    AddPage(About);
}

nSheet::~nSheet() = default;
