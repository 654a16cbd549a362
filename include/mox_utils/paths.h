// Store paths: the product's storage locations from "pathconfig.xml".
#pragma once
#include "mox_utils/paths/kelPath.h"
