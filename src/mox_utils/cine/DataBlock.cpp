#include "mox_utils/cine/DataBlock.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

unsigned int DataBlock::m_tagSize = 4;

namespace {

// Positions are compared and moved as integers: a candidate beyond the
// region is not a valid pointer, and the address space may wrap under it.
std::int64_t offsetOf(const unsigned char* p, const unsigned char* base) {
  return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(base));
}

}  // namespace

DataBlock::DataBlock() : m_mutex(mox::platform::MutexHandle::create()) {}

DataBlock::DataBlock(const DataBlock& other) = default;

DataBlock& DataBlock::operator=(const DataBlock& other) = default;

// The last block sharing the cine block deletes it, then the mutex's last
// handle closes it (member order: m_cineBlock is destroyed before m_mutex).
DataBlock::~DataBlock() = default;

void DataBlock::Init(int size, int offset, unsigned char* begin, unsigned char* end) {
  m_size = size;
  m_offset = offset;
  m_begin = begin;
  m_end = end;
  m_actualEnd = end;
}

void DataBlock::CreateCineBlock(unsigned char* memory, unsigned int size) {
  m_cineBlock.reset();
  try {
    m_cineBlock = std::make_shared<CineBlock>(memory, size);
  } catch (...) {
    m_cineBlock.reset();
  }
}

BlockSetup<DataBlock> DataBlock::SetupFrames() { return BlockSetup<DataBlock>(this); }

void DataBlock::SetupFrames(const BlockSetup<DataBlock>& setup) {
  m_numLines = setup.numLines;
  m_lineSize = setup.lineSize;
  m_framePeriod = setup.framePeriod;
  m_periodInfo1 = setup.periodInfo1;
  m_periodInfo2 = setup.periodInfo2;
  m_group = setup.group;
}

bool DataBlock::SetEOB(int frames, int frameSize) {
  const std::int64_t length = std::int64_t{frames} * frameSize;
  if (length < 0 || length > offsetOf(m_end, m_begin)) return false;
  m_actualEnd = m_begin + length;
  return true;
}

void DataBlock::SetEOB() {
  const std::int64_t f = GetFrameSize();
  const std::int64_t length = offsetOf(m_end, m_begin);
  if (f == 0 || length <= 0) {
    m_actualEnd = m_begin;
    return;
  }
  m_actualEnd = m_begin + (length / f) * f;
}

unsigned int DataBlock::FitUnsigned() const {
  const std::uint64_t f = GetFrameSize();
  const std::int64_t length = offsetOf(m_actualEnd, m_begin);
  if (f == 0 || m_begin == nullptr || m_actualEnd == nullptr || length <= 0) return 0;
  return static_cast<unsigned int>(static_cast<std::uint64_t>(length) / f);
}

int DataBlock::GetNumFitFrames() const { return static_cast<int>(FitUnsigned()); }

int DataBlock::Increment(const unsigned char** position, int count, bool wrap) const {
  const std::int64_t f = GetFrameSize();
  if (position == nullptr || FitUnsigned() == 0) return 0;
  const std::int64_t old = offsetOf(*position, m_begin);
  const std::int64_t last = offsetOf(m_actualEnd, m_begin) - f;
  const std::int64_t candidate = old + f * count;
  const std::int64_t moved = candidate >= 0 && candidate <= last ? candidate : (wrap ? 0 : last);
  *position = m_begin + moved;
  return static_cast<int>((moved - old) / f);
}

int DataBlock::Decrement(const unsigned char** position, int count, bool wrap) const {
  const std::int64_t f = GetFrameSize();
  if (position == nullptr || FitUnsigned() == 0) return 0;
  const std::int64_t old = offsetOf(*position, m_begin);
  const std::int64_t last = offsetOf(m_actualEnd, m_begin) - f;
  const std::int64_t candidate = old - f * count;
  const std::int64_t moved = candidate >= 0 && candidate <= last ? candidate : (wrap ? last : 0);
  *position = m_begin + moved;
  return static_cast<int>((old - moved) / f);
}

int DataBlock::GetFrameCount() const {
  if (m_readBuffer == nullptr || m_begin == nullptr || m_readBuffer < m_begin) return 0;
  if (offsetOf(m_end, m_begin) >= 4) {
    std::uint32_t tag;
    std::memcpy(&tag, m_begin, sizeof tag);
    if ((tag & 0xFFFFu) != 0) return GetNumFitFrames();
  }
  const std::int64_t f = GetFrameSize();
  if (f == 0) return 0;
  return static_cast<int>(offsetOf(m_readBuffer, m_begin) / f);
}

void DataBlock::Erase() {
  if (m_begin != nullptr) {
    // A step below 4 would overlap the words written, or never advance.
    const std::int64_t step = std::max<std::int64_t>(GetFrameSize() & ~3u, 4);
    const std::int64_t length = offsetOf(m_end, m_begin);
    const std::uint32_t zero = 0;
    for (std::int64_t at = 0; at + 4 <= length; at += step) std::memcpy(m_begin + at, &zero, sizeof zero);
  }
  Clear();
}

void DataBlock::Lock() {
  if (m_mutex) m_mutex.wait(mox::platform::kInfinite);
}

void DataBlock::Unlock() {
  if (m_mutex) m_mutex.release();
}

bool DataBlock::SetupCineBlocks(const std::vector<DataBlock*>& blocks, std::uint64_t basePeriod, int cineParam) {
  // Groups are visited in ascending order. Group numbers without a block
  // cannot be set up and only make the result false, so instead of walking
  // every number up to the highest (which may be huge) the gaps are found
  // from the sorted set of numbers in use.
  std::set<unsigned int> groups;
  try {
    for (const DataBlock* block : blocks) {
      if (block != nullptr) groups.insert(block->m_group);
    }
  } catch (...) {
    return false;
  }
  bool result = true;
  if (groups.empty() || *groups.rbegin() + 1 != groups.size()) result = false;

  std::vector<std::uint64_t> ratio;
  try {
    ratio.resize(blocks.size());
  } catch (...) {
    return false;
  }
  for (const unsigned int group : groups) {
    auto eligible = [&](const DataBlock* block) { return block != nullptr && block->m_group == group; };
    int minFit = 0x7FFFFFFF;
    for (const DataBlock* block : blocks) {
      if (!eligible(block) || block->m_actualEnd == nullptr) continue;
      const int fit = block->Fit();
      if (fit > 0 && fit <= minFit) minFit = fit;
    }
    std::fill(ratio.begin(), ratio.end(), 1);
    if (minFit > 0 && minFit < 0x7FFFFFFF) {
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (!eligible(blocks[i]) || blocks[i]->m_actualEnd == nullptr) continue;
        const int fit = blocks[i]->Fit();
        ratio[i] = fit > 0 ? static_cast<std::uint64_t>(fit / minFit) : 0;
      }
    }

    std::uint64_t unit = 0;
    bool haveUnit = false;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const DataBlock* block = blocks[i];
      if (!eligible(block) || !block->m_cineBlock || ratio[i] == 0) continue;
      const std::uint64_t record = std::uint64_t{block->m_lineSize} * block->m_numLines + CineBlock::GetInfoSize();
      if (record == 0) continue;
      const std::uint64_t q = block->m_cineBlock->GetSize() / (ratio[i] * record);
      if (!haveUnit || q < unit) unit = q;
      haveUnit = true;
    }

    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const DataBlock* block = blocks[i];
      if (!eligible(block) || !block->m_cineBlock) continue;
      const std::uint64_t cap = std::min<std::uint64_t>(ratio[i] * unit, 0xFFFFFFFFu);
      if (cap == 0) continue;
      CineBlock& cine = *block->m_cineBlock;
      BlockSetup<CineBlock> setup = cine.SetupFrames();
      setup.numLines = block->m_numLines;
      setup.lineSize = block->m_lineSize;
      if (block->m_framePeriod != 0) {
        setup.framePeriod = block->m_framePeriod;
        setup.periodInfo1 = block->m_periodInfo1;
        setup.periodInfo2 = block->m_periodInfo2;
      } else {
        setup.framePeriod = basePeriod / ratio[i];
      }
      setup.cineParam = cineParam;
      setup.maxFrames = static_cast<unsigned int>(cap);
      cine.SetupFrames(setup);
    }
    if (result && unit <= 2) result = false;
  }
  return result;
}
