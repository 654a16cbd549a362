#include "mox_utils/serial/CCircularBuffer.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// A buffer of `size` bytes, or null for size 0 or when the heap refuses.
unsigned char* allocateRing(unsigned int size) {
  if (size == 0) return nullptr;
  return new (std::nothrow) unsigned char[size];
}

}  // namespace

CCircularBuffer::CCircularBuffer(unsigned int size)
    : m_size(size), m_writeIndex(0), m_readIndex(0), m_buffer(allocateRing(size)) {
  if (m_buffer == nullptr) m_size = 0;
}

CCircularBuffer::CCircularBuffer(const CCircularBuffer& other)
    : m_size(other.m_size),
      m_writeIndex(other.m_writeIndex),
      m_readIndex(other.m_readIndex),
      m_buffer(allocateRing(other.m_size)) {
  if (m_buffer == nullptr) {
    m_size = m_writeIndex = m_readIndex = 0;
    return;
  }
  std::memcpy(m_buffer, other.m_buffer, m_size);
}

CCircularBuffer& CCircularBuffer::operator=(const CCircularBuffer& other) {
  if (this == &other) return *this;
  unsigned char* buffer = allocateRing(other.m_size);
  if (buffer == nullptr && other.m_size != 0) return *this;
  if (buffer != nullptr) std::memcpy(buffer, other.m_buffer, other.m_size);
  delete[] m_buffer;
  m_buffer = buffer;
  m_size = other.m_size;
  m_writeIndex = other.m_writeIndex;
  m_readIndex = other.m_readIndex;
  return *this;
}

CCircularBuffer::~CCircularBuffer() { delete[] m_buffer; }

unsigned int CCircularBuffer::GetNumValidBytes() const {
  if (m_size == 0) return 0;
  // (write - read + size) mod size, without overflow for sizes above 2^31.
  return m_writeIndex >= m_readIndex ? m_writeIndex - m_readIndex : m_size - (m_readIndex - m_writeIndex);
}

bool CCircularBuffer::Write(const unsigned char* data, unsigned int count) {
  if (m_buffer == nullptr || m_size == 0 || count >= m_size) return false;
  if (count == 0) return true;
  if (data == nullptr) return false;
  // Overflow when the free room (size - 1 - valid) is less than count.
  const bool overflow = count >= m_size - GetNumValidBytes();
  const unsigned int tail = m_size - m_writeIndex;
  if (count < tail) {
    std::memcpy(m_buffer + m_writeIndex, data, count);
  } else {
    std::memcpy(m_buffer + m_writeIndex, data, tail);
    std::memcpy(m_buffer, data + tail, count - tail);
  }
  m_writeIndex = count < tail ? m_writeIndex + count : count - tail;
  if (overflow) m_readIndex = m_writeIndex + 1 == m_size ? 0 : m_writeIndex + 1;
  return true;
}

bool CCircularBuffer::Read(unsigned char* data, unsigned int count) const {
  if (m_buffer == nullptr || m_size == 0 || count >= m_size || count > GetNumValidBytes()) return false;
  if (count == 0) return true;
  if (data == nullptr) return false;
  const unsigned int tail = m_size - m_readIndex;
  if (count <= tail) {
    std::memcpy(data, m_buffer + m_readIndex, count);
  } else {
    std::memcpy(data, m_buffer + m_readIndex, tail);
    std::memcpy(data + tail, m_buffer, count - tail);
  }
  return true;
}

bool CCircularBuffer::Consume(unsigned int count) {
  if (m_size == 0 || count >= m_size || count > GetNumValidBytes()) return false;
  const unsigned int tail = m_size - m_readIndex;
  m_readIndex = count < tail ? m_readIndex + count : count - tail;
  return true;
}

bool CCircularBuffer::ConsumeValid(CCircularBuffer& source) {
  const unsigned int count = source.GetNumValidBytes();
  if (count == 0) return true;
  std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[count]);
  if (!bytes) return false;
  return source.Read(bytes.get(), count) && Write(bytes.get(), count) && source.Consume(count);
}
