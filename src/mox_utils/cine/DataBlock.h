// One region of the acquisition memory into which the hardware writes tagged
// frames of one kind of data, with the cine block that keeps their cine copy.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "mox_utils/cine/BlockSetup.h"
#include "mox_utils/cine/CineBlock.h"
#include "mox_utils/export.h"
#include "mox_utils/platform/Mutex.h"

// Every frame position of the region is a tag of GetTagSize() bytes followed
// by lineSize * numLines data bytes: F = lineSize * numLines + tag size
// (unsigned 32-bit). The region holds M = (actual end - begin) / F positions.
// The block touches only the first 32-bit word of a tag. The acquisition
// memory and the cine memory belong to the caller and must outlive the block.
//
// Copies: a copy shares the original's mutex and cine block (copy
// construction and assignment share, never duplicate). Both are released
// when the last block sharing them goes away, so the mutex is closed once
// and the cine block deleted once. CreateCineBlock on one copy replaces the
// cine block for that copy only; the others keep the former block alive.
//
// Thread-safety: no operation locks by itself. The threads that use one
// region take Lock()/Unlock() around their sequences of calls; the cine
// block has its own lock. The tag size is one static shared by all blocks.
class MOX_API DataBlock {
 public:
  DataBlock();
  DataBlock(const DataBlock& other);
  DataBlock& operator=(const DataBlock& other);
  virtual ~DataBlock();

  // Places the block on a region; the actual end becomes `end`. The read
  // buffer and the geometry stay.
  void Init(int size, int offset, unsigned char* begin, unsigned char* end);
  // Replaces this block's cine block with one on `size` bytes of caller
  // memory; the pointer is null when it cannot be created.
  void CreateCineBlock(unsigned char* memory, unsigned int size);
  CineBlock* GetCineBlock() const { return m_cineBlock.get(); }

  // A default setup record: block = this, maxFrames = 0xFFFFFFFF, all else 0.
  BlockSetup<DataBlock> SetupFrames();
  // Takes numLines, lineSize, framePeriod, periodInfo1, periodInfo2, group.
  void SetupFrames(const BlockSetup<DataBlock>& setup);

  static void SetTagSize(unsigned int size) { m_tagSize = size; }
  static unsigned int GetTagSize() { return m_tagSize; }
  unsigned int GetFrameSize() const { return m_lineSize * m_numLines + m_tagSize; }

  // Uses frames * frameSize bytes from begin; false, changing nothing, when
  // that is negative or longer than the region.
  bool SetEOB(int frames, int frameSize);
  // Uses the region rounded down to whole frame positions.
  void SetEOB();
  int GetMaxFrames() const { return GetNumFitFrames(); }
  // M; 0 without a region or with F = 0.
  int GetNumFitFrames() const;
  bool IsValid() const { return m_begin != nullptr && GetNumFitFrames() != 0; }

  unsigned int GetNumLines() const { return m_numLines; }
  unsigned int GetLineSize() const { return m_lineSize; }
  unsigned int GetGroup() const { return m_group; }
  void SetGroup(unsigned int group) { m_group = group; }
  int GetOffset() const { return m_offset; }
  int GetSize() const { return m_size; }
  unsigned char* GetBegin() const { return m_begin; }
  unsigned char* GetEnd() const { return m_end; }
  unsigned char* GetActualEnd() const { return m_actualEnd; }
  int GetMLA() const { return m_mla; }
  void SetMLA(int mla) { m_mla = mla; }
  float GetCinePercentage() const { return m_cinePercentage; }
  void SetCinePercentage(float percentage) { m_cinePercentage = percentage; }
  unsigned char* GetReadBuffer() const { return m_readBuffer; }
  void SetReadBuffer(unsigned char* position) { m_readBuffer = position; }
  // The read buffer's address, for Increment and Decrement.
  unsigned char** GetReadBufferPtr() { return &m_readBuffer; }
  std::uint64_t GetFramePeriod() const { return m_framePeriod; }

  // Move *position by `count` frame positions. Within the used region the
  // move is exact; beyond it Increment goes to begin (wrap) or the last
  // position, Decrement to the last position (wrap) or begin. Return the
  // frames moved: fewer than count when clamped, negative after a wrap.
  // Without a whole frame position (M = 0) nothing moves and 0 is returned.
  int Increment(const unsigned char** position, int count, bool wrap) const;
  int Increment(unsigned char** position, int count, bool wrap) const {
    return Increment(const_cast<const unsigned char**>(position), count, wrap);
  }
  int Decrement(const unsigned char** position, int count, bool wrap) const;
  int Decrement(unsigned char** position, int count, bool wrap) const {
    return Decrement(const_cast<const unsigned char**>(position), count, wrap);
  }

  // Frames written so far, for a writer that numbers frames upward from 0 in
  // the low 16 bits of each tag after every Erase: 0 while the read buffer is
  // null or before begin, M once the first tag is non-zero, else
  // (read buffer - begin) / F.
  int GetFrameCount() const;
  // Zeroes the first tag word of every frame position up to the region's
  // end (steps of F rounded down to 4 bytes, at least 4), then Clear().
  void Erase();
  void Clear() { m_readBuffer = nullptr; }

  // Waits without time-out for the block's mutex / releases it. Re-entrant.
  void Lock();
  void Unlock();

  // Lays out the cine blocks of all data blocks, group by group, so that the
  // cine blocks of a group span the same time: a block whose region holds
  // ratio times the frames of the group's smallest gets ratio * unit slots
  // and (without a frame period of its own) basePeriod / ratio. The unit is
  // the largest count that every cine block of the group can hold in its
  // proportion. A cine block too small for even one proportional share
  // (size < ratio * (lineSize * numLines + 4)) makes the unit 0: its group
  // is reported as failed and none of its cine blocks is laid out. Null
  // entries are passed over. True when every group from 0 to the highest
  // has a unit above 2; failing groups do not stop the others.
  static bool SetupCineBlocks(const std::vector<DataBlock*>& blocks, std::uint64_t basePeriod, int cineParam);

 private:
  // Fit as SetupCineBlocks reads it: unsigned count, compared as signed.
  int Fit() const { return static_cast<int>(FitUnsigned()); }
  unsigned int FitUnsigned() const;

  static unsigned int m_tagSize;

  mox::platform::MutexHandle m_mutex;
  int m_mla = 1;
  unsigned int m_numLines = 0;
  unsigned int m_lineSize = 0;
  std::uint64_t m_framePeriod = 0;
  unsigned int m_periodInfo1 = 0;
  unsigned int m_periodInfo2 = 0;
  unsigned int m_group = 0;
  int m_size = 0;
  int m_offset = 0;
  unsigned char* m_begin = nullptr;
  unsigned char* m_end = nullptr;
  unsigned char* m_actualEnd = nullptr;
  unsigned char* m_readBuffer = nullptr;
  std::shared_ptr<CineBlock> m_cineBlock;
  float m_cinePercentage = 0.0f;
};
