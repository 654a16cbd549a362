#include "mox_utils/cine/MemoryBlock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mox_utils/logging/kelLogger.h"

namespace {
// The attribution of the block's messages, as the service logs show it.
const char kSource[] = "src\\mox_utils\\mox_mem";

void* heapReallocate(void* allocation, std::size_t size) { return std::realloc(allocation, size); }
void heapRelease(void* allocation) { std::free(allocation); }

mox::detail::MemoryBlockAllocator g_allocator{heapReallocate, heapRelease};
}  // namespace

namespace mox::detail {
MemoryBlockAllocator setMemoryBlockAllocator(MemoryBlockAllocator allocator) {
  const MemoryBlockAllocator previous = g_allocator;
  g_allocator.reallocate = allocator.reallocate != nullptr ? allocator.reallocate : heapReallocate;
  g_allocator.release = allocator.release != nullptr ? allocator.release : heapRelease;
  return previous;
}
}  // namespace mox::detail

MemoryBlock::MemoryBlock() { Initialize(); }

MemoryBlock::MemoryBlock(const MemoryBlock& other) {
  Initialize();
  if (Alloc(other.GetSize(), 0) != nullptr) std::memcpy(m_data, other.Ptr(), static_cast<std::size_t>(other.GetSize()));
}

const MemoryBlock& MemoryBlock::operator=(const MemoryBlock& other) {
  if (this == &other) return *this;
  if (Alloc(other.GetSize(), 0) != nullptr) std::memcpy(m_data, other.Ptr(), static_cast<std::size_t>(other.GetSize()));
  return *this;
}

MemoryBlock::~MemoryBlock() { Free(); }

void MemoryBlock::Initialize() {
  m_size = 0;
  m_data = nullptr;
  m_allocation = nullptr;
}

void* MemoryBlock::Alloc(int size, int fill) {
  if (size < 1) {
    Free();
    kelLogger::kelLogHelper(kSource, 109, kelLogger::LOG_WARN)(
        L"Attempted to allocate a memory block with an invalid size of %d bytes.", size);
    return m_data;
  }
  void* allocation = g_allocator.reallocate(m_allocation, static_cast<std::size_t>(size) + m_byteAlignment);
  if (allocation == nullptr) {
    Free();
    kelLogger::kelLogHelper(kSource, 103, kelLogger::LOG_ERROR)(L"Failed to allocate a memory block of size %d bytes.",
                                                                size);
    return nullptr;
  }
  m_allocation = allocation;
  m_size = size;
  const auto address = reinterpret_cast<std::uintptr_t>(allocation) + m_byteAlignment;
  m_data = reinterpret_cast<unsigned char*>(address & ~static_cast<std::uintptr_t>(m_byteAlignment - 1));
  Clear(fill);
  return m_data;
}

void MemoryBlock::Free() {
  if (m_allocation != nullptr) g_allocator.release(m_allocation);
  Initialize();
}

bool MemoryBlock::Clear(int value) {
  if (m_size == 0 || m_data == nullptr) return false;
  std::memset(m_data, value & 0xFF, static_cast<std::size_t>(m_size));
  return true;
}
