// The minidump writer. Layouts are the Microsoft ones (little-endian, packed);
// the Linux-specific streams and the "BpEL" build-id record are the ones that
// Linux minidump readers understand.
//
// Every function below the public entry points is signal-safe unless it says
// otherwise: it calls the kernel through syscall(2) (no libc state, no
// interceptors), keeps its buffers in an arena mapped with mmap(2), and
// touches no lock. The breakpoint path (raiseBreakpoint) is the exception: it
// runs before any fault and serialises its callers.
#include <fcntl.h>
#include <linux/limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <asm/prctl.h>
#include <cpuid.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "mox_utils/platform/MiniDump.h"

namespace mox::platform {

namespace {

// ---------------------------------------------------------------------------
// Kernel calls. Signal-safe.

// Signal-safe.
long sysOpen(const char* path, int flags, int mode = 0) { return syscall(SYS_openat, AT_FDCWD, path, flags, mode); }
// Signal-safe.
void sysClose(long fd) {
  if (fd >= 0) syscall(SYS_close, fd);
}
// Signal-safe.
long sysRead(long fd, void* buf, std::size_t n) {
  long r;
  do r = syscall(SYS_read, fd, buf, n);
  while (r < 0 && errno == EINTR);
  return r;
}
// Signal-safe.
long sysPread(long fd, void* buf, std::size_t n, std::uint64_t off) {
  long r;
  do r = syscall(SYS_pread64, fd, buf, n, static_cast<long>(off));
  while (r < 0 && errno == EINTR);
  return r;
}
// Signal-safe.
long sysPwrite(long fd, const void* buf, std::size_t n, std::uint64_t off) {
  long r;
  do r = syscall(SYS_pwrite64, fd, buf, n, static_cast<long>(off));
  while (r < 0 && errno == EINTR);
  return r;
}
// Signal-safe.
long sysGetpid() { return syscall(SYS_getpid); }
// Signal-safe.
long sysGettid() { return syscall(SYS_gettid); }

// ---------------------------------------------------------------------------
// Small helpers. Signal-safe.

// Signal-safe.
void copyBytes(void* to, const void* from, std::size_t n) {
  auto* d = static_cast<volatile unsigned char*>(to);
  auto* s = static_cast<const unsigned char*>(from);
  for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
}
// Signal-safe.
void zeroBytes(void* to, std::size_t n) {
  auto* d = static_cast<volatile unsigned char*>(to);
  for (std::size_t i = 0; i < n; ++i) d[i] = 0;
}
// Signal-safe.
std::size_t textLength(const char* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}
// Signal-safe.
bool sameText(const char* a, const char* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}
// Appends the decimal form of v at out; returns the new end.
// Signal-safe.
char* putDecimal(char* out, std::uint64_t v) {
  char digits[24];
  int n = 0;
  do digits[n++] = static_cast<char>('0' + v % 10), v /= 10;
  while (v != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}
// "/proc/<pid>/<name>" into out (at least 64 bytes).
// Signal-safe.
void procPath(char* out, long pid, const char* name) {
  const char prefix[] = "/proc/";
  char* p = out;
  for (const char* s = prefix; *s != 0; ++s) *p++ = *s;
  p = putDecimal(p, static_cast<std::uint64_t>(pid));
  *p++ = '/';
  while (*name != 0) *p++ = *name++;
  *p = 0;
}

// Opens /proc/<pid>/<name> read-only (plus `flags`); negative on failure.
// Signal-safe.
long openProcFile(long pid, const char* name, int flags = 0) {
  char path[64];
  procPath(path, pid, name);
  return sysOpen(path, O_RDONLY | O_CLOEXEC | flags);
}
// Signal-safe.
void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
// Signal-safe.
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// Signal-safe.
void put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// Signal-safe.
std::uint32_t get32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
// Signal-safe.
std::uint64_t get64(const std::uint8_t* p) { return get32(p) | (static_cast<std::uint64_t>(get32(p + 4)) << 32); }

// ---------------------------------------------------------------------------
// Layout constants.

constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr std::uint32_t kVersion = 0xA793;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDirectoryEntrySize = 12;
constexpr std::size_t kContextSize = 1232;  // AMD64 CONTEXT
constexpr std::size_t kThreadSize = 48;
constexpr std::size_t kModuleSize = 108;
constexpr std::size_t kMemoryDescriptorSize = 16;
constexpr std::size_t kSystemInfoSize = 56;
constexpr std::size_t kMiscInfoSize = 24;
constexpr std::size_t kExceptionStreamSize = 168;

enum StreamType : std::uint32_t {
  kThreadListStream = 3,
  kModuleListStream = 4,
  kMemoryListStream = 5,
  kExceptionStream = 6,
  kSystemInfoStream = 7,
  kMiscInfoStream = 15,
  kLinuxCpuInfo = 0x47670003,
  kLinuxProcStatus = 0x47670004,
  kLinuxCmdLine = 0x47670006,
  kLinuxAuxv = 0x47670008,
  kLinuxMaps = 0x47670009,
};

constexpr std::uint32_t kContextAmd64 = 0x00100000;
constexpr std::uint32_t kContextFull = kContextAmd64 | 0x1 | 0x2 | 0x8;  // control, integer, floating point
constexpr std::uint32_t kCodeViewElf = 0x4270454C;                       // "BpEL"
constexpr std::uint16_t kArchitectureAmd64 = 9;
constexpr std::uint32_t kPlatformLinux = 0x8201;

constexpr std::size_t kMaxThreads = 1024;
constexpr std::size_t kMaxModules = 1024;
constexpr std::size_t kMaxRanges = 8192;
constexpr std::size_t kMaxStreams = 16;
constexpr std::size_t kLineCapacity = PATH_MAX + 256;
constexpr std::size_t kCopyChunk = 64 * 1024;
constexpr std::uint64_t kPageSize = 4096;
constexpr std::uint64_t kRedZone = 128;
constexpr std::uint64_t kMaxStackBytes = 32ull << 20;
constexpr std::uint64_t kMaxMappingBytes = 4ull << 30;
// MINIDUMP_LOCATION_DESCRIPTOR holds 32-bit offsets: memory stops being added
// well before the file would outgrow them.
constexpr std::uint64_t kMaxFileBytes = 0xF0000000ull;

// ---------------------------------------------------------------------------
// Scratch space: one anonymous mapping, carved up by the writer.

struct ThreadRecord {
  std::uint32_t tid;
  bool attached;
  std::uint64_t teb;
  std::uint64_t stackStart;
  std::uint64_t stackSize;
  std::uint32_t stackRva;
  std::uint32_t contextRva;
  std::uint8_t context[kContextSize];
};

struct Range {
  std::uint64_t start;
  std::uint64_t size;
  std::uint32_t rva;
};

struct ModuleRecord {
  std::uint64_t base;
  std::uint64_t size;
  std::uint32_t nameRva;
  std::uint32_t cvRva;
  std::uint32_t cvSize;
};

struct DirectoryEntry {
  std::uint32_t type;
  std::uint32_t size;
  std::uint32_t rva;
};

struct Scratch {
  ThreadRecord threads[kMaxThreads];
  std::size_t threadCount;
  Range ranges[kMaxRanges];
  std::size_t rangeCount;
  ModuleRecord modules[kMaxModules];
  std::size_t moduleCount;
  DirectoryEntry streams[kMaxStreams];
  std::size_t streamCount;
  char line[kLineCapacity];
  char modulePath[kLineCapacity];
  std::uint8_t copy[kCopyChunk];
  std::uint8_t utf16[2 * kLineCapacity + 8];
  std::uint8_t notes[4096];
};

// Signal-safe.
Scratch* mapScratch() {
  void* p = reinterpret_cast<void*>(syscall(SYS_mmap, nullptr, sizeof(Scratch), PROT_READ | PROT_WRITE,
                                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  if (p == MAP_FAILED || p == nullptr) return nullptr;
  return static_cast<Scratch*>(p);  // zero-filled by the kernel
}
// Signal-safe.
void unmapScratch(Scratch* s) { syscall(SYS_munmap, s, sizeof(Scratch)); }

// ---------------------------------------------------------------------------
// The output file, written at increasing offsets. Signal-safe.

class Output {
 public:
  explicit Output(int fd) : m_fd(fd) {}

  std::uint64_t pos() const { return m_pos; }
  std::uint32_t rva() const { return static_cast<std::uint32_t>(m_pos); }
  bool failed() const { return m_failed; }
  bool roomFor(std::uint64_t bytes) const { return m_pos + bytes < kMaxFileBytes; }

  void write(const void* data, std::size_t size) { writeAt(m_pos, data, size), m_pos += size; }
  void writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0 && !m_failed) {
      const long n = sysPwrite(m_fd, p, size, offset);
      if (n <= 0) {
        m_failed = true;
        return;
      }
      p += n, offset += static_cast<std::uint64_t>(n), size -= static_cast<std::size_t>(n);
    }
  }
  void zeros(std::size_t size) {
    static const std::uint8_t kZero[256] = {};
    while (size > 0) {
      const std::size_t n = size < sizeof kZero ? size : sizeof kZero;
      write(kZero, n);
      size -= n;
    }
  }
  void align8() { zeros(static_cast<std::size_t>((8 - m_pos % 8) % 8)); }

 private:
  int m_fd;
  std::uint64_t m_pos = 0;
  bool m_failed = false;
};

// ---------------------------------------------------------------------------
// Reading /proc text files line by line into Scratch::line. Signal-safe.

class LineReader {
 public:
  // Reads /proc/<pid>/<name>; the file is closed with the reader.
  LineReader(long pid, const char* name, char* buffer) : m_fd(openProcFile(pid, name)), m_buf(buffer) {}
  ~LineReader() {
    if (m_fd >= 0) sysClose(m_fd);
  }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  bool opened() const { return m_fd >= 0; }
  // The next line without its newline, null-terminated; over-long lines are
  // cut. False at the end.
  bool next(std::size_t* length) {
    std::size_t n = 0;
    for (;;) {
      if (m_at == m_end) {
        const long r = sysRead(m_fd, m_chunk, sizeof m_chunk);
        if (r <= 0) {
          m_buf[n] = 0;
          *length = n;
          return n > 0;
        }
        m_at = 0, m_end = static_cast<std::size_t>(r);
      }
      const char c = m_chunk[m_at++];
      if (c == '\n') break;
      if (n + 1 < kLineCapacity) m_buf[n++] = c;
    }
    m_buf[n] = 0;
    *length = n;
    return true;
  }

 private:
  long m_fd;
  char* m_buf;
  char m_chunk[512];
  std::size_t m_at = 0, m_end = 0;
};

struct Mapping {
  std::uint64_t start, end, offset, inode;
  char perms[5];
  const char* path;  // "" for anonymous mappings
};

// Signal-safe.
bool parseHex(const char*& p, std::uint64_t* out) {
  std::uint64_t v = 0;
  const char* start = p;
  for (;; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9')
      v = v * 16 + static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      v = v * 16 + static_cast<unsigned>(c - 'a' + 10);
    else
      break;
  }
  *out = v;
  return p != start;
}

// "start-end perms offset dev inode path".
// Signal-safe.
bool parseMapping(const char* line, Mapping* m) {
  const char* p = line;
  if (!parseHex(p, &m->start) || *p++ != '-' || !parseHex(p, &m->end) || *p++ != ' ') return false;
  for (int i = 0; i < 4; ++i) {
    if (*p == 0) return false;
    m->perms[i] = *p++;
  }
  m->perms[4] = 0;
  if (*p++ != ' ' || !parseHex(p, &m->offset) || *p++ != ' ') return false;
  while (*p != 0 && *p != ' ') ++p;  // device
  if (*p++ != ' ') return false;
  m->inode = 0;
  while (*p >= '0' && *p <= '9') m->inode = m->inode * 10 + static_cast<unsigned>(*p++ - '0');
  while (*p == ' ') ++p;
  m->path = p;
  return m->end > m->start;
}

// ---------------------------------------------------------------------------
// What the writer works on.

struct Target {
  long pid;           // the process dumped
  long memFd;         // its memory, read with pread
  std::uint32_t tid;  // the thread the exception belongs to
  const siginfo_t* info;
  MINIDUMP_TYPE type;
};

// Copies size bytes of the target's memory at address into the file; what
// cannot be read becomes zeros.
// Signal-safe.
void copyMemory(Output& out, Scratch& s, const Target& t, std::uint64_t address, std::uint64_t size) {
  while (size > 0 && !out.failed()) {
    const std::size_t chunk = size < kCopyChunk ? static_cast<std::size_t>(size) : kCopyChunk;
    long r = sysPread(t.memFd, s.copy, chunk, address);
    if (r != static_cast<long>(chunk)) {
      // Read page by page so one unreadable page does not blank the chunk.
      for (std::size_t done = 0; done < chunk;) {
        const std::uint64_t here = address + done;
        std::size_t piece = static_cast<std::size_t>(kPageSize - here % kPageSize);
        if (piece > chunk - done) piece = chunk - done;
        if (sysPread(t.memFd, s.copy + done, piece, here) != static_cast<long>(piece)) zeroBytes(s.copy + done, piece);
        done += piece;
      }
    }
    out.write(s.copy, chunk);
    address += chunk, size -= chunk;
  }
}

// Signal-safe.
void addStream(Scratch& s, std::uint32_t type, std::uint64_t start, const Output& out) {
  if (s.streamCount == kMaxStreams || out.failed()) return;
  s.streams[s.streamCount++] = {type, static_cast<std::uint32_t>(out.pos() - start), static_cast<std::uint32_t>(start)};
}

// Copies a /proc file of the target (or, for an absolute name, that file)
// as a stream; returns the count of lines
// that start with countPrefix (when given).
// Signal-safe.
std::size_t copyProcFile(Output& out, Scratch& s, const Target& t, const char* name, std::uint32_t type,
                         const char* countPrefix = nullptr) {
  const long fd = name[0] == '/' ? sysOpen(name, O_RDONLY | O_CLOEXEC) : openProcFile(t.pid, name);
  if (fd < 0) return 0;
  out.align8();
  const std::uint64_t start = out.pos();
  std::size_t count = 0;
  bool atLineStart = true;
  std::size_t matched = 0;  // characters of countPrefix matched at this line's start
  for (;;) {
    const long r = sysRead(fd, s.copy, kCopyChunk);
    if (r <= 0) break;
    if (countPrefix != nullptr) {
      for (long i = 0; i < r; ++i) {
        const char c = static_cast<char>(s.copy[i]);
        if (atLineStart && countPrefix[matched] != 0 && c == countPrefix[matched]) {
          if (countPrefix[++matched] == 0) ++count;
        } else {
          atLineStart = false;
        }
        if (c == '\n') atLineStart = true, matched = 0;
      }
    }
    out.write(s.copy, static_cast<std::size_t>(r));
  }
  sysClose(fd);
  addStream(s, type, start, out);
  return count;
}

// A MINIDUMP_STRING (byte length, UTF-16LE, terminator) of UTF-8 text.
// Signal-safe.
std::uint32_t writeString(Output& out, Scratch& s, const char* text) {
  std::size_t units = 0;
  std::uint8_t* u = s.utf16 + 4;
  const std::size_t capacity = (sizeof s.utf16 - 6) / 2;
  auto emit = [&](std::uint32_t unit) {
    if (units < capacity) put16(u + 2 * units++, static_cast<std::uint16_t>(unit));
  };
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
    std::uint32_t cp = *p;
    int extra = cp < 0x80 ? 0 : (cp >> 5) == 6 ? 1 : (cp >> 4) == 14 ? 2 : (cp >> 3) == 30 ? 3 : -1;
    ++p;
    if (extra < 0) {
      emit(0xFFFD);
      continue;
    }
    cp &= extra == 0 ? 0x7F : (0x3F >> extra);
    bool ok = true;
    for (int i = 0; i < extra; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (*p & 0x3F);
    }
    if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      emit(0xFFFD);
    } else if (cp >= 0x10000) {
      emit(0xD800 + ((cp - 0x10000) >> 10));
      emit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      emit(cp);
    }
  }
  put32(s.utf16, static_cast<std::uint32_t>(2 * units));
  put16(u + 2 * units, 0);
  out.align8();
  const std::uint32_t rva = out.rva();
  out.write(s.utf16, 4 + 2 * units + 2);
  return rva;
}

// ---------------------------------------------------------------------------
// Register contexts (AMD64 CONTEXT).

#if defined(__x86_64__)
// Signal-safe.
void contextFromSignal(const ucontext_t& uc, std::uint8_t* c) {
  zeroBytes(c, kContextSize);
  const greg_t* g = uc.uc_mcontext.gregs;
  put32(c + 48, kContextFull);
  put16(c + 56, static_cast<std::uint16_t>(g[REG_CSGSFS] & 0xFFFF));
  put16(c + 64, static_cast<std::uint16_t>((g[REG_CSGSFS] >> 16) & 0xFFFF));
  put16(c + 62, static_cast<std::uint16_t>((g[REG_CSGSFS] >> 32) & 0xFFFF));
  put32(c + 68, static_cast<std::uint32_t>(g[REG_EFL]));
  const int order[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                         REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
  for (int i = 0; i < 16; ++i) put64(c + 120 + 8 * i, static_cast<std::uint64_t>(g[order[i]]));
  put64(c + 248, static_cast<std::uint64_t>(g[REG_RIP]));
  if (uc.uc_mcontext.fpregs != nullptr) {
    copyBytes(c + 256, uc.uc_mcontext.fpregs, 512);
    put32(c + 52, uc.uc_mcontext.fpregs->mxcsr);
  }
}

// Signal-safe.
void contextFromTrace(const user_regs_struct& r, const user_fpregs_struct& fp, bool haveFp, std::uint8_t* c) {
  zeroBytes(c, kContextSize);
  put32(c + 48, kContextFull);
  put16(c + 56, static_cast<std::uint16_t>(r.cs));
  put16(c + 58, static_cast<std::uint16_t>(r.ds));
  put16(c + 60, static_cast<std::uint16_t>(r.es));
  put16(c + 62, static_cast<std::uint16_t>(r.fs));
  put16(c + 64, static_cast<std::uint16_t>(r.gs));
  put16(c + 66, static_cast<std::uint16_t>(r.ss));
  put32(c + 68, static_cast<std::uint32_t>(r.eflags));
  const unsigned long long regs[16] = {r.rax, r.rcx, r.rdx, r.rbx, r.rsp, r.rbp, r.rsi, r.rdi,
                                       r.r8,  r.r9,  r.r10, r.r11, r.r12, r.r13, r.r14, r.r15};
  for (int i = 0; i < 16; ++i) put64(c + 120 + 8 * i, regs[i]);
  put64(c + 248, r.rip);
  if (haveFp) {
    copyBytes(c + 256, &fp, 512);
    put32(c + 52, fp.mxcsr);
  }
}

// Signal-safe.
std::uint64_t currentFsBase() {
  unsigned long base = 0;
  if (syscall(SYS_arch_prctl, ARCH_GET_FS, &base) != 0) return 0;
  return base;
}
#endif

// Signal-safe.
std::uint64_t stackPointer(const std::uint8_t* context) { return get64(context + 152); }

// ---------------------------------------------------------------------------
// The other threads, stopped and read through ptrace from a child process.

// Signal-safe (runs in the child).
void attachThreads(Scratch& s, const Target& t) {
#if defined(__x86_64__)
  const long dir = openProcFile(t.pid, "task", O_DIRECTORY);
  if (dir < 0) return;
  alignas(8) char buffer[1024];
  for (;;) {
    const long n = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const std::uint16_t recordLength = static_cast<std::uint16_t>(static_cast<unsigned char>(buffer[at + 16]) |
                                                                    (static_cast<unsigned char>(buffer[at + 17]) << 8));
      const char* name = buffer + at + 19;
      at += recordLength;
      if (recordLength == 0) break;
      std::uint64_t tid = 0;
      bool numeric = *name != 0;
      for (const char* p = name; *p != 0; ++p) {
        if (*p < '0' || *p > '9') numeric = false;
        tid = tid * 10 + static_cast<unsigned>(*p - '0');
      }
      if (!numeric || tid == t.tid || s.threadCount == kMaxThreads) continue;
      if (syscall(SYS_ptrace, PTRACE_SEIZE, tid, 0, 0) != 0) continue;
      ThreadRecord& rec = s.threads[s.threadCount];
      rec.tid = static_cast<std::uint32_t>(tid);
      rec.attached = true;
      ++s.threadCount;  // counted now so that it is detached whatever happens
      int status = 0;
      if (syscall(SYS_ptrace, PTRACE_INTERRUPT, tid, 0, 0) != 0 ||
          syscall(SYS_wait4, tid, &status, __WALL, nullptr) != static_cast<long>(tid) || !WIFSTOPPED(status)) {
        rec.stackSize = 0;
        put32(rec.context + 48, 0);  // no registers: the thread is dropped below
        continue;
      }
      user_regs_struct regs;
      user_fpregs_struct fp;
      if (syscall(SYS_ptrace, PTRACE_GETREGS, tid, 0, &regs) != 0) {
        put32(rec.context + 48, 0);
        continue;
      }
      const bool haveFp = syscall(SYS_ptrace, PTRACE_GETFPREGS, tid, 0, &fp) == 0;
      contextFromTrace(regs, fp, haveFp, rec.context);
      rec.teb = regs.fs_base;
    }
  }
  sysClose(dir);
#else
  (void)s, (void)t;
#endif
}

// Signal-safe.
void detachThreads(Scratch& s) {
  for (std::size_t i = 0; i < s.threadCount; ++i)
    if (s.threads[i].attached) syscall(SYS_ptrace, PTRACE_DETACH, s.threads[i].tid, 0, 0);
}

// ---------------------------------------------------------------------------
// The streams.

// Signal-safe.
void findStacks(Scratch& s, const Target& t) {
  LineReader lines(t.pid, "maps", s.line);
  if (!lines.opened()) return;
  std::size_t length;
  Mapping m;
  while (lines.next(&length)) {
    if (!parseMapping(s.line, &m) || m.perms[0] != 'r') continue;
    for (std::size_t i = 0; i < s.threadCount; ++i) {
      ThreadRecord& rec = s.threads[i];
      const std::uint64_t sp = stackPointer(rec.context);
      if (sp < m.start || sp >= m.end) continue;
      std::uint64_t start = sp - kRedZone < m.start ? m.start : sp - kRedZone;
      start &= ~std::uint64_t{15};
      if (m.end - start > kMaxStackBytes) start = m.end - kMaxStackBytes;
      rec.stackStart = start;
      rec.stackSize = m.end - start;
    }
  }
}

// Every readable private mapping that holds memory. The resident size in
// smaps tells reserved address space (which reads as zeros) from memory in
// use; mappings above kMaxMappingBytes are reservations too (sanitizer
// shadows span terabytes with a few pages in use) and are left out.
// Signal-safe.
void writeFullMemory(Output& out, Scratch& s, const Target& t) {
  LineReader lines(t.pid, "smaps", s.line);
  if (!lines.opened()) return;
  std::size_t length;
  Mapping m;
  std::uint64_t start = 0, end = 0;
  bool wanted = false;
  while (lines.next(&length) && !out.failed()) {
    if (parseMapping(s.line, &m)) {
      wanted = m.perms[0] == 'r' && m.perms[3] == 'p' && m.end - m.start <= kMaxMappingBytes &&
               !sameText(m.path, "[vvar]") && !sameText(m.path, "[vsyscall]");
      start = m.start, end = m.end;
      continue;
    }
    if (!wanted || length < 4 || s.line[0] != 'R' || s.line[1] != 's' || s.line[2] != 's' || s.line[3] != ':') continue;
    wanted = false;
    const char* p = s.line + 4;
    while (*p == ' ') ++p;
    if (*p == '0' || *p < '0' || *p > '9') continue;  // nothing resident
    // Descriptors hold 32-bit sizes: large mappings go in pieces.
    for (std::uint64_t at = start; at < end && s.rangeCount < kMaxRanges;) {
      std::uint64_t size = end - at;
      if (size > (1ull << 30)) size = 1ull << 30;
      if (!out.roomFor(size)) break;
      s.ranges[s.rangeCount++] = {at, size, out.rva()};
      copyMemory(out, s, t, at, size);
      at += size;
    }
  }
}

// Each stack goes into the memory list once: inside a range that full memory
// already holds, or as a range of its own.
// Signal-safe.
void writeStacks(Output& out, Scratch& s, const Target& t) {
  for (std::size_t i = 0; i < s.threadCount; ++i) {
    ThreadRecord& rec = s.threads[i];
    if (rec.stackSize == 0) continue;
    bool inside = false;
    for (std::size_t r = 0; r < s.rangeCount && !inside; ++r) {
      const Range& range = s.ranges[r];
      if (rec.stackStart >= range.start && rec.stackStart + rec.stackSize <= range.start + range.size) {
        rec.stackRva = static_cast<std::uint32_t>(range.rva + (rec.stackStart - range.start));
        inside = true;
      }
    }
    if (inside) continue;
    if (s.rangeCount == kMaxRanges || !out.roomFor(rec.stackSize)) {
      rec.stackSize = 0;
      continue;
    }
    out.align8();
    rec.stackRva = out.rva();
    s.ranges[s.rangeCount++] = {rec.stackStart, rec.stackSize, rec.stackRva};
    copyMemory(out, s, t, rec.stackStart, rec.stackSize);
  }
}

// Signal-safe.
void writeThreadList(Output& out, Scratch& s) {
  for (std::size_t i = 0; i < s.threadCount; ++i) {
    ThreadRecord& rec = s.threads[i];
    if (get32(rec.context + 48) == 0) continue;
    out.align8();
    rec.contextRva = out.rva();
    out.write(rec.context, kContextSize);
  }
  out.align8();
  const std::uint64_t start = out.pos();
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < s.threadCount; ++i)
    if (get32(s.threads[i].context + 48) != 0) ++count;
  std::uint8_t head[4];
  put32(head, count);
  out.write(head, 4);
  for (std::size_t i = 0; i < s.threadCount; ++i) {
    const ThreadRecord& rec = s.threads[i];
    if (get32(rec.context + 48) == 0) continue;
    std::uint8_t e[kThreadSize] = {};
    put32(e, rec.tid);
    put64(e + 16, rec.teb);
    put64(e + 24, rec.stackStart);
    put32(e + 32, static_cast<std::uint32_t>(rec.stackSize));
    put32(e + 36, rec.stackSize != 0 ? rec.stackRva : 0);
    put32(e + 40, static_cast<std::uint32_t>(kContextSize));
    put32(e + 44, rec.contextRva);
    out.write(e, kThreadSize);
  }
  addStream(s, kThreadListStream, start, out);
}

// The GNU build id of the ELF image loaded at base, read from memory; its
// length (0 when there is none) with the bytes in out (up to 64).
// Signal-safe.
std::size_t readBuildId(Scratch& s, const Target& t, std::uint64_t base, std::uint8_t* out) {
  std::uint8_t ehdr[64];
  if (sysPread(t.memFd, ehdr, sizeof ehdr, base) != static_cast<long>(sizeof ehdr)) return 0;
  if (get32(ehdr) != 0x464C457F || ehdr[4] != 2 /* 64-bit */ || ehdr[5] != 1 /* little-endian */) return 0;
  const std::uint64_t phoff = get64(ehdr + 32);
  const std::uint16_t phentsize = static_cast<std::uint16_t>(ehdr[54] | (ehdr[55] << 8));
  std::uint16_t phnum = static_cast<std::uint16_t>(ehdr[56] | (ehdr[57] << 8));
  if (phentsize < 56 || phnum == 0) return 0;
  if (phnum > 64) phnum = 64;
  std::uint64_t bias = 0;
  bool haveBias = false;
  // The load bias: base minus the lowest loaded address the image asks for.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::uint16_t i = 0; i < phnum; ++i) {
      std::uint8_t ph[56];
      if (sysPread(t.memFd, ph, sizeof ph, base + phoff + std::uint64_t{i} * phentsize) != 56) return 0;
      const std::uint32_t type = get32(ph);
      const std::uint64_t vaddr = get64(ph + 16);
      if (pass == 0) {
        if (type == 1 /* PT_LOAD */ && !haveBias) bias = base - (vaddr & ~(kPageSize - 1)), haveBias = true;
        continue;
      }
      if (type != 4 /* PT_NOTE */) continue;
      std::uint64_t size = get64(ph + 32);
      if (size > sizeof s.notes) size = sizeof s.notes;
      std::uint8_t* notes = s.notes;
      if (sysPread(t.memFd, notes, static_cast<std::size_t>(size), bias + vaddr) != static_cast<long>(size)) continue;
      for (std::uint64_t at = 0; at + 12 <= size;) {
        const std::uint32_t nameSize = get32(notes + at), descSize = get32(notes + at + 4);
        const std::uint32_t noteType = get32(notes + at + 8);
        const std::uint64_t nameAt = at + 12, descAt = nameAt + ((nameSize + 3ull) & ~3ull);
        const std::uint64_t next = descAt + ((descSize + 3ull) & ~3ull);
        if (next > size) break;
        if (noteType == 3 /* NT_GNU_BUILD_ID */ && nameSize == 4 && get32(notes + nameAt) == 0x00554E47 /* "GNU" */ &&
            descSize > 0 && descSize <= 64) {
          copyBytes(out, notes + descAt, descSize);
          return descSize;
        }
        at = next;
      }
    }
    if (!haveBias) return 0;
  }
  return 0;
}

// Signal-safe.
void finishModule(Output& out, Scratch& s, const Target& t, ModuleRecord& mod) {
  mod.nameRva = writeString(out, s, s.modulePath);
  std::uint8_t cv[4 + 64];
  const std::size_t idLength = readBuildId(s, t, mod.base, cv + 4);
  if (idLength > 0) {
    put32(cv, kCodeViewElf);
    out.align8();
    mod.cvRva = out.rva();
    mod.cvSize = static_cast<std::uint32_t>(4 + idLength);
    out.write(cv, mod.cvSize);
  }
  ++s.moduleCount;
}

// One module per file mapped from offset 0; it ends with the last mapping of
// the same file.
// Signal-safe.
void writeModuleList(Output& out, Scratch& s, const Target& t) {
  LineReader lines(t.pid, "maps", s.line);
  if (!lines.opened()) return;
  std::size_t length;
  Mapping m;
  bool open = false;
  while (lines.next(&length) && !out.failed()) {
    if (!parseMapping(s.line, &m) || m.path[0] != '/' || m.inode == 0) continue;
    if (open && sameText(m.path, s.modulePath)) {
      s.modules[s.moduleCount].size = m.end - s.modules[s.moduleCount].base;
      continue;
    }
    if (m.offset != 0) continue;
    if (open) finishModule(out, s, t, s.modules[s.moduleCount]), open = false;
    if (s.moduleCount == kMaxModules || textLength(m.path) >= kLineCapacity) continue;
    copyBytes(s.modulePath, m.path, textLength(m.path) + 1);
    s.modules[s.moduleCount] = {m.start, m.end - m.start, 0, 0, 0};
    open = true;
  }
  if (open) finishModule(out, s, t, s.modules[s.moduleCount]);

  out.align8();
  const std::uint64_t start = out.pos();
  std::uint8_t head[4];
  put32(head, static_cast<std::uint32_t>(s.moduleCount));
  out.write(head, 4);
  for (std::size_t i = 0; i < s.moduleCount; ++i) {
    const ModuleRecord& mod = s.modules[i];
    std::uint8_t e[kModuleSize] = {};
    put64(e, mod.base);
    put32(e + 8, static_cast<std::uint32_t>(mod.size));
    put32(e + 20, mod.nameRva);
    put32(e + 24, 0xFEEF04BD);  // VS_FIXEDFILEINFO signature
    put32(e + 28, 0x00010000);  // and structure version
    put32(e + 76, mod.cvSize);
    put32(e + 80, mod.cvRva);
    out.write(e, kModuleSize);
  }
  addStream(s, kModuleListStream, start, out);
}

// Signal-safe.
void writeMemoryList(Output& out, Scratch& s) {
  out.align8();
  const std::uint64_t start = out.pos();
  std::uint8_t head[4];
  put32(head, static_cast<std::uint32_t>(s.rangeCount));
  out.write(head, 4);
  for (std::size_t i = 0; i < s.rangeCount; ++i) {
    std::uint8_t e[kMemoryDescriptorSize];
    put64(e, s.ranges[i].start);
    put32(e + 8, static_cast<std::uint32_t>(s.ranges[i].size));
    put32(e + 12, s.ranges[i].rva);
    out.write(e, sizeof e);
  }
  addStream(s, kMemoryListStream, start, out);
}

// Signal-safe.
void writeException(Output& out, Scratch& s, const Target& t) {
  const ThreadRecord& caller = s.threads[0];
  std::uint8_t e[kExceptionStreamSize] = {};
  put32(e, t.tid);
  put32(e + 8, static_cast<std::uint32_t>(t.info->si_signo));
  put32(e + 12, static_cast<std::uint32_t>(t.info->si_code));
  put64(e + 24, reinterpret_cast<std::uint64_t>(t.info->si_addr));
  put32(e + 160, static_cast<std::uint32_t>(kContextSize));
  put32(e + 164, caller.contextRva);
  out.align8();
  const std::uint64_t start = out.pos();
  out.write(e, sizeof e);
  addStream(s, kExceptionStream, start, out);
}

// Fills major.minor.patch from a release text such as "6.1.0-18-amd64".
// Signal-safe.
void parseRelease(const char* release, std::uint32_t* parts) {
  for (int i = 0; i < 3; ++i) {
    parts[i] = 0;
    while (*release >= '0' && *release <= '9') parts[i] = parts[i] * 10 + static_cast<unsigned>(*release++ - '0');
    if (*release != '.') break;
    ++release;
  }
}

// Signal-safe.
void writeSystemInfo(Output& out, Scratch& s, std::size_t processors) {
  std::uint8_t e[kSystemInfoSize] = {};
  put16(e, kArchitectureAmd64);
  struct utsname uts;
  const bool haveUts = syscall(SYS_uname, &uts) == 0;
#if defined(__x86_64__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d)) {
    put32(e + 32, b), put32(e + 36, d), put32(e + 40, c);  // "GenuineIntel" order
  }
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    put32(e + 44, a);
    put32(e + 48, d);
    const unsigned family = ((a >> 8) & 0xF) + ((a >> 20) & 0xFF);
    const unsigned model = ((a >> 4) & 0xF) | (((a >> 16) & 0xF) << 4);
    put16(e + 2, static_cast<std::uint16_t>(family));
    put16(e + 4, static_cast<std::uint16_t>((model << 8) | (a & 0xF)));
  }
  unsigned maxExtended = __get_cpuid_max(0x80000000, nullptr);
  if (maxExtended >= 0x80000001 && __get_cpuid(0x80000001, &a, &b, &c, &d)) put32(e + 52, c);
#endif
  e[6] = static_cast<std::uint8_t>(processors > 255 ? 255 : processors == 0 ? 1 : processors);
  e[7] = 1;  // workstation
  std::uint32_t version[3] = {};
  if (haveUts) parseRelease(uts.release, version);
  put32(e + 8, version[0]);
  put32(e + 12, version[1]);
  put32(e + 16, version[2]);
  put32(e + 20, kPlatformLinux);
  // The service-pack text holds the whole kernel identification.
  char csd[sizeof uts.sysname + sizeof uts.release + sizeof uts.version + sizeof uts.machine + 4] = {};
  if (haveUts) {
    char* p = csd;
    const char* partsText[4] = {uts.sysname, uts.release, uts.version, uts.machine};
    for (int i = 0; i < 4; ++i) {
      if (i > 0) *p++ = ' ';
      const std::size_t n = textLength(partsText[i]);
      copyBytes(p, partsText[i], n);
      p += n;
    }
    *p = 0;
  }
  put32(e + 24, writeString(out, s, csd));
  out.align8();
  const std::uint64_t start = out.pos();
  out.write(e, sizeof e);
  addStream(s, kSystemInfoStream, start, out);
}

// Signal-safe.
void writeMiscInfo(Output& out, Scratch& s, const Target& t) {
  std::uint8_t e[kMiscInfoSize] = {};
  put32(e, kMiscInfoSize);
  put32(e + 4, 1);  // the process id is valid
  put32(e + 8, static_cast<std::uint32_t>(t.pid));
  out.align8();
  const std::uint64_t start = out.pos();
  out.write(e, sizeof e);
  addStream(s, kMiscInfoStream, start, out);
}

// The whole file: streams first, the directory after them, then the header,
// and its signature last of all.
// Signal-safe.
bool writeFile(int fd, Scratch& s, const Target& t) {
  Output out(fd);
  out.zeros(kHeaderSize);

  const std::size_t processors = copyProcFile(out, s, t, "/proc/cpuinfo", kLinuxCpuInfo, "processor");
  copyProcFile(out, s, t, "status", kLinuxProcStatus);
  copyProcFile(out, s, t, "cmdline", kLinuxCmdLine);
  copyProcFile(out, s, t, "auxv", kLinuxAuxv);
  copyProcFile(out, s, t, "maps", kLinuxMaps);
  writeSystemInfo(out, s, processors);
  writeMiscInfo(out, s, t);

  findStacks(s, t);
  if (t.type & MiniDumpWithFullMemory) writeFullMemory(out, s, t);
  writeStacks(out, s, t);
  writeThreadList(out, s);
  writeModuleList(out, s, t);
  writeMemoryList(out, s);
  writeException(out, s, t);

  out.align8();
  const std::uint32_t directoryRva = out.rva();
  for (std::size_t i = 0; i < s.streamCount; ++i) {
    std::uint8_t e[kDirectoryEntrySize];
    put32(e, s.streams[i].type);
    put32(e + 4, s.streams[i].size);
    put32(e + 8, s.streams[i].rva);
    out.write(e, sizeof e);
  }

  std::uint8_t header[kHeaderSize] = {};
  put32(header + 4, kVersion);
  put32(header + 8, static_cast<std::uint32_t>(s.streamCount));
  put32(header + 12, directoryRva);
  struct timespec now = {};
  syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
  put32(header + 20, static_cast<std::uint32_t>(now.tv_sec));
  put64(header + 24, static_cast<std::uint64_t>(t.type));
  out.writeAt(4, header + 4, kHeaderSize - 4);
  if (out.failed()) return false;
  syscall(SYS_fdatasync, fd);
  std::uint8_t signature[4];
  put32(signature, kSignature);
  out.writeAt(0, signature, 4);
  return !out.failed();
}

// The kernel's sigaction record, for rt_sigaction without the C library.
struct KernelSigaction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  std::uint64_t mask;
};

// Signal-safe.
void setDefaultAction(int signo) {
  KernelSigaction action = {};
  action.handler = SIG_DFL;
  syscall(SYS_rt_sigaction, signo, &action, nullptr, sizeof action.mask);
}

// Writes the dump from a child process that stops and reads the other
// threads; false when no child could be started (nothing written then).
// *ok tells whether the child wrote a whole dump.
// Signal-safe.
bool writeFromChild(int fd, Scratch& s, Target t, bool* ok) {
  int gate[2];
  if (syscall(SYS_pipe2, gate, O_CLOEXEC) != 0) return false;
  // A plain fork (exit signal 0, so that the application's SIGCHLD handler
  // never hears of it) without the C library's fork handlers, which may take
  // locks that a faulting thread holds.
  const long child = syscall(SYS_clone, 0ul, nullptr, nullptr, nullptr, nullptr);
  if (child < 0) {
    sysClose(gate[0]), sysClose(gate[1]);
    return false;
  }
  if (child == 0) {
    sysClose(gate[1]);
    // The child inherits the application's crash handlers; a fault in the
    // child must end the child, not write a dump of it over this one.
    for (int signo : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) setDefaultAction(signo);
    char go = 0;
    sysRead(gate[0], &go, 1);  // until the parent allows the tracing
    sysClose(gate[0]);
    attachThreads(s, t);
    long memFd = openProcFile(t.pid, "mem");
    // Without access to the parent's memory the child's own copy, taken at
    // the fork, still holds the calling thread's stack as it was.
    if (memFd < 0) memFd = sysOpen("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    t.memFd = memFd;
    const bool written = memFd >= 0 && writeFile(fd, s, t);
    detachThreads(s);
    syscall(SYS_exit_group, written ? 0 : 1);
  }
  sysClose(gate[0]);
  // With Yama's restricted tracing only a named process may trace us.
  syscall(SYS_prctl, PR_SET_PTRACER, child, 0, 0, 0);
  const char go = 1;
  syscall(SYS_write, gate[1], &go, 1);
  sysClose(gate[1]);
  int status = 0;
  long r;
  do r = syscall(SYS_wait4, child, &status, __WALL, nullptr);
  while (r < 0 && errno == EINTR);
  syscall(SYS_prctl, PR_SET_PTRACER, 0, 0, 0, 0);
  *ok = r == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return true;
}

}  // namespace

// Signal-safe: the native path is built in a buffer on the stack.
int createDumpFile(const wchar_t* fileName) {
  if (fileName == nullptr) return -1;
  char path[PATH_MAX];
  std::size_t n = 0;
  for (const wchar_t* p = fileName; *p != 0; ++p) {
    auto cp = static_cast<std::uint32_t>(*p);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp == '\\') cp = '/';
    char bytes[4];
    std::size_t len;
    if (cp < 0x80) {
      bytes[0] = static_cast<char>(cp), len = 1;
    } else if (cp < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | (cp >> 6)), bytes[1] = static_cast<char>(0x80 | (cp & 0x3F)), len = 2;
    } else if (cp < 0x10000) {
      bytes[0] = static_cast<char>(0xE0 | (cp >> 12)), bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (cp & 0x3F)), len = 3;
    } else {
      bytes[0] = static_cast<char>(0xF0 | (cp >> 18)), bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
      len = 4;
    }
    if (n + len >= sizeof path) return -1;  // beyond the platform's limit: no dump
    copyBytes(path + n, bytes, len);
    n += len;
  }
  if (n == 0) return -1;
  path[n] = 0;
  const long fd = sysOpen(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? -1 : static_cast<int>(fd);
}

// Signal-safe.
void closeDumpFile(int fd) {
  if (fd < 0) return;
  syscall(SYS_fdatasync, fd);
  sysClose(fd);
}

// Signal-safe.
bool writeMiniDump(int fd, const EXCEPTION_POINTERS& exception, MINIDUMP_TYPE type) {
#if defined(__x86_64__)
  if (fd < 0 || exception.ExceptionRecord == nullptr || exception.ContextRecord == nullptr) return false;
  const int savedErrno = errno;
  Scratch* s = mapScratch();
  if (s == nullptr) return false;
  ThreadRecord& caller = s->threads[0];
  caller.tid = static_cast<std::uint32_t>(sysGettid());
  caller.teb = currentFsBase();
  contextFromSignal(*exception.ContextRecord, caller.context);
  s->threadCount = 1;

  Target t{sysGetpid(), -1, caller.tid, exception.ExceptionRecord, type};
  bool ok = false;
  if (!writeFromChild(fd, *s, t, &ok)) {
    // No child: write from here, with the calling thread only.
    t.memFd = sysOpen("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    ok = t.memFd >= 0 && writeFile(fd, *s, t);
    sysClose(t.memFd);
  }
  unmapScratch(s);
  errno = savedErrno;
  return ok;
#else
  (void)fd, (void)exception, (void)type;
  return false;  // only AMD64 register contexts are written
#endif
}

// ---------------------------------------------------------------------------
// The breakpoint.

namespace {

struct BreakpointRequest {
  BreakpointFilter filter = nullptr;
  void* context = nullptr;
  long tid = 0;
  struct sigaction previous = {};
};

// Guarded by breakpointLock() (written before the handler is installed, read
// by the handler on the requesting thread).
BreakpointRequest g_request;

// Not signal-safe: builds a static on first use.
std::mutex& breakpointLock() {
  static std::mutex lock;
  return lock;
}

// Signal-safe.
void onBreakpoint(int signo, siginfo_t* info, void* context) {
  if (sysGettid() != g_request.tid) {
    // Another thread's trap while ours is pending: hand it to the handler the
    // process had before.
    const struct sigaction& prev = g_request.previous;
    if ((prev.sa_flags & SA_SIGINFO) != 0 && prev.sa_sigaction != nullptr) {
      prev.sa_sigaction(signo, info, context);
    } else if (prev.sa_handler != SIG_IGN && prev.sa_handler != SIG_DFL && prev.sa_handler != nullptr) {
      prev.sa_handler(signo);
    } else if (prev.sa_handler == SIG_DFL) {
      // The default action ends the process; it does so once this handler
      // returns and the signal is unblocked.
      setDefaultAction(SIGTRAP);
      syscall(SYS_tgkill, sysGetpid(), sysGettid(), SIGTRAP);
    }
    return;
  }
  EXCEPTION_POINTERS pointers{info, static_cast<ucontext_t*>(context)};
  g_request.filter(pointers, g_request.context);
}

}  // namespace

// Not signal-safe: takes a lock and changes the process's SIGTRAP handler.
bool raiseBreakpoint(BreakpointFilter filter, void* context) {
  if (filter == nullptr) return false;
  std::lock_guard<std::mutex> hold(breakpointLock());
  g_request.filter = filter;
  g_request.context = context;
  g_request.tid = sysGettid();

  struct sigaction action = {};
  action.sa_sigaction = &onBreakpoint;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGTRAP, &action, &g_request.previous) != 0) return false;
  // A blocked SIGTRAP raised by the processor would kill the process.
  sigset_t trap, oldMask;
  sigemptyset(&trap);
  sigaddset(&trap, SIGTRAP);
  pthread_sigmask(SIG_UNBLOCK, &trap, &oldMask);
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("int3" ::: "memory");
#else
  raise(SIGTRAP);
#endif
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGTRAP, &g_request.previous, nullptr);
  g_request = BreakpointRequest();
  return true;
}

}  // namespace mox::platform
