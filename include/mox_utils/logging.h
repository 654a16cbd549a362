// Logging: log types, the log front end and the logger.
#pragma once
#include "mox_utils/logging/kelLogger.h"
#include "mox_utils/logging/kelLoggerClass.h"
