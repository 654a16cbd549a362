// Settings and text utilities: the per-user settings store and small text and
// numeric helpers.
#pragma once
#include "mox_utils/settings/mox_utils.h"
