#include "common/clsMouseCtrl.h"

#include "common/UiPort.h"

clsMouseCtrl::clsMouseCtrl()
{
    ov::ui().setBusyPointer(true);
}

clsMouseCtrl::~clsMouseCtrl()
{
    ov::ui().setBusyPointer(false);
}
