// The pixel size of the monitor that shows the application (GetForegroundWindow,
// MonitorFromWindow, GetMonitorInfoW). Linux has no foreground window to ask,
// so the size is, in this order: what the application set; the preferred mode
// of the first connected display under /sys/class/drm (connectors in name
// order); 0 x 0.
#pragma once

#include <string>

#include "mox_utils/export.h"

namespace mox::platform {

struct MonitorSize {
  int width = 0;
  int height = 0;
};

// Thread-safe. Re-reads /sys on every call when no size is set.
MOX_API MonitorSize monitorSize();
// Fixes the size that monitorSize() reports (the application knows its
// display); clearMonitorSize() returns to the lookup.
MOX_API void setMonitorSize(int width, int height);
MOX_API void clearMonitorSize();
// The lookup below a given DRM class directory (for tests); 0 x 0 when no
// connector there is connected with a readable mode.
MOX_API MonitorSize drmMonitorSize(const std::string& drmDirectory);

}  // namespace mox::platform
