#include "ui/nDlg.h"

#include "ui/AppIcon.h"
#include "ui/Templates.h"
#include "ui/nSheet.h"

FW_IMPLEMENT_DYNAMIC(nDlg, fw::Dialog)

nDlg::nDlg(fw::Wnd* parent) : fw::Dialog(templates::kMainDialog, parent), appIcon(fw::Icon::Load(kAppIcon)) {}

nDlg::~nDlg() = default;

void nDlg::DoDataExchange(fw::DataExchange&) {}

bool nDlg::OnInitDialog()
{
    fw::Dialog::OnInitDialog();
    SetIcon(appIcon, fw::IconSize::Large);
    SetIcon(appIcon, fw::IconSize::Small);
    CenterWindow();

    // The sheet runs while this dialog is still initialising, before it would be shown, and
    // has no parent: the application's main window, this dialog, becomes its owner.
    nSheet sheet(u"Setup", nullptr, 0);
    sheet.DoModal();

    // Destroying the window here ends this dialog's modal run at once, so it is never
    // displayed; the sheet and its pages go when this function returns.
    DestroyWindow();
    return true;
}
