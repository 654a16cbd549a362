// A fixed-capacity ring of bytes: a producer writes, a consumer peeks with
// Read and then drops what it used with Consume.
#pragma once

#include "mox_utils/export.h"

// A ring of `size` bytes holds at most size - 1 valid bytes (equal indexes
// mean empty). A write that does not fit drops the oldest bytes, so the ring
// then holds the newest size - 1. A ring whose buffer could not be allocated
// has size 0 and refuses every transfer.
//
// Copies get a buffer of their own with the same contents; each buffer is
// owned by one object and freed once. No locking: a buffer shared between a
// producing and a consuming thread is guarded by its owner.
class MOX_API CCircularBuffer {
 public:
  CCircularBuffer(unsigned int size = 2048);
  CCircularBuffer(const CCircularBuffer& other);
  // Makes this ring an independent copy of `other` (size, indexes and
  // contents). If the new buffer cannot be allocated, this ring is left as
  // it was.
  CCircularBuffer& operator=(const CCircularBuffer& other);
  virtual ~CCircularBuffer();

  // Appends `count` bytes. False, changing nothing, when there is no buffer,
  // `count` >= the size, or `data` is null with a non-zero count. On
  // overflow the oldest bytes are dropped.
  bool Write(const unsigned char* data, unsigned int count);
  // Copies the oldest `count` valid bytes to `data` without consuming them.
  // False, copying nothing, when there is no buffer, `count` >= the size,
  // `count` exceeds the valid bytes, or `data` is null with a non-zero count.
  bool Read(unsigned char* data, unsigned int count) const;
  // Drops the oldest `count` valid bytes. False, changing nothing, when the
  // size is 0, `count` >= the size or `count` exceeds the valid bytes.
  bool Consume(unsigned int count);
  unsigned int GetNumValidBytes() const;
  // Moves every valid byte of `source` here (read, write, consume; stops at
  // the first step that fails). True when `source` was empty or the move
  // succeeded; when the write here fails, `source` keeps its bytes.
  bool ConsumeValid(CCircularBuffer& source);

 private:
  unsigned int m_size;
  unsigned int m_writeIndex;  // where the next byte goes
  unsigned int m_readIndex;   // the oldest valid byte
  unsigned char* m_buffer;    // m_size bytes, owned; null when m_size is 0
};
