// Serial devices: the circular byte buffer.
#pragma once
#include "mox_utils/serial/CCircularBuffer.h"
