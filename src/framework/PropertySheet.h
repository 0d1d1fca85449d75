#pragma once

#include "framework/Wnd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class PropertyPage;

// A tabbed property sheet with OK and Cancel. Its closing controls (OK, Cancel, the window's
// close) only close it; nothing is saved or posted by them. Enter in a page's edit or combo
// presses the sheet's default button (OK), never a page's own button.
class PropertySheet : public Wnd {
    FW_DECLARE_DYNAMIC(PropertySheet)

public:
    // Without a parent, the application's main window becomes the owner.
    PropertySheet(std::u16string_view caption, Wnd* parent = nullptr, unsigned selectPage = 0);
    ~PropertySheet() override;

    // Pages appear as tabs in the order of adding.
    void AddPage(PropertyPage& page);
    intptr_t DoModal();

    int GetPageCount() const;
    PropertyPage* GetPage(int index) const;
    int GetActiveIndex() const;
    bool SetActivePage(int index);
    std::u16string GetCaption() const;
    // Ends the sheet's modal run with `result`, as its closing controls do (IDOK 1, IDCANCEL 2).
    void EndDialog(intptr_t result);

    // A hook run once when any sheet is first shown (the start-up benchmark and tests use
    // it to close the sheet at once). An empty function removes it.
    static void SetShownHook(std::function<void(PropertySheet&)> hook);

private:
    QWidget* BuildWindow();
    void ActivatePage(int index);
    void CloseDown();

    std::u16string caption_;
    Wnd* parent_;
    unsigned selectPage_;
    std::vector<PropertyPage*> pages_;
};

} // namespace fw
