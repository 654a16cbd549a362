#include "mox_utils/paths/MiniDumpFile.h"

#include <algorithm>

#include "mox_utils/platform/File.h"

namespace mox::detail {

namespace {

constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr std::uint32_t kVersion = 0xA793;
constexpr std::uint32_t kCodeViewElf = 0x4270454C;  // "BpEL"
constexpr std::uint32_t kContextAmd64 = 0x00100000;
constexpr std::size_t kMaxStreams = 4096;
constexpr std::size_t kMaxBuildId = 64;

// Bounds-checked little-endian reads over the dump's bytes.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : m_data(data) {}
  bool has(std::uint64_t offset, std::uint64_t size) const {
    return offset <= m_data.size() && size <= m_data.size() - offset;
  }
  std::uint32_t u16(std::uint64_t at) const { return byte(at) | (byte(at + 1) << 8); }
  std::uint32_t u32(std::uint64_t at) const { return u16(at) | (u16(at + 2) << 16); }
  std::uint64_t u64(std::uint64_t at) const { return u32(at) | (std::uint64_t{u32(at + 4)} << 32); }
  std::string_view slice(std::uint64_t at, std::uint64_t size) const {
    return m_data.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(size));
  }

 private:
  std::uint32_t byte(std::uint64_t at) const {
    return static_cast<unsigned char>(m_data[static_cast<std::size_t>(at)]);
  }
  std::string_view m_data;
};

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A MINIDUMP_STRING at rva as UTF-8; lone surrogates become U+FFFD.
bool readString(const Bytes& b, std::uint32_t rva, std::string* out) {
  if (!b.has(rva, 4)) return false;
  const std::uint32_t length = b.u32(rva);
  if (length % 2 != 0 || !b.has(std::uint64_t{rva} + 4, length)) return false;
  out->clear();
  for (std::uint32_t i = 0; i < length; i += 2) {
    std::uint32_t unit = b.u16(std::uint64_t{rva} + 4 + i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 2 < length) {
      const std::uint32_t low = b.u16(std::uint64_t{rva} + 6 + i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        appendUtf8(*out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    appendUtf8(*out, unit);
  }
  return true;
}

}  // namespace

void MiniDumpFile::clear() { *this = MiniDumpFile(); }

bool MiniDumpFile::load(std::wstring_view path, std::string* error, std::uint64_t maxBytes) {
  std::string bytes;
  if (!mox::platform::readWholeFile(path, &bytes, maxBytes)) {
    clear();
    if (error != nullptr) *error = "cannot read the file";
    return false;
  }
  return parse(bytes, error);
}

bool MiniDumpFile::parse(std::string_view data, std::string* error) {
  clear();
  auto fail = [&](const char* why) {
    clear();
    if (error != nullptr) *error = why;
    return false;
  };
  try {
    const Bytes b(data);
    if (!b.has(0, 32)) return fail("shorter than a header");
    if (b.u32(0) != kSignature) return fail("no MDMP signature");
    if ((b.u32(4) & 0xFFFF) != kVersion) return fail("unknown version");
    const std::uint32_t count = b.u32(8);
    const std::uint32_t directory = b.u32(12);
    if (count > kMaxStreams || !b.has(directory, std::uint64_t{count} * 12))
      return fail("stream directory out of range");
    m_flags = b.u64(24);

    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t at = directory + std::uint64_t{i} * 12;
      MiniDumpStream s{b.u32(at), b.u32(at + 4), b.u32(at + 8)};
      if (s.type == 0) continue;  // an unused entry
      if (!b.has(s.rva, s.size)) return fail("stream out of range");
      for (const MiniDumpStream& seen : m_streams)
        if (seen.type == s.type) return fail("duplicate stream type");
      m_streams.push_back(s);
    }

    for (const MiniDumpStream& s : m_streams) {
      const std::uint64_t at = s.rva;
      switch (s.type) {
        case 3: {  // thread list
          if (s.size < 4 || (s.size - 4) / 48 < b.u32(at)) return fail("thread list out of range");
          const std::uint32_t n = b.u32(at);
          for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint64_t e = at + 4 + std::uint64_t{i} * 48;
            MiniDumpThread t;
            t.threadId = b.u32(e);
            t.stackStart = b.u64(e + 24);
            t.stackSize = b.u32(e + 32);
            t.stackRva = b.u32(e + 36);
            t.contextSize = b.u32(e + 40);
            t.contextRva = b.u32(e + 44);
            if (!b.has(t.stackRva, t.stackSize) || !b.has(t.contextRva, t.contextSize))
              return fail("thread data out of range");
            if (t.contextSize >= 256 && (b.u32(t.contextRva + 48) & kContextAmd64) != 0) {
              t.stackPointer = b.u64(t.contextRva + 152);
              t.instructionPointer = b.u64(t.contextRva + 248);
            }
            m_threads.push_back(t);
          }
          break;
        }
        case 4: {  // module list
          if (s.size < 4 || (s.size - 4) / 108 < b.u32(at)) return fail("module list out of range");
          const std::uint32_t n = b.u32(at);
          for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint64_t e = at + 4 + std::uint64_t{i} * 108;
            MiniDumpModule m;
            m.base = b.u64(e);
            m.size = b.u32(e + 8);
            if (!readString(b, b.u32(e + 20), &m.name)) return fail("module name out of range");
            const std::uint32_t cvSize = b.u32(e + 76), cvRva = b.u32(e + 80);
            if (cvSize != 0) {
              if (!b.has(cvRva, cvSize)) return fail("module record out of range");
              if (cvSize >= 4 && b.u32(cvRva) == kCodeViewElf) {
                const std::string_view id =
                    b.slice(std::uint64_t{cvRva} + 4, std::min<std::uint64_t>(cvSize - 4, kMaxBuildId));
                m.buildId.assign(id.begin(), id.end());
              }
            }
            m_modules.push_back(std::move(m));
          }
          break;
        }
        case 5: {  // memory list
          if (s.size < 4 || (s.size - 4) / 16 < b.u32(at)) return fail("memory list out of range");
          const std::uint32_t n = b.u32(at);
          for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint64_t e = at + 4 + std::uint64_t{i} * 16;
            MiniDumpMemory m{b.u64(e), b.u32(e + 8), b.u32(e + 12)};
            if (!b.has(m.rva, m.size)) return fail("memory out of range");
            m_memory.push_back(m);
          }
          break;
        }
        case 6: {  // exception
          if (s.size < 168) return fail("exception stream too short");
          m_exception = {b.u32(at), b.u32(at + 8), b.u32(at + 12), b.u64(at + 24), b.u32(at + 164)};
          m_hasException = true;
          break;
        }
        case 7:  // system information
          if (s.size < 56) return fail("system information too short");
          m_architecture = static_cast<std::uint16_t>(b.u16(at));
          break;
        case 15:  // misc information
          if (s.size < 12) return fail("misc information too short");
          if ((b.u32(at + 4) & 1) != 0) m_processId = b.u32(at + 8);
          break;
        default:
          break;
      }
    }
    m_bytes.assign(data.data(), data.size());
  } catch (...) {
    return fail("out of memory");
  }
  m_size = data.size();
  return true;
}

std::string_view MiniDumpFile::streamData(std::uint32_t type) const {
  for (const MiniDumpStream& s : m_streams)
    if (s.type == type) return std::string_view(m_bytes).substr(s.rva, s.size);
  return {};
}

bool MiniDumpFile::readMemory(std::uint64_t address, std::size_t size, std::string* out) const {
  for (const MiniDumpMemory& m : m_memory) {
    if (address < m.start || address - m.start > m.size || size > m.size - (address - m.start)) continue;
    try {
      out->assign(m_bytes, static_cast<std::size_t>(m.rva + (address - m.start)), size);
    } catch (...) {
      return false;
    }
    return true;
  }
  return false;
}

const char* miniDumpStreamName(std::uint32_t type) {
  switch (type) {
    case 3:
      return "ThreadList";
    case 4:
      return "ModuleList";
    case 5:
      return "MemoryList";
    case 6:
      return "Exception";
    case 7:
      return "SystemInfo";
    case 9:
      return "Memory64List";
    case 15:
      return "MiscInfo";
    case 16:
      return "MemoryInfoList";
    case 0x47670003:
      return "LinuxCPUInfo";
    case 0x47670004:
      return "LinuxProcStatus";
    case 0x47670005:
      return "LinuxLSBRelease";
    case 0x47670006:
      return "LinuxCMDLine";
    case 0x47670007:
      return "LinuxEnviron";
    case 0x47670008:
      return "LinuxAuxv";
    case 0x47670009:
      return "LinuxMaps";
    default:
      return "";
  }
}

}  // namespace mox::detail
