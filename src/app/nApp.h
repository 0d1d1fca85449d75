#pragma once
// The application object: owns the settings record and the mapping of the block for the
// whole run. Its initialisation is the whole run of the program.

#include "app/WlanSettings.h"
#include "framework/WinApp.h"
#include "link/ConnectBlock.h"
#include "link/ConnectChannel.h"
#include "platform/SharedMemory.h"

#include <functional>

class nApp : public fw::WinApp, public WlanSettings {
    FW_DECLARE_DYNAMIC(nApp)

public:
    nApp();
    ~nApp() override;

    bool InitInstance() override;

    ConnectBlock* connectView = nullptr;
    platform::SharedMemory connectMapping;
    // Shared by every page's channel: a command one page posts guards another's request.
    AnswerGuard connectGuard;

    // The block's channel, as every page reaches it.
    ConnectChannel Channel() { return ConnectChannel(connectView, &connectGuard); }

    // The two release steps of the block at the end of the run, in the order they must
    // happen: the view before the handle it was mapped from.
    enum class Release { ViewUnmapped, MappingClosed };
    // For tests: told of each release step just after it has happened. Empty by default.
    std::function<void(Release)> releaseObserver;

private:
    void Released(Release step) const;

    platform::MappedView view_;
};

// The one application object, constructed during static initialisation.
extern nApp theApp;
