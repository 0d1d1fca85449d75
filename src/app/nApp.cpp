#include "app/nApp.h"

#include "ui/nDlg.h"

FW_IMPLEMENT_DYNAMIC(nApp, fw::WinApp)

// Every number setting starts at 0 and both strings empty: the values the program runs with
// when the registry holds nothing.
nApp theApp;

nApp::nApp() = default;

nApp::~nApp() = default;

bool nApp::InitInstance()
{
    // Neither the load nor the block is checked: start-up goes on to the dialog whatever they
    // yield (an unusable block falls back to a private one, so the pages still have memory).
    LoadSettings();
    connectMapping = platform::SharedMemory::CreateOrOpen(platform::DefaultBlockName(), sizeof(ConnectBlock));
    view_ = platform::MappedView::Map(connectMapping);
    connectView = static_cast<ConnectBlock*>(view_.Data());

    {
        nDlg dlg(nullptr);
        // The sheet, created without a parent, is owned by the main window.
        m_pMainWnd = &dlg;
        dlg.DoModal();
        // The dialog destroyed its window when the sheet ended; nothing may point at the
        // dialog once it is gone.
        m_pMainWnd = nullptr;

        // Only the mapping is released; the block's contents stay as they are for the
        // connection service. The view goes before the handle it was mapped from.
        view_.Unmap();
        connectView = nullptr;
        Released(Release::ViewUnmapped);
        connectMapping.Close();
        Released(Release::MappingClosed);
    }
    // No message loop follows: the program ends here.
    return false;
}

void nApp::Released(Release step) const
{
    if (releaseObserver)
        releaseObserver(step);
}
