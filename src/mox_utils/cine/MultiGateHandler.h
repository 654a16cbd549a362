// A process-wide hook through which producers of image data hand it to one
// registered consumer without knowing it.
#pragma once

#include "mox_utils/export.h"

// The consumer derives from MultiGateHandler and implements OnUpdateImage.
// Constructing a derived object registers it (replacing any earlier one);
// destroying any derived object clears the registration, whether or not it
// was the registered one. A copy-constructed object never registers.
//
// No locking: UpdateImage reads the registration once and calls the handler
// on the caller's thread, so the registered object must outlive every call
// that may be running, and registration must not change while a producer
// calls UpdateImage.
class MOX_API MultiGateHandler {
 public:
  MultiGateHandler(const MultiGateHandler& other);
  // Changes nothing (the registration stays as it is).
  MultiGateHandler& operator=(const MultiGateHandler& other);

  // Receives the arguments of UpdateImage unchanged. What the data and the
  // two integers mean is agreed between producer and consumer.
  virtual void OnUpdateImage(const unsigned char* data, int a, int b) = 0;

  // Forwards to the registered handler, or does nothing without one.
  static void UpdateImage(const unsigned char* data, int a, int b);

 protected:
  MultiGateHandler();
  virtual ~MultiGateHandler();

  // The registered handler, or null.
  static MultiGateHandler* m_handler;
};
