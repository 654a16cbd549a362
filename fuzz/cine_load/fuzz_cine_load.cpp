// Cine file reading: any bytes give a correct block or null, and a block
// that loads can be reviewed, copied and written to without leaving its
// memory.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mox_utils/cine.h"

namespace {

// Large enough for every interesting header, small enough that a fuzzer's
// memory limit never trips on a block that a hostile header asks for.
constexpr std::uint64_t kMaxBlockBytes = 1u << 20;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::uint32_t u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<CineBlock> block(CineBlock::Load(data, size, kMaxBlockBytes));
  if (!block) return 0;
  check(size >= 12);
  const std::uint32_t count = u32(data + 8);
  const std::uint64_t frameBytes = std::uint64_t{u32(data)} * u32(data + 4);
  check(block->GetMaxFrames() == count);
  check(block->GetSize() == (frameBytes + 4) * (std::uint64_t{count} + 1));

  // Every frame wholly in the input is there with its record; every other
  // one is empty.
  const std::uint64_t framesAt = 12 + std::uint64_t{count} * 4;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CineBlock::Frame frame = block->GetFrame(i);
    check(frame.GetData() != nullptr);
    const std::uint64_t at = framesAt + i * frameBytes;
    if (at + frameBytes <= size) {
      const auto id = static_cast<short>(data[12 + 4 * i] | data[13 + 4 * i] << 8);
      check(frame.GetID() == id);
      check(std::memcmp(frame.GetData(), data + at, frameBytes) == 0);
    } else {
      check(frame.GetID() == -1);
    }
  }
  check(!block->GetFrame(count).IsValid());

  // Review: the cursor never leaves the ring.
  const int stepped = block->Increment(static_cast<int>(count) + 2);
  check(stepped >= 0 && static_cast<std::uint32_t>(block->GetIndex()) <= count);
  block->Decrement(static_cast<int>(count) + 2);
  check(block->GetFrameCount() >= 0 && static_cast<std::uint32_t>(block->GetFrameCount()) <= count);

  // A copy of the middle of the run, then frames written on top (both ways).
  CineBlock part(static_cast<unsigned int>((frameBytes + 4) * 3));
  if (part.SetupFrames(block.get(), count / 2, count - 1)) {
    check(part.GetMaxFrames() <= 2);
  }
  std::vector<unsigned char> frame(static_cast<std::size_t>(frameBytes), 0x5A);
  for (int i = 0; i < 3; ++i) {
    check(block->WriteFrame(frame.data(), static_cast<unsigned int>(frameBytes), static_cast<short>(i), 0,
                            i % 2 == 1) != nullptr);
  }
  return 0;
}
