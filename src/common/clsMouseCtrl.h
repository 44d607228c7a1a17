#pragma once

// Shows the busy mouse pointer for as long as an instance lives. Callers hold
// one in a local variable for the whole of an operation, so the pointer comes
// back on every way out. Instances do not nest: the first one released brings
// back the normal pointer even while an outer one still lives.
class clsMouseCtrl
{
public:
    clsMouseCtrl();
    ~clsMouseCtrl();
    clsMouseCtrl(const clsMouseCtrl&) = delete;
    clsMouseCtrl& operator=(const clsMouseCtrl&) = delete;
};
