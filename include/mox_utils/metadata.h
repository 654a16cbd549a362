// Variable and preset metadata: the string enumeration helper, enumerations
// and the descriptions of variables, ranges and presets.
#pragma once
#include "mox_utils/metadata/StringEnumHelper.h"
