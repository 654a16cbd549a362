// A heap block whose usable start is aligned to 16 bytes and whose contents
// are filled with a chosen byte whenever it is (re)allocated.
#pragma once

#include <cstddef>

#include "mox_utils/export.h"

// Either empty (size 0, null pointers) or holding one realloc'd allocation of
// size + 16 bytes whose data pointer is (allocation + 16) rounded down to 16.
// No locking: an owner that shares a block between threads guards it.
class MOX_API MemoryBlock {
 public:
  MemoryBlock();
  // Allocates other's size and copies its bytes; an empty or failed copy is
  // empty (and logs as Alloc does).
  MemoryBlock(const MemoryBlock& other);
  const MemoryBlock& operator=(const MemoryBlock& other);
  virtual ~MemoryBlock();

  // (Re)allocates to `size` bytes filled with the low byte of `fill` and
  // returns the aligned data pointer. A size below 1 frees the block, logs a
  // warning and returns null; a failed allocation frees the block, logs an
  // error and returns null. Former contents never survive.
  void* Alloc(int size, int fill);
  void Free();
  // Fills every usable byte with the low byte of `value`; false when empty.
  bool Clear(int value);

  int GetSize() const { return m_size; }
  unsigned char* Ptr() const { return m_data; }

 protected:
  void Initialize();
  static const int m_byteAlignment = 16;

 private:
  int m_size;
  unsigned char* m_data;
  void* m_allocation;
};

namespace mox::detail {

// The heap functions behind every MemoryBlock: `reallocate` has the contract
// of realloc (null on failure, the old allocation then left in place) and
// `release` that of free. The default is the C heap. Tests install their own
// to fail an allocation or to move the data pointer within its 16 bytes of
// slack. Not synchronised: install while no block is allocated or freed, and
// restore the previous pair before any block allocated through it is freed
// elsewhere.
struct MemoryBlockAllocator {
  void* (*reallocate)(void* allocation, std::size_t size);
  void (*release)(void* allocation);
};

// Installs `allocator` (null members restore the C heap's) and returns the
// pair that was installed before.
MOX_API MemoryBlockAllocator setMemoryBlockAllocator(MemoryBlockAllocator allocator);

}  // namespace mox::detail
