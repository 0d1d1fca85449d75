#pragma once
// The application object: owns the settings record and the mapping of the block for the
// whole run. Its initialisation is the whole run of the program.

#include "app/WlanSettings.h"
#include "framework/WinApp.h"
#include "link/ConnectBlock.h"
#include "platform/SharedMemory.h"

class nApp : public fw::WinApp, public WlanSettings {
    FW_DECLARE_DYNAMIC(nApp)

public:
    nApp();
    ~nApp() override;

    bool InitInstance() override;

    ConnectBlock* connectView = nullptr;
    platform::SharedMemory connectMapping;

private:
    platform::MappedView view_;
};

// The one application object, constructed during static initialisation.
extern nApp theApp;
