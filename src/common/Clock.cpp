#include "common/Clock.h"

namespace ov::Clock {

namespace {
QDateTime g_fixed;
}

QDateTime now()
{
    return g_fixed.isValid() ? g_fixed : QDateTime::currentDateTime();
}

void setFixed(const QDateTime& t)
{
    g_fixed = t;
}

void reset()
{
    g_fixed = QDateTime();
}

} // namespace ov::Clock
