// Variable and preset metadata: the string enumeration helper, enumerations
// and the descriptions of variables, ranges and presets.
#pragma once
#include "mox_utils/metadata/MetadataEnums.h"
#include "mox_utils/metadata/RangeInfo.h"
#include "mox_utils/metadata/SetupInfo.h"
#include "mox_utils/metadata/StringEnumHelper.h"
#include "mox_utils/metadata/VarInfo.h"
#include "mox_utils/metadata/VariableUtility.h"
