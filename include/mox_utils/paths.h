// Paths and diagnostics: store paths, state dumps and crash dumps.
#pragma once
#include "mox_utils/paths/KelStateDumper.h"
#include "mox_utils/paths/MemoryDumper.h"
#include "mox_utils/paths/kelPath.h"
