#include "mox_utils/cine/MultiGateHandler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Call {
  const unsigned char* data;
  int a;
  int b;
};

class Recorder : public MultiGateHandler {
 public:
  Recorder() = default;
  Recorder(const Recorder& other) : MultiGateHandler(other) {}
  ~Recorder() override = default;
  Recorder& operator=(const Recorder& other) {
    MultiGateHandler::operator=(other);
    return *this;
  }
  void OnUpdateImage(const unsigned char* data, int a, int b) override { calls.push_back({data, a, b}); }

  static MultiGateHandler* registered() { return m_handler; }

  std::vector<Call> calls;
};

TEST(MultiGateHandlerTest, ArgumentsReachTheRegisteredHandlerOnly) {
  ASSERT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(nullptr, 1, 2);  // no handler: nothing happens
  const unsigned char frame[4] = {1, 2, 3, 4};
  Recorder handler;
  MultiGateHandler::UpdateImage(frame, 640, -480);
  ASSERT_EQ(handler.calls.size(), 1u);
  EXPECT_EQ(handler.calls[0].data, frame);
  EXPECT_EQ(handler.calls[0].a, 640);
  EXPECT_EQ(handler.calls[0].b, -480);
}

TEST(MultiGateHandlerTest, LastConstructedWinsAndAnyDestructionUnregisters) {
  auto* a = new Recorder;
  Recorder b;
  EXPECT_EQ(Recorder::registered(), &b);
  MultiGateHandler::UpdateImage(nullptr, 1, 1);
  EXPECT_TRUE(a->calls.empty());
  EXPECT_EQ(b.calls.size(), 1u);

  delete a;  // not the registered one, yet it clears the registration
  EXPECT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(nullptr, 2, 2);
  EXPECT_EQ(b.calls.size(), 1u);
}

TEST(MultiGateHandlerTest, CopiesDoNotRegisterButUnregisterOnDestruction) {
  Recorder original;
  {
    Recorder copy(original);
    EXPECT_EQ(Recorder::registered(), &original);
    Recorder assigned;
    EXPECT_EQ(Recorder::registered(), &assigned);
    assigned = original;  // assignment leaves the registration alone
    EXPECT_EQ(Recorder::registered(), &assigned);
  }
  EXPECT_EQ(Recorder::registered(), nullptr);
  MultiGateHandler::UpdateImage(nullptr, 3, 3);
  EXPECT_TRUE(original.calls.empty());
}

}  // namespace
