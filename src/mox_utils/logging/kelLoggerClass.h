// The logger's static interface.
#pragma once

#include "mox_utils/export.h"
#include "mox_utils/logging/kelLogger.h"

class MOX_API kelLoggerClass {
 public:
  // The name of a log type ("LOG_FATAL" ... "LOG_ACTION"). The names are
  // registered by every initialize(); before the first one, and for any value
  // outside 0..8, the result is the empty text, never null.
  static const wchar_t* getTypeName(kelLogger::LogType type);

  // Enters the type names into the process-wide table (what initialize does
  // before it creates the logger object).
  static void registerTypeNames();
};
