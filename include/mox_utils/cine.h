// Cine memory: locks, aligned memory blocks, cine blocks and data blocks.
#pragma once
#include "mox_utils/cine/BlockSetup.h"
#include "mox_utils/cine/CineBlock.h"
#include "mox_utils/cine/CriticalSection.h"
#include "mox_utils/cine/DataBlock.h"
#include "mox_utils/cine/MemoryBlock.h"
