#include "mox_utils/cine/MultiGateHandler.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

class Recorder : public MultiGateHandler {
 public:
  void OnUpdateImage(const unsigned char* data, int a, int b) override { calls.emplace_back(data, a, b); }
  static MultiGateHandler* registered() { return m_handler; }
  std::vector<std::tuple<const unsigned char*, int, int>> calls;
};

TEST(MultiGateHandlerTest, CallsReachTheLastConstructedHandlerUntilAnyIsDestroyed) {
  ASSERT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(nullptr, 1, 2);  // no handler: nothing happens
  const unsigned char frame[4] = {1, 2, 3, 4};
  auto* a = new Recorder;
  Recorder b;
  MultiGateHandler::UpdateImage(frame, 640, -480);
  EXPECT_TRUE(a->calls.empty());
  EXPECT_EQ(b.calls, (std::vector<std::tuple<const unsigned char*, int, int>>{{frame, 640, -480}}));

  delete a;  // not the registered one, yet it clears the registration
  EXPECT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(frame, 2, 2);
  EXPECT_EQ(b.calls.size(), 1u);
}

TEST(MultiGateHandlerTest, CopiesDoNotRegisterButUnregisterOnDestruction) {
  Recorder original;
  {
    Recorder copy(original);
    EXPECT_EQ(Recorder::registered(), &original);
    Recorder assigned;
    assigned = original;  // assignment leaves the registration alone
    EXPECT_EQ(Recorder::registered(), &assigned);
  }
  EXPECT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(nullptr, 3, 3);
  EXPECT_TRUE(original.calls.empty());
}

}  // namespace
