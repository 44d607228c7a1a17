#pragma once

// The five connection values live with the data-access layer, which opens
// the connections they describe.
#include "data/ConnectionSettings.h"
