#pragma once
// The Qt form of a loaded icon. Private to the framework.

#include "framework/Icon.h"

#include <QIcon>

namespace fw {

struct Icon::Impl {
    QIcon icon;
};

} // namespace fw
