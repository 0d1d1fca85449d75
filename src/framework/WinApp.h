#pragma once

#include "framework/Object.h"

namespace fw {

class Wnd;

// The application base. Exactly one object of a derived class is constructed during static
// initialisation and registers itself; the framework's main routine builds the Qt
// application, calls InitInstance, and ends the program when it returns false.
class WinApp : public Object {
    FW_DECLARE_DYNAMIC(WinApp)

public:
    WinApp();
    ~WinApp() override;

    virtual bool InitInstance();

    // The application's main window: the owner of windows created without a parent.
    Wnd* m_pMainWnd = nullptr;

    static WinApp* Instance();
};

// The framework's main routine; main() in its own file calls it.
int AppMain(int argc, char** argv);

} // namespace fw
