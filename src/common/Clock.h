#pragma once

#include <QDateTime>

// The one clock of the program. Log entries, recorded versions and proposed
// backup names take their time from here, so tests can fix it.
namespace ov::Clock {

QDateTime now();
// Makes now() return t until reset() is called.
void setFixed(const QDateTime& t);
void reset();

} // namespace ov::Clock
