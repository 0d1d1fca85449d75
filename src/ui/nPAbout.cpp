#include "ui/nPAbout.h"

#include "ui/Templates.h"

FW_IMPLEMENT_DYNCREATE(nPAbout, fw::PropertyPage)

nPAbout::nPAbout() : fw::PropertyPage(templates::kAboutPage) {}

nPAbout::~nPAbout() = default;

void nPAbout::DoDataExchange(fw::DataExchange&) {}
