#pragma once

#include "framework/Control.h"

namespace fw {

// A static label.
class Static : public Control {};

} // namespace fw
