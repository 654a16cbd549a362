// The probe catalogue: transducer definitions and their enumeration.
#pragma once
#include "mox_utils/probes/KelProbe.h"
#include "mox_utils/probes/KelProbeFactory.h"
