#include "framework/DataExchange.h"

#include "framework/Control.h"
#include "framework/Dialog.h"
#include "framework/WndImpl.h"

namespace fw {

void DDX_Control(DataExchange& dx, int id, Control& control)
{
    control.Attach(dx.GetDialog().impl().FindControl(id), id);
}

} // namespace fw
