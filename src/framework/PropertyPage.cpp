#include "framework/PropertyPage.h"

namespace fw {

FW_IMPLEMENT_DYNAMIC(PropertyPage, Dialog)

PropertyPage::PropertyPage(const DialogTemplate& tmpl) : Dialog(tmpl) {}

PropertyPage::~PropertyPage() = default;

} // namespace fw
