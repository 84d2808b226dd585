#pragma once

// The headless dump and its JSON document are part of the core.
#include "snapshot/device_dump.h"
