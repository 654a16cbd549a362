// The cine memory of one kind of ultrasound data: a ring of equally sized
// frames with a small information record (ID and extra value) per frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mox_utils/cine/BlockSetup.h"
#include "mox_utils/cine/CriticalSection.h"
#include "mox_utils/export.h"

class MemoryBlock;

// Memory layout (start S, N slots, frame size F = lineSize * numLines): frame
// data of slot i at S + i * F, then N four-byte records (ID, extra; 16 bits
// each) from S + N * F. A record with a negative ID marks its slot empty.
//
// The ring keeps one slot empty: N slots hold at most N - 1 frames, and the
// empty slot after the newest frame is how readers find the end. Positions
// handed to and returned by the cursor and reading operations are logical
// indices: 0 is the oldest slot, index k is slot (oldest + k) mod N; an index
// >= N is out of range and reads as no frame (null data, ID -1, extra 0).
//
// Thread-safety: none of its own. The acquisition thread and the review
// threads each hold GetCriticalSection() (through a CriticalSectionLock)
// around every call or sequence of calls that must see a consistent ring.
// The section is recursive for its owner.
class MOX_API CineBlock {
 public:
  // A frame as stored in the ring: the data points into the block and stays
  // valid until the slot is written again or the layout changes.
  class MOX_API Frame {
   public:
    Frame() = default;
    Frame(const unsigned char* data, short id, short extra) : m_data(data), m_id(id), m_extra(extra) {}

    const unsigned char* GetData() const { return m_data; }
    short GetID() const { return m_id; }
    short GetExtra() const { return m_extra; }
    // Data present and ID >= 0.
    bool IsValid() const { return m_data != nullptr && m_id >= 0; }

   private:
    const unsigned char* m_data = nullptr;
    short m_id = -1;
    short m_extra = 0;
  };

  // The largest block Load creates: the memory block's size is a signed
  // 32-bit number.
  static constexpr std::uint64_t kMaxLoadBytes = 0x7FFFFFFF;

  // Works on `size` bytes of caller-owned memory, which must outlive the
  // block; the block never frees it. Unconfigured until SetupFrames.
  CineBlock(unsigned char* memory, unsigned int size);
  // Allocates and zeroes its own `size` bytes (aligned to 16). A size of 0,
  // above 0x7FFFFFFF or a failed allocation leaves the block without memory
  // (the memory block logs why); it then stays unconfigured.
  explicit CineBlock(unsigned int size);
  virtual ~CineBlock();
  CineBlock(const CineBlock&) = delete;
  CineBlock& operator=(const CineBlock&) = delete;

  static unsigned int GetInfoSize() { return 4; }

  // A default setup record: block = this, maxFrames = 0xFFFFFFFF, all else 0.
  BlockSetup<CineBlock> SetupFrames();
  // Applies a frame layout: N = size / (F + 4), capped at setup.maxFrames;
  // F = 0 or no memory gives N = 0. Applying the layout the block already
  // has keeps its frames and cursor; any other layout empties the ring.
  void SetupFrames(const BlockSetup<CineBlock>& setup);
  // Makes this block a review copy of the frames first ... last (logical
  // indices) of `source`, in slots 0 ... k - 1 with cursor, oldest and write
  // slot 0 and slot k empty; k is the range's length, cut to what fits. False,
  // changing nothing, when this block has no memory, `source` is null or this
  // block, first > last, or either index is not below source's N; false after
  // taking over the geometry when F = 0 or not one slot fits.
  bool SetupFrames(const CineBlock* source, unsigned int first, unsigned int last);
  // Marks every slot empty and puts cursor, oldest and write slot at 0. Frame
  // data and extra values stay in memory.
  void Erase();

  // Stores one frame at the write slot with its ID and extra value and drops
  // the oldest frame when the ring is full (the cursor keeps pointing at the
  // same frame; at 0 it moves to the new oldest one). With `mla` the input
  // holds line pairs received together, sample by sample, 16 bits a sample:
  // words alternate between the lines of each pair. A line without partner
  // (odd numLines) and the last byte of an odd lineSize keep their former
  // bytes; numLines < 2 writes the record only. Returns the stored frame's
  // address in the ring, or null, changing nothing, when `data` is null,
  // `size` differs from F or the block is unconfigured.
  const unsigned char* WriteFrame(const unsigned char* data, unsigned int size, short id, short extra, bool mla);

  // Move the cursor by up to `count` frames and return the steps taken.
  // Increment steps off valid frames only, so it stops on the empty slot
  // after the newest frame; Decrement steps onto valid frames only, so it
  // stops at the oldest. 0 when count < 1 or the block is unconfigured.
  int Increment(int count);
  int Decrement(int count);
  // Sets the cursor when 0 <= index < N (the frame need not be valid).
  bool SetFrame(int index);
  int GetIndex() const { return static_cast<int>(m_cursor); }

  Frame GetFrame(unsigned int index);
  Frame GetCurrentFrame() { return GetFrame(m_cursor); }
  // The slot's data address for index < N, valid or not; null otherwise.
  const unsigned char* GetData(unsigned int index) const;
  const unsigned char* GetCurrentData() const { return GetData(m_cursor); }

  // N - 1 for a configured block, else 0.
  unsigned int GetMaxFrames() const;
  // The stored frames, assuming the writer numbers frames upward from 0 after
  // every Erase or layout change: N - 1 when the oldest frame's ID is above
  // 0 (the ring has wrapped), else the valid frames from the oldest on.
  int GetFrameCount() const;
  // Valid frames from the cursor on, up to the first empty slot.
  int GetNumValidFrames() const { return GetNumValidFrames(m_cursor); }

  unsigned char* GetStartAddr() const { return m_start; }
  unsigned int GetLineSize() const { return m_lineSize; }
  unsigned int GetNumLines() const { return m_numLines; }
  unsigned int GetDataSize() const { return m_lineSize * m_numLines; }
  std::uint64_t GetFramePeriod() const { return m_framePeriod; }
  int GetCineParam() const { return m_cineParam; }
  unsigned int GetPeriodInfo1() const { return m_periodInfo1; }
  unsigned int GetPeriodInfo2() const { return m_periodInfo2; }
  unsigned int GetSize() const { return m_size; }
  CriticalSection& GetCriticalSection() const { return m_lock; }

  // Writes the stored frames, oldest first, to a cine file: lineSize,
  // numLines and the count K (32-bit little-endian each), K records (ID,
  // extra; 16-bit little-endian), then K frames of F bytes. The file is
  // written under a temporary name and renamed into place, so a failure
  // leaves no partial file and an existing file untouched. Nothing is
  // written when the block has no memory or the file cannot be created.
  void Save(const wchar_t* path) const;
  // Reads a cine file into a new block that owns (4 + F) * (K + 1) bytes of
  // memory, holds the K frames in slots 0 ... K - 1 with slot K empty, and
  // belongs to the caller. Null when the path is not a readable regular
  // file, the header is incomplete, F or K is 0, the block would exceed
  // kMaxLoadBytes, or its memory cannot be allocated. A file shorter than its
  // header promises still loads: every frame not wholly in the file reads as
  // zero bytes and its record is empty.
  static CineBlock* Load(const wchar_t* path);
  // The same from a file image in memory, refusing blocks above
  // maxBlockBytes (at most kMaxLoadBytes).
  static CineBlock* Load(const unsigned char* data, std::size_t size, std::uint64_t maxBlockBytes = kMaxLoadBytes);

 private:
  class Source;
  class FileSource;
  class MemorySource;
  static CineBlock* LoadFrom(Source& source, std::uint64_t maxBlockBytes);

  Frame GetDataFrame(unsigned int index) const;
  unsigned char* GetDataInternal(unsigned int index) const;
  short GetID(unsigned int index) const;
  short GetExtra(unsigned int index) const;
  unsigned char* GetEndAddress() const { return m_start + m_size; }
  void SetFrameCount(unsigned int n);
  void Reset();
  void WriteMLA(const unsigned char* data);
  int GetNumValidFrames(unsigned int start) const;

  // Records by slot number (not logical index); unaligned-safe.
  unsigned int SlotOf(unsigned int index) const { return (m_oldest + index) % m_numFrames; }
  short SlotID(unsigned int slot) const;
  short SlotExtra(unsigned int slot) const;
  void SetSlotRecord(unsigned int slot, short id, short extra);
  void MarkSlotEmpty(unsigned int slot);
  std::uint64_t FrameBytes() const { return std::uint64_t{m_lineSize} * m_numLines; }

  MemoryBlock* m_ownedMemory = nullptr;
  unsigned int m_size = 0;
  unsigned char* m_start = nullptr;
  unsigned int m_lineSize = 0;
  unsigned int m_numLines = 0;
  std::uint64_t m_framePeriod = 0;
  int m_cineParam = 0;
  unsigned int m_periodInfo1 = 0;
  unsigned int m_periodInfo2 = 0;
  unsigned char* m_info = nullptr;  // record 0, or null without a layout
  unsigned int m_numFrames = 0;     // N
  unsigned int m_writeSlot = 0;
  unsigned int m_cursor = 0;  // logical index
  unsigned int m_oldest = 0;  // slot number
  mutable CriticalSection m_lock;
};
