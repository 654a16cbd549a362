// The frame layout record shared by cine blocks and data blocks.
#pragma once

#include <cstdint>

// A plain record that a block hands out from SetupFrames(), the caller fills
// and passes back to SetupFrames(setup). A cine block reads every field except
// `group`; a data block ignores `cineParam` and `maxFrames`.
template <typename T>
struct BlockSetup {
  T* block = nullptr;  // the block that produced the record
  unsigned int numLines = 0;
  unsigned int lineSize = 0;
  std::uint64_t framePeriod = 0;  // in the caller's unit; stored, never computed with
  unsigned int periodInfo1 = 0;
  unsigned int periodInfo2 = 0;
  int cineParam = 0;
  unsigned int maxFrames = 0xFFFFFFFFu;  // cap on the slot count; the default means no cap
  unsigned int group = 0;                // data blocks only

  BlockSetup() = default;
  explicit BlockSetup(T* owner) : block(owner) {}
};
