// A reader of the minidumps that MemoryDumper writes (Microsoft layout, as on
// Linux): the stream directory, threads, modules with their build ids, the
// memory list, the exception and the process id. For the tool's report and
// the tests; debuggers read the dumps themselves.
//
// parse() checks every offset and size against the bytes it is given and
// allocates in proportion to them, so damaged or hostile input gives false
// with a reason, never a read out of bounds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mox::detail {

struct MiniDumpStream {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  std::uint32_t rva = 0;
};

struct MiniDumpThread {
  std::uint32_t threadId = 0;
  std::uint64_t stackStart = 0;
  std::uint32_t stackSize = 0;
  std::uint32_t stackRva = 0;
  std::uint32_t contextSize = 0;
  std::uint32_t contextRva = 0;
  // From an AMD64 context (0 when the context is not one).
  std::uint64_t instructionPointer = 0;
  std::uint64_t stackPointer = 0;
};

struct MiniDumpModule {
  std::uint64_t base = 0;
  std::uint32_t size = 0;
  std::string name;                   // UTF-8
  std::vector<std::uint8_t> buildId;  // from a "BpEL" record; empty without one
};

struct MiniDumpMemory {
  std::uint64_t start = 0;
  std::uint32_t size = 0;
  std::uint32_t rva = 0;
};

struct MiniDumpException {
  std::uint32_t threadId = 0;
  std::uint32_t code = 0;   // the signal number on Linux
  std::uint32_t flags = 0;  // its si_code
  std::uint64_t address = 0;
  std::uint32_t contextRva = 0;
};

class MiniDumpFile {
 public:
  // Reads a dump from bytes; false with *error set when it is not a complete,
  // well-formed dump. A failed parse leaves the object empty.
  bool parse(std::string_view bytes, std::string* error);
  // Reads the file (up to maxBytes) and parses it.
  bool load(std::wstring_view path, std::string* error, std::uint64_t maxBytes = 1ull << 32);

  std::uint64_t fileSize() const { return m_size; }
  std::uint64_t flags() const { return m_flags; }  // the dump type it was written with
  const std::vector<MiniDumpStream>& streams() const { return m_streams; }
  const std::vector<MiniDumpThread>& threads() const { return m_threads; }
  const std::vector<MiniDumpModule>& modules() const { return m_modules; }
  const std::vector<MiniDumpMemory>& memory() const { return m_memory; }
  bool hasException() const { return m_hasException; }
  const MiniDumpException& exception() const { return m_exception; }
  // 0 when the dump does not name it.
  std::uint32_t processId() const { return m_processId; }
  std::uint16_t architecture() const { return m_architecture; }

  // The stream's bytes (empty when the dump has no such stream).
  std::string_view streamData(std::uint32_t type) const;
  // Copies size bytes of the dumped process's memory at address; false when
  // the memory list does not hold all of them in one range.
  bool readMemory(std::uint64_t address, std::size_t size, std::string* out) const;

 private:
  void clear();

  std::string m_bytes;
  std::uint64_t m_size = 0;
  std::uint64_t m_flags = 0;
  std::vector<MiniDumpStream> m_streams;
  std::vector<MiniDumpThread> m_threads;
  std::vector<MiniDumpModule> m_modules;
  std::vector<MiniDumpMemory> m_memory;
  bool m_hasException = false;
  MiniDumpException m_exception;
  std::uint32_t m_processId = 0;
  std::uint16_t m_architecture = 0;
};

// The name of a stream type ("ThreadList", "LinuxMaps", ...), or "" for one
// this reader does not know.
const char* miniDumpStreamName(std::uint32_t type);

}  // namespace mox::detail
