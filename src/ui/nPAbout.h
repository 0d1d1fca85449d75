#pragma once
// The About page: the product line and the version, two labels of its template. It binds no
// controls and handles nothing.

#include "framework/PropertyPage.h"

class nPAbout : public fw::PropertyPage {
    FW_DECLARE_DYNCREATE(nPAbout)

public:
    nPAbout();
    ~nPAbout() override;

protected:
    void DoDataExchange(fw::DataExchange& dx) override;
};
