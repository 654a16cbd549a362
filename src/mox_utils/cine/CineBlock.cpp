#include "mox_utils/cine/CineBlock.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "mox_utils/cine/Deinterleave.h"
#include "mox_utils/cine/MemoryBlock.h"
#include "mox_utils/platform/File.h"

namespace {

constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kInfoBytes = 4;

void putU32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint32_t getU32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void putS16(unsigned char* p, short v) {
  const auto u = static_cast<std::uint16_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
}

short getS16(const unsigned char* p) { return static_cast<short>(static_cast<std::uint16_t>(p[0] | p[1] << 8)); }

}  // namespace

// Where Load reads from: a file or an image of one in memory.
class CineBlock::Source {
 public:
  virtual ~Source() = default;
  // Reads up to `size` bytes; fewer only at the end of the data or on error.
  virtual std::size_t Read(void* out, std::size_t size) = 0;
};

class CineBlock::FileSource : public CineBlock::Source {
 public:
  explicit FileSource(std::FILE* file) : m_file(file) {}
  ~FileSource() override { std::fclose(m_file); }
  std::size_t Read(void* out, std::size_t size) override { return std::fread(out, 1, size, m_file); }

 private:
  std::FILE* m_file;
};

class CineBlock::MemorySource : public CineBlock::Source {
 public:
  MemorySource(const unsigned char* data, std::size_t size) : m_data(data), m_left(data == nullptr ? 0 : size) {}
  std::size_t Read(void* out, std::size_t size) override {
    const std::size_t n = std::min(size, m_left);
    if (n != 0) std::memcpy(out, m_data, n);
    m_data += n;
    m_left -= n;
    return n;
  }

 private:
  const unsigned char* m_data;
  std::size_t m_left;
};

CineBlock::CineBlock(unsigned char* memory, unsigned int size) : m_size(size), m_start(memory) {}

CineBlock::CineBlock(unsigned int size) : m_size(size) {
  m_ownedMemory = new (std::nothrow) MemoryBlock();
  if (m_ownedMemory == nullptr) return;
  // Sizes above INT_MAX reach Alloc as negative numbers, which it refuses and
  // logs like any other invalid size.
  m_start = static_cast<unsigned char*>(m_ownedMemory->Alloc(static_cast<int>(size), 0));
}

CineBlock::~CineBlock() { delete m_ownedMemory; }

BlockSetup<CineBlock> CineBlock::SetupFrames() { return BlockSetup<CineBlock>(this); }

void CineBlock::SetupFrames(const BlockSetup<CineBlock>& setup) {
  m_lineSize = setup.lineSize;
  m_numLines = setup.numLines;
  m_framePeriod = setup.framePeriod;
  m_cineParam = setup.cineParam;
  m_periodInfo1 = setup.periodInfo1;
  m_periodInfo2 = setup.periodInfo2;
  const std::uint64_t frameBytes = FrameBytes();
  if (frameBytes == 0 || m_start == nullptr) {
    m_info = nullptr;
    m_numFrames = 0;
    Reset();
    return;
  }
  std::uint64_t n = m_size / (frameBytes + kInfoBytes);
  if (n >= setup.maxFrames) n = setup.maxFrames;
  SetFrameCount(static_cast<unsigned int>(n));
}

bool CineBlock::SetupFrames(const CineBlock* source, unsigned int first, unsigned int last) {
  if (m_start == nullptr || source == nullptr || source == this || m_size == 0 || first > last ||
      first >= source->m_numFrames || last >= source->m_numFrames || source->m_info == nullptr) {
    return false;
  }
  m_lineSize = source->m_lineSize;
  m_numLines = source->m_numLines;
  m_framePeriod = source->m_framePeriod;
  m_cineParam = source->m_cineParam;
  m_periodInfo1 = source->m_periodInfo1;
  m_periodInfo2 = source->m_periodInfo2;
  const std::uint64_t frameBytes = FrameBytes();
  if (frameBytes == 0) return false;
  const std::uint64_t slots = m_size / (frameBytes + kInfoBytes);
  if (slots == 0) return false;
  const std::uint64_t wanted = std::uint64_t{last} - first + 1;
  const std::uint64_t capacity = slots - 1;
  const auto k = static_cast<unsigned int>(wanted < capacity ? wanted : capacity);
  SetFrameCount(k + 1);

  const unsigned int sourceN = source->m_numFrames;
  const unsigned int s = static_cast<unsigned int>((std::uint64_t{source->m_oldest} + first) % sourceN);
  const unsigned int r =
      std::uint64_t{s} + k >= sourceN ? static_cast<unsigned int>(std::uint64_t{s} + k - sourceN) : 0;
  const unsigned int firstPart = k - r;
  // Records, then frame data, each in (up to) two runs; memmove because two
  // blocks may sit on one caller memory.
  std::memmove(m_info, source->m_info + std::size_t{s} * kInfoBytes, std::size_t{firstPart} * kInfoBytes);
  std::memmove(m_info + std::size_t{firstPart} * kInfoBytes, source->m_info, std::size_t{r} * kInfoBytes);
  const auto f = static_cast<std::size_t>(frameBytes);
  std::memmove(m_start, source->m_start + std::size_t{s} * f, std::size_t{firstPart} * f);
  std::memmove(m_start + std::size_t{firstPart} * f, source->m_start, std::size_t{r} * f);
  // Slot k ends the copied run even when the layout was kept from before.
  MarkSlotEmpty(k);
  Reset();
  return true;
}

void CineBlock::Erase() {
  if (m_info != nullptr) {
    for (unsigned int slot = 0; slot < m_numFrames; ++slot) MarkSlotEmpty(slot);
  }
  Reset();
}

const unsigned char* CineBlock::WriteFrame(const unsigned char* data, unsigned int size, short id, short extra,
                                           bool mla) {
  if (data == nullptr || size != FrameBytes() || m_numFrames == 0 || m_info == nullptr) return nullptr;
  SetSlotRecord(m_writeSlot, id, extra);
  unsigned char* target = m_start + std::size_t{m_writeSlot} * size;
  if (mla) {
    WriteMLA(data);
  } else {
    std::memcpy(target, data, size);
  }
  m_writeSlot = (m_writeSlot + 1) % m_numFrames;
  MarkSlotEmpty(m_writeSlot);
  if (m_writeSlot == m_oldest) {
    m_oldest = (m_oldest + 1) % m_numFrames;
    if (m_cursor > 0) --m_cursor;
  }
  return target;
}

void CineBlock::WriteMLA(const unsigned char* data) {
  const unsigned int pairs = m_numLines / 2;
  const unsigned int words = m_lineSize / 2;
  if (pairs == 0 || words == 0) return;
  unsigned char* target = m_start + std::size_t{m_writeSlot} * FrameBytes();
  mox::detail::deinterleave()(data, target, words, m_lineSize, pairs);
}

int CineBlock::Increment(int count) {
  if (count < 1 || m_numFrames == 0 || m_info == nullptr) return 0;
  int steps = 0;
  while (m_cursor < m_numFrames && GetID(m_cursor) >= 0 && steps < count) {
    m_cursor = (m_cursor + 1) % m_numFrames;
    ++steps;
  }
  return steps;
}

int CineBlock::Decrement(int count) {
  if (count < 1 || m_numFrames == 0 || m_info == nullptr) return 0;
  int steps = 0;
  while (steps < count) {
    const unsigned int previous = (m_cursor + m_numFrames - 1) % m_numFrames;
    if (GetID(previous) < 0) break;
    m_cursor = previous;
    ++steps;
  }
  return steps;
}

bool CineBlock::SetFrame(int index) {
  if (index < 0 || static_cast<unsigned int>(index) >= m_numFrames) return false;
  m_cursor = static_cast<unsigned int>(index);
  return true;
}

CineBlock::Frame CineBlock::GetFrame(unsigned int index) { return GetDataFrame(index); }

const unsigned char* CineBlock::GetData(unsigned int index) const { return GetDataInternal(index); }

unsigned int CineBlock::GetMaxFrames() const { return m_numFrames > 0 && m_info != nullptr ? m_numFrames - 1 : 0; }

int CineBlock::GetFrameCount() const {
  if (m_numFrames == 0 || m_info == nullptr) return 0;
  if (SlotID(m_oldest) > 0) return static_cast<int>(GetMaxFrames());
  return GetNumValidFrames(0);
}

CineBlock::Frame CineBlock::GetDataFrame(unsigned int index) const {
  if (index >= m_numFrames || m_info == nullptr) return Frame(nullptr, -1, 0);
  const unsigned int slot = SlotOf(index);
  return Frame(m_start + std::size_t{slot} * FrameBytes(), SlotID(slot), SlotExtra(slot));
}

unsigned char* CineBlock::GetDataInternal(unsigned int index) const {
  if (index >= m_numFrames || m_start == nullptr) return nullptr;
  return m_start + std::size_t{SlotOf(index)} * FrameBytes();
}

short CineBlock::GetID(unsigned int index) const {
  if (index >= m_numFrames || m_info == nullptr) return -1;
  return SlotID(SlotOf(index));
}

short CineBlock::GetExtra(unsigned int index) const {
  if (index >= m_numFrames || m_info == nullptr) return 0;
  return SlotExtra(SlotOf(index));
}

void CineBlock::SetFrameCount(unsigned int n) {
  unsigned char* info = m_start == nullptr ? nullptr : m_start + std::size_t{n} * FrameBytes();
  if (m_numFrames == n && m_info == info) return;
  m_numFrames = n;
  m_info = info;
  if (m_info != nullptr) {
    for (unsigned int slot = 0; slot < n; ++slot) MarkSlotEmpty(slot);
  }
  Reset();
}

void CineBlock::Reset() {
  m_writeSlot = 0;
  m_cursor = 0;
  m_oldest = 0;
}

int CineBlock::GetNumValidFrames(unsigned int start) const {
  if (start >= m_numFrames || m_info == nullptr) return 0;
  int count = 0;
  unsigned int i = start;
  do {
    if (GetID(i) < 0) break;
    ++count;
    i = (i + 1) % m_numFrames;
  } while (i != start);
  return count;
}

short CineBlock::SlotID(unsigned int slot) const {
  short id;
  std::memcpy(&id, m_info + std::size_t{slot} * kInfoBytes, sizeof id);
  return id;
}

short CineBlock::SlotExtra(unsigned int slot) const {
  short extra;
  std::memcpy(&extra, m_info + std::size_t{slot} * kInfoBytes + 2, sizeof extra);
  return extra;
}

void CineBlock::SetSlotRecord(unsigned int slot, short id, short extra) {
  unsigned char* record = m_info + std::size_t{slot} * kInfoBytes;
  std::memcpy(record, &id, sizeof id);
  std::memcpy(record + 2, &extra, sizeof extra);
}

void CineBlock::MarkSlotEmpty(unsigned int slot) {
  const short empty = -1;
  std::memcpy(m_info + std::size_t{slot} * kInfoBytes, &empty, sizeof empty);
}

void CineBlock::Save(const wchar_t* path) const {
  if (path == nullptr || m_size == 0 || m_start == nullptr) return;
  const auto count = static_cast<unsigned int>(GetFrameCount());
  const unsigned int s = m_oldest;
  unsigned int r = 0;
  unsigned int firstPart = count;
  if (count > 0 && std::uint64_t{s} + count >= m_numFrames) {
    r = static_cast<unsigned int>(std::uint64_t{s} + count - m_numFrames);
    firstPart = count - r;
  }
  // Header and records go out in one write, each run of frames in one more.
  std::vector<unsigned char> head;
  try {
    head.resize(kHeaderBytes + std::size_t{count} * kInfoBytes);
  } catch (...) {
    return;
  }
  putU32(head.data(), m_lineSize);
  putU32(head.data() + 4, m_numLines);
  putU32(head.data() + 8, count);
  unsigned char* out = head.data() + kHeaderBytes;
  for (unsigned int i = 0; i < count; ++i, out += kInfoBytes) {
    const unsigned int slot = i < firstPart ? s + i : i - firstPart;
    putS16(out, SlotID(slot));
    putS16(out + 2, SlotExtra(slot));
  }
  const auto f = static_cast<std::size_t>(FrameBytes());
  mox::platform::AtomicFile file;
  if (!file.open(path)) return;
  file.write(head.data(), head.size());
  file.write(m_start + std::size_t{s} * f, std::size_t{firstPart} * f);
  file.write(m_start, std::size_t{r} * f);
  file.commit();  // removes the temporary file when anything failed
}

CineBlock* CineBlock::Load(const wchar_t* path) {
  // Only regular files: a directory or a pipe would fail late or block.
  if (path == nullptr || !mox::platform::fileExists(path)) return nullptr;
  std::FILE* file = mox::platform::openFile(path, "rb");
  if (file == nullptr) return nullptr;
  FileSource source(file);
  return LoadFrom(source, kMaxLoadBytes);
}

CineBlock* CineBlock::Load(const unsigned char* data, std::size_t size, std::uint64_t maxBlockBytes) {
  MemorySource source(data, size);
  return LoadFrom(source, std::min(maxBlockBytes, kMaxLoadBytes));
}

CineBlock* CineBlock::LoadFrom(Source& source, std::uint64_t maxBlockBytes) {
  unsigned char header[kHeaderBytes];
  if (source.Read(header, sizeof header) != sizeof header) return nullptr;
  const std::uint32_t lineSize = getU32(header);
  const std::uint32_t numLines = getU32(header + 4);
  const std::uint32_t count = getU32(header + 8);
  const std::uint64_t frameBytes = std::uint64_t{lineSize} * numLines;
  if (frameBytes == 0 || count == 0) return nullptr;
  // Both factors are below 2^32 once the frame is known to fit, so the
  // product cannot overflow 64 bits.
  if (frameBytes > maxBlockBytes) return nullptr;
  const std::uint64_t blockBytes = (frameBytes + kInfoBytes) * (std::uint64_t{count} + 1);
  if (blockBytes > maxBlockBytes) return nullptr;

  CineBlock* block = new (std::nothrow) CineBlock(static_cast<unsigned int>(blockBytes));
  if (block == nullptr) return nullptr;
  if (block->m_start == nullptr) {
    delete block;
    return nullptr;
  }
  block->m_lineSize = lineSize;
  block->m_numLines = numLines;
  block->SetFrameCount(count + 1);

  // One read per part, straight into the ring.
  const std::size_t recordBytes = std::size_t{count} * kInfoBytes;
  const std::size_t recordsRead = source.Read(block->m_info, recordBytes) / kInfoBytes;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* record = block->m_info + i * kInfoBytes;
    if (i < recordsRead) {
      block->SetSlotRecord(static_cast<unsigned int>(i), getS16(record), getS16(record + 2));
    } else {
      block->SetSlotRecord(static_cast<unsigned int>(i), -1, 0);
    }
  }
  const auto f = static_cast<std::size_t>(frameBytes);
  const std::size_t dataBytes = std::size_t{count} * f;
  const std::size_t dataRead = recordsRead == count ? source.Read(block->m_start, dataBytes) : 0;
  const std::size_t wholeFrames = dataRead / f;
  if (wholeFrames < count) {
    // A frame cut short is not a frame: its bytes go back to zero and its
    // record is marked empty, as are those of the frames that are missing.
    std::memset(block->m_start + wholeFrames * f, 0, dataRead - wholeFrames * f);
    for (std::size_t i = wholeFrames; i < count; ++i) block->MarkSlotEmpty(static_cast<unsigned int>(i));
  }
  block->Reset();
  return block;
}
