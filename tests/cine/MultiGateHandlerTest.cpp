#include "mox_utils/cine/MultiGateHandler.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

using Calls = std::vector<std::tuple<const unsigned char*, int, int>>;

class Recorder : public MultiGateHandler {
 public:
  void OnUpdateImage(const unsigned char* data, int a, int b) override { calls.emplace_back(data, a, b); }
  static MultiGateHandler* registered() { return m_handler; }
  Calls calls;
};

// The last constructed handler receives the calls; copying or assigning one
// registers nothing, and destroying any handler, registered or not, clears
// the registration.
TEST(MultiGateHandlerTest, CallsReachTheLastConstructedHandlerUntilAnyIsDestroyed) {
  ASSERT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(nullptr, 1, 2);  // no handler: nothing happens
  const unsigned char frame[4] = {1, 2, 3, 4};
  auto* a = new Recorder;
  Recorder b;
  Recorder copy(*a);
  *a = b;
  MultiGateHandler::UpdateImage(frame, 640, -480);
  EXPECT_TRUE(a->calls.empty() && copy.calls.empty());
  EXPECT_EQ(b.calls, (Calls{{frame, 640, -480}}));

  delete a;
  EXPECT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(frame, 2, 2);
  EXPECT_EQ(b.calls.size(), 1u);
}

}  // namespace
