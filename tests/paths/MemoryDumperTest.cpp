#include "mox_utils/paths/MemoryDumper.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mox_utils/paths/MiniDumpFile.h"
#include "mox_utils/platform/DebugOutput.h"
#include "mox_utils/platform/MiniDump.h"
#include "mox_utils/platform/Text.h"
#include "support/ScratchDir.h"

namespace fs = std::filesystem;
using mox::detail::MiniDumpFile;

// Outside the anonymous namespace so that debuggers print its plain name.
namespace mox_dump_test {
__attribute__((noinline)) void askForDumpHere(const std::wstring& file, MINIDUMP_TYPE type) {
  MemoryDumper::GenerateMiniDump(file.c_str(), nullptr, type);
  asm volatile("" ::: "memory");  // keeps the call from becoming a tail call
}
}  // namespace mox_dump_test

namespace {

using mox_dump_test::askForDumpHere;

constexpr std::uint32_t kSigtrap = 5;
constexpr std::uint32_t kSigsegv = 11;
constexpr std::uint32_t kSegvMapErr = 1;  // si_code of an access to an unmapped address

using mox::test::ScratchDir;

// The debugger output. The sink runs inside a signal handler, so it records
// into fixed storage without allocating.
wchar_t g_debugTexts[8][64];
int g_debugCount = 0;

void recordDebugText(const wchar_t* text) {
  if (g_debugCount == 8) return;
  wchar_t* to = g_debugTexts[g_debugCount++];
  std::size_t n = 0;
  for (; text[n] != 0 && n + 1 < 64; ++n) to[n] = text[n];
  to[n] = 0;
}

// What `body` sends to the debugger output.
template <typename Body>
std::vector<std::wstring> debugOutputOf(Body body) {
  g_debugCount = 0;
  const auto previous = mox::platform::setDebugOutputSink(&recordDebugText);
  body();
  mox::platform::setDebugOutputSink(previous);
  return std::vector<std::wstring>(g_debugTexts, g_debugTexts + g_debugCount);
}

// Standard output of a shell command.
std::string run(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int raw = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

// The GNU build id of a file on disk, in hex, as readelf finds it through the
// section headers (the writer reads the loaded image's program headers).
std::string buildIdOfFile(const std::string& path) {
  const std::string notes = run("readelf -n " + path + " 2>/dev/null");
  const std::size_t at = notes.find("Build ID: ");
  return at == std::string::npos ? "" : notes.substr(at + 10, notes.find('\n', at) - at - 10);
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char digits[3];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

// lldb's backtrace of the thread that took the exception in a dump.
std::string lldbBacktrace(const std::string& dump, const std::string& executable) {
  return run("/usr/bin/lldb --batch -c " + dump + " " + executable + " -o 'thread backtrace' 2>/dev/null");
}

bool executable(const char* path) { return access(path, X_OK) == 0; }

// Yama's admin-only or disabled tracing (scope 2 or 3) keeps the dump to the
// calling thread.
bool tracingRestricted() {
  std::ifstream in("/proc/sys/kernel/yama/ptrace_scope");
  int scope = 0;
  return (in >> scope) && scope >= 2;
}

// Runs body in a child process; returns how it ended (the raw wait status).
template <typename Body>
int inChild(Body body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

TEST(MemoryDumperTest, BreakpointDumpRecordsTheCallerAndReturns) {
  ScratchDir dir;
  volatile std::uint64_t marker = 0x5AFEC0DE0BADF00Dull;
  EXPECT_EQ(debugOutputOf([&] { askForDumpHere(dir.wide("bp.dmp"), MiniDumpNormal); }),
            (std::vector<std::wstring>{L"raising exception\r\n", L"writing minidump\r\n"}));
  marker = marker + 1;  // the caller continues normally
  EXPECT_EQ(marker, 0x5AFEC0DE0BADF00Eull);

  MiniDumpFile dump;
  std::string error;
  ASSERT_TRUE(dump.load(dir.wide("bp.dmp"), &error)) << error;
  EXPECT_EQ(dump.architecture(), 9);  // AMD64
  EXPECT_EQ(dump.processId(), static_cast<std::uint32_t>(getpid()));
  for (std::uint32_t type : {3u, 4u, 5u, 6u, 7u, 15u, 0x47670003u, 0x47670004u, 0x47670009u}) {
    SCOPED_TRACE(type);
    EXPECT_FALSE(dump.streamData(type).empty());
  }

  ASSERT_TRUE(dump.hasException());
  EXPECT_EQ(dump.exception().code, kSigtrap);
  EXPECT_EQ(dump.exception().threadId, mox::platform::currentThreadId());
  const mox::detail::MiniDumpThread* self = nullptr;
  for (const auto& t : dump.threads())
    if (t.threadId == mox::platform::currentThreadId()) self = &t;
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->contextRva, dump.exception().contextRva);

  // The stack in the dump is this thread's: it holds the marker as it was.
  std::string bytes;
  ASSERT_TRUE(dump.readMemory(reinterpret_cast<std::uintptr_t>(&marker), sizeof marker, &bytes));
  const std::uint64_t before = 0x5AFEC0DE0BADF00Dull;
  EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(&before), sizeof before));
  EXPECT_LE(self->stackStart, self->stackPointer);

  // The test binary is a module with its build id, and the breakpoint lies
  // in it (the dump code is linked in statically).
  const std::string exe = fs::canonical("/proc/self/exe").string();
  const std::string expectedId = buildIdOfFile(exe);
  ASSERT_FALSE(expectedId.empty());
  bool found = false;
  for (const auto& m : dump.modules()) {
    if (m.name != exe) continue;
    found = true;
    EXPECT_EQ(hex(m.buildId), expectedId);
    EXPECT_GE(self->instructionPointer, m.base);
    EXPECT_LT(self->instructionPointer, m.base + m.size);
  }
  EXPECT_TRUE(found);

  // A debugger unwinds from the breakpoint into the function that asked.
  if (!executable("/usr/bin/lldb")) GTEST_SKIP() << "lldb is not installed";
  const std::string trace = lldbBacktrace((dir.path() / "bp.dmp").string(), exe);
  EXPECT_NE(trace.find("stop reason = signal SIGTRAP"), std::string::npos) << trace;
  EXPECT_NE(trace.find("askForDumpHere"), std::string::npos) << trace;
  EXPECT_NE(trace.find("BreakpointDumpRecordsTheCallerAndReturns"), std::string::npos) << trace;
}

TEST(MemoryDumperTest, SignalDumpRecordsTheFaultAndEveryThread) {
  ScratchDir dir;
  static std::wstring file;
  file = dir.wide("segv.dmp");
  int pids[2];
  ASSERT_EQ(pipe(pids), 0);
  const int status = inChild([&] {
    // Two parked threads beside the one that faults.
    std::atomic<int> parked{0};
    for (int i = 0; i < 2; ++i) {
      std::thread([&] {
        ++parked;
        for (;;) pause();
      }).detach();
    }
    while (parked.load() < 2) std::this_thread::yield();
    static char altStack[128 * 1024];
    stack_t stack = {};
    stack.ss_sp = altStack;
    stack.ss_size = sizeof altStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action = {};
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    action.sa_sigaction = [](int, siginfo_t* info, void* context) {
      EXCEPTION_POINTERS pointers{info, static_cast<ucontext_t*>(context)};
      MemoryDumper::GenerateMiniDump(file.c_str(), &pointers, MiniDumpNormal);
      _exit(0);
    };
    sigaction(SIGSEGV, &action, nullptr);
    // The faulting thread first, then every thread of the process (runtimes
    // such as sanitizers add their own).
    std::vector<std::uint32_t> ids{mox::platform::currentThreadId()};
    for (const auto& entry : fs::directory_iterator("/proc/self/task"))
      ids.push_back(static_cast<std::uint32_t>(std::stoul(entry.path().filename().string())));
    (void)!write(pids[1], ids.data(), ids.size() * sizeof ids[0]);
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
  });
  close(pids[1]);
  std::uint32_t ids[64];
  const ssize_t got = read(pids[0], ids, sizeof ids);
  close(pids[0]);
  ASSERT_GE(got, 16);  // the faulting thread and at least three in the process
  const std::uint32_t faultingThread = ids[0];
  std::set<std::uint32_t> expectedThreads(ids + 1, ids + got / 4);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  MiniDumpFile dump;
  std::string error;
  ASSERT_TRUE(dump.load(file, &error)) << error;
  ASSERT_TRUE(dump.hasException());
  EXPECT_EQ(dump.exception().code, kSigsegv);
  EXPECT_EQ(dump.exception().flags, kSegvMapErr);
  EXPECT_EQ(dump.exception().address, 0x10u);
  EXPECT_EQ(dump.exception().threadId, faultingThread);
  std::set<std::uint32_t> dumpedThreads;
  for (const auto& t : dump.threads()) dumpedThreads.insert(t.threadId);
  EXPECT_EQ(dumpedThreads, tracingRestricted() ? std::set<std::uint32_t>{faultingThread} : expectedThreads);
  // Every thread has registers and a stack that the memory list holds.
  for (const auto& t : dump.threads()) {
    SCOPED_TRACE(t.threadId);
    EXPECT_NE(t.instructionPointer, 0u);
    EXPECT_GT(t.stackSize, 0u);
    std::string bytes;
    EXPECT_TRUE(dump.readMemory(t.stackPointer, 8, &bytes));
  }
}

// The dump type decides whether the heap is in the dump; obj2yaml, where it
// is installed, decodes every stream of either kind.
TEST(MemoryDumperTest, DumpTypeSelectsTheMemory) {
  std::vector<std::uint8_t> heap(64 * 1024);
  for (std::size_t i = 0; i < heap.size(); ++i) heap[i] = static_cast<std::uint8_t>(i * 7 + 3);
  for (const MINIDUMP_TYPE type : {MiniDumpNormal, MiniDumpWithFullMemory}) {
    SCOPED_TRACE(type);
    ScratchDir dir;
    MemoryDumper::GenerateMiniDump(dir.wide("t.dmp").c_str(), nullptr, type);
    MiniDumpFile dump;
    std::string error;
    ASSERT_TRUE(dump.load(dir.wide("t.dmp"), &error)) << error;
    EXPECT_EQ(dump.flags(), static_cast<std::uint64_t>(type));
    std::string bytes;
    const bool present = dump.readMemory(reinterpret_cast<std::uintptr_t>(heap.data()), heap.size(), &bytes);
    EXPECT_EQ(present, type == MiniDumpWithFullMemory);
    if (present) {
      EXPECT_EQ(bytes, std::string(heap.begin(), heap.end()));
    }

    // obj2yaml prints every dumped byte in hex, which takes minutes for the
    // heaps of sanitizer builds; their full dumps are checked by the reader.
    if (!executable("/usr/bin/obj2yaml") || fs::file_size(dir.path() / "t.dmp") > (64u << 20)) continue;
    int status = 0;
    const std::string yaml = run("/usr/bin/obj2yaml " + (dir.path() / "t.dmp").string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << yaml.substr(0, 2000);
    for (const char* stream : {"SystemInfo", "MiscInfo", "ThreadList", "ModuleList", "MemoryList", "Exception",
                               "LinuxMaps", "LinuxProcStatus", "LinuxCPUInfo"}) {
      EXPECT_NE(yaml.find(std::string("Type:            ") + stream), std::string::npos) << stream;
    }
  }
}

TEST(MemoryDumperTest, FileCreation) {
  ScratchDir dir;
  std::ofstream(dir.path() / "old.dmp", std::ios::binary) << std::string(4 << 20, 'x');
  fs::create_directory(dir.path() / "sub");
  std::wstring tooLong = dir.wide("");
  while (tooLong.size() < 5000) tooLong += L"./";
  tooLong += L"long.dmp";

  struct Case {
    const char* name;
    std::wstring file;
    fs::path expected;  // empty: no file is created
  } cases[] = {
      {"existing file is replaced", dir.wide("old.dmp"), dir.path() / "old.dmp"},
      {"backslashes name directories", dir.wide("sub\\w.dmp"), dir.path() / "sub" / "w.dmp"},
      {"missing directory", dir.wide("missing/x.dmp"), {}},
      {"beyond the path limit", tooLong, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto output = debugOutputOf([&] { MemoryDumper::GenerateMiniDump(c.file.c_str(), nullptr, MiniDumpNormal); });
    if (c.expected.empty()) {
      EXPECT_TRUE(output.empty());  // nothing is reported either
      continue;
    }
    MiniDumpFile dump;
    std::string error;
    EXPECT_TRUE(dump.load(mox::platform::utf8ToWide(c.expected.string()), &error)) << error;
    EXPECT_LT(fs::file_size(c.expected), 4u << 20);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "long.dmp"));
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
  MemoryDumper::GenerateMiniDump(nullptr, nullptr, MiniDumpNormal);  // nothing, no crash
}

// A dump cut short (here by the file size limit) never carries the signature.
TEST(MemoryDumperTest, DumpCutShortHasNoSignature) {
  ScratchDir dir;
  const std::wstring file = dir.wide("short.dmp");
  const int status = inChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {16 * 1024, 16 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    MemoryDumper::GenerateMiniDump(file.c_str(), nullptr, MiniDumpNormal);
  });
  ASSERT_TRUE(WIFEXITED(status));
  const fs::path path = dir.path() / "short.dmp";
  ASSERT_TRUE(fs::exists(path));
  std::ifstream in(path, std::ios::binary);
  char head[4] = {};
  in.read(head, 4);
  EXPECT_NE(std::string(head, 4), "MDMP");
  MiniDumpFile dump;
  std::string error;
  EXPECT_FALSE(dump.load(file, &error));
}

#ifdef MOX_TOOL_PATH
// The tool's crash-test command faults in a function of its own and checks
// the dump it wrote; without a dump it fails with one line.
TEST(MemoryDumperTest, CrashTestCommand) {
  int status = 0;
  std::string report =
      run(std::string(MOX_TOOL_PATH) + " crash-test /nonexistent-directory/crash.dmp 2>&1 >/dev/null", &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(report, "mox: no valid dump in /nonexistent-directory/crash.dmp: cannot read the file\n");

  ScratchDir dir;
  const std::string file = (dir.path() / "crash.dmp").string();
  report = run(std::string(MOX_TOOL_PATH) + " crash-test " + file + " 2>&1", &status);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("exception: SIGSEGV (11), code 1, address 0x10"), std::string::npos) << report;
  if (!executable("/usr/bin/lldb")) GTEST_SKIP() << "lldb is not installed";
  const std::string trace = lldbBacktrace(file, MOX_TOOL_PATH);
  EXPECT_NE(trace.find("stop reason = signal SIGSEGV"), std::string::npos) << trace;
  EXPECT_NE(trace.find("frame #0: "), std::string::npos) << trace;
  EXPECT_NE(trace.find("crashTestFault"), std::string::npos) << trace;
}
#endif

}  // namespace
