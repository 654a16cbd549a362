#include "mox_utils/cine/MultiGateHandler.h"

// Constant-initialised, so it is null before any static constructor runs.
MultiGateHandler* MultiGateHandler::m_handler = nullptr;

MultiGateHandler::MultiGateHandler() { m_handler = this; }

MultiGateHandler::MultiGateHandler(const MultiGateHandler&) {}

MultiGateHandler& MultiGateHandler::operator=(const MultiGateHandler&) { return *this; }

MultiGateHandler::~MultiGateHandler() { m_handler = nullptr; }

void MultiGateHandler::UpdateImage(const unsigned char* data, int a, int b) {
  MultiGateHandler* handler = m_handler;
  if (handler != nullptr) handler->OnUpdateImage(data, a, b);
}
