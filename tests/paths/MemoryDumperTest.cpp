#include "mox_utils/paths/MemoryDumper.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

using mox::test::ScratchDir;
using mox_dump_test::askForDumpHere;

// The streams every dump holds.
constexpr std::uint32_t kStreams[] = {3, 4, 5, 6, 7, 15, 0x47670003, 0x47670004, 0x47670009};

// The debugger output of `body`. The sink runs inside a signal handler, so it
// collects into fixed storage without allocating.
wchar_t g_debugText[256];
std::size_t g_debugLength = 0;

template <typename Body>
std::wstring debugOutputOf(Body body) {
  g_debugLength = 0;
  const auto previous = mox::platform::setDebugOutputSink([](const wchar_t* text) {
    while (*text != 0 && g_debugLength < 255) g_debugText[g_debugLength++] = *text++;
  });
  body();
  mox::platform::setDebugOutputSink(previous);
  return std::wstring(g_debugText, g_debugLength);
}

// Standard output of a shell command, and its exit status.
std::string run(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int raw = pipe != nullptr ? pclose(pipe) : -1;
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

bool installed(const char* tool) { return access(tool, X_OK) == 0; }

// lldb's backtrace of the thread that took the exception in a dump.
std::string lldbBacktrace(const std::string& dump, const std::string& executable) {
  return run("/usr/bin/lldb --batch -c " + dump + " " + executable + " -o 'thread backtrace' 2>/dev/null");
}

// Runs body in a child process; returns the raw wait status.
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

MiniDumpFile loaded(const std::wstring& file) {
  MiniDumpFile dump;
  std::string error;
  EXPECT_TRUE(dump.load(file, &error)) << error;
  return dump;
}

TEST(MemoryDumperTest, BreakpointDumpRecordsTheCallerAndReturns) {
  ScratchDir dir;
  volatile std::uint64_t marker = 0x5AFEC0DE0BADF00Dull;
  EXPECT_EQ(debugOutputOf([&] { askForDumpHere(dir.wide("bp.dmp"), MiniDumpNormal); }),
            L"raising exception\r\nwriting minidump\r\n");
  marker = 0;  // the caller continues; the dump keeps the value it had

  const MiniDumpFile dump = loaded(dir.wide("bp.dmp"));
  EXPECT_EQ(dump.architecture(), 9);  // AMD64
  EXPECT_EQ(dump.processId(), static_cast<std::uint32_t>(getpid()));
  for (const std::uint32_t type : kStreams) EXPECT_FALSE(dump.streamData(type).empty()) << type;
  ASSERT_TRUE(dump.hasException());
  EXPECT_EQ(dump.exception().code, static_cast<std::uint32_t>(SIGTRAP));
  EXPECT_EQ(dump.exception().threadId, mox::platform::currentThreadId());
  const auto self = std::find_if(dump.threads().begin(), dump.threads().end(),
                                 [](const auto& t) { return t.threadId == mox::platform::currentThreadId(); });
  ASSERT_NE(self, dump.threads().end());
  EXPECT_EQ(self->contextRva, dump.exception().contextRva);
  std::string bytes;
  ASSERT_TRUE(dump.readMemory(reinterpret_cast<std::uintptr_t>(&marker), sizeof marker, &bytes));
  EXPECT_EQ(bytes, "\x0D\xF0\xAD\x0B\xDE\xC0\xFE\x5A");

  // The test binary is a module with the build id readelf finds through the
  // section headers (the writer reads the loaded image's program headers),
  // and the breakpoint lies in it (the dump code is linked in statically).
  const std::string exe = fs::canonical("/proc/self/exe").string();
  const auto module =
      std::find_if(dump.modules().begin(), dump.modules().end(), [&](const auto& m) { return m.name == exe; });
  ASSERT_NE(module, dump.modules().end());
  std::string hex;
  for (const std::uint8_t byte : module->buildId) hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  const std::string notes = run("readelf -n " + exe);
  EXPECT_NE(notes.find("Build ID: " + hex + "\n"), std::string::npos) << notes;
  EXPECT_GE(self->instructionPointer, module->base);
  EXPECT_LT(self->instructionPointer, module->base + module->size);

  // A debugger unwinds from the breakpoint into the function that asked.
  if (!installed("/usr/bin/lldb")) GTEST_SKIP() << "lldb is not installed";
  const std::string trace = lldbBacktrace((dir.path() / "bp.dmp").string(), exe);
  EXPECT_NE(trace.find("stop reason = signal SIGTRAP"), std::string::npos) << trace;
  EXPECT_NE(trace.find("askForDumpHere"), std::string::npos) << trace;
  EXPECT_NE(trace.find("BreakpointDumpRecordsTheCallerAndReturns"), std::string::npos) << trace;
}

// A crash handler on an alternate stack dumps a real fault. The child sends
// the faulting thread's id and then every thread's (runtimes such as
// sanitizers add their own).
TEST(MemoryDumperTest, SignalDumpRecordsTheFaultAndEveryThread) {
  ScratchDir dir;
  static std::wstring file;
  file = dir.wide("segv.dmp");
  int ids[2];
  ASSERT_EQ(pipe(ids), 0);
  const int status = inChild([&] {
    std::atomic<int> parked{0};
    for (int i = 0; i < 2; ++i) {
      std::thread([&] {
        ++parked;
        for (;;) pause();
      }).detach();
    }
    while (parked.load() < 2) std::this_thread::yield();
    static char altStack[128 * 1024];
    stack_t stack = {altStack, 0, sizeof altStack};
    sigaltstack(&stack, nullptr);
    struct sigaction action = {};
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    action.sa_sigaction = [](int, siginfo_t* info, void* context) {
      EXCEPTION_POINTERS pointers{info, static_cast<ucontext_t*>(context)};
      MemoryDumper::GenerateMiniDump(file.c_str(), &pointers, MiniDumpNormal);
      _exit(0);
    };
    sigaction(SIGSEGV, &action, nullptr);
    std::vector<std::uint32_t> threads{mox::platform::currentThreadId()};
    for (const auto& task : fs::directory_iterator("/proc/self/task"))
      threads.push_back(std::stoul(task.path().filename()));
    (void)!write(ids[1], threads.data(), threads.size() * sizeof threads[0]);
    volatile std::uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
  });
  close(ids[1]);
  std::uint32_t sent[64];
  const ssize_t got = read(ids[0], sent, sizeof sent);
  close(ids[0]);
  ASSERT_GE(got, 16);  // the faulting thread and at least three in the process
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const MiniDumpFile dump = loaded(file);
  ASSERT_TRUE(dump.hasException());
  EXPECT_EQ(dump.exception().code, static_cast<std::uint32_t>(SIGSEGV));
  EXPECT_EQ(dump.exception().flags, static_cast<std::uint32_t>(SEGV_MAPERR));
  EXPECT_EQ(dump.exception().address, 0x10u);
  EXPECT_EQ(dump.exception().threadId, sent[0]);
  // Yama's admin-only or disabled tracing (scope 2 or 3) keeps the dump to
  // the faulting thread.
  int scope = 0;
  const bool tracingRestricted = (std::ifstream("/proc/sys/kernel/yama/ptrace_scope") >> scope) && scope >= 2;
  std::set<std::uint32_t> dumped;
  for (const auto& t : dump.threads()) {
    SCOPED_TRACE(t.threadId);
    dumped.insert(t.threadId);
    // Every thread has registers and a stack that the memory list holds.
    std::string bytes;
    EXPECT_NE(t.instructionPointer, 0u);
    EXPECT_TRUE(t.stackSize > 0 && dump.readMemory(t.stackPointer, 8, &bytes));
  }
  EXPECT_EQ(dumped,
            tracingRestricted ? std::set<std::uint32_t>{sent[0]} : std::set<std::uint32_t>(sent + 1, sent + got / 4));
}

// The dump type decides whether the heap is in the dump; obj2yaml, where it
// is installed, decodes every stream of either kind.
TEST(MemoryDumperTest, DumpTypeSelectsTheMemory) {
  std::string heap(64 * 1024, '\0');
  for (std::size_t i = 0; i < heap.size(); ++i) heap[i] = static_cast<char>(i * 7 + 3);
  for (const MINIDUMP_TYPE type : {MiniDumpNormal, MiniDumpWithFullMemory}) {
    SCOPED_TRACE(type);
    ScratchDir dir;
    MemoryDumper::GenerateMiniDump(dir.wide("t.dmp").c_str(), nullptr, type);
    const MiniDumpFile dump = loaded(dir.wide("t.dmp"));
    EXPECT_EQ(dump.flags(), static_cast<std::uint64_t>(type));
    std::string bytes;
    const bool present = dump.readMemory(reinterpret_cast<std::uintptr_t>(heap.data()), heap.size(), &bytes);
    EXPECT_EQ(present, type == MiniDumpWithFullMemory);
    if (present) {
      EXPECT_EQ(bytes, heap);
    }

    // obj2yaml prints every dumped byte in hex, which takes minutes for the
    // heaps of sanitizer builds; their full dumps are checked by the reader.
    if (!installed("/usr/bin/obj2yaml") || fs::file_size(dir.path() / "t.dmp") > (64u << 20)) continue;
    int status = 0;
    const std::string yaml = run("/usr/bin/obj2yaml " + (dir.path() / "t.dmp").string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << yaml.substr(0, 2000);
    // obj2yaml's names for the streams are the reader's.
    for (const std::uint32_t type : kStreams) {
      const std::string name = mox::detail::miniDumpStreamName(type);
      EXPECT_NE(yaml.find("Type:            " + name + "\n"), std::string::npos) << name;
    }
  }
}

// The file is created or replaced, with '\' read as '/'; where it cannot be
// created (missing directory, a name beyond the path limit, none) nothing is
// written and nothing reported.
TEST(MemoryDumperTest, FileCreation) {
  ScratchDir dir;
  std::ofstream(dir.path() / "old.dmp") << std::string(4 << 20, 'x');
  fs::create_directory(dir.path() / "sub");
  for (const auto& [given, written] : {std::pair{"old.dmp", "old.dmp"}, std::pair{"sub\\w.dmp", "sub/w.dmp"}}) {
    SCOPED_TRACE(given);
    MemoryDumper::GenerateMiniDump(dir.wide(given).c_str(), nullptr, MiniDumpNormal);
    loaded(dir.wide(written));
    EXPECT_LT(fs::file_size(dir.path() / written), 4u << 20);
  }
  std::wstring tooLong = dir.wide("");
  while (tooLong.size() < 5000) tooLong += L"./";
  for (const std::wstring& file : {dir.wide("missing/x.dmp"), tooLong + L"long.dmp"}) {
    EXPECT_EQ(debugOutputOf([&] { MemoryDumper::GenerateMiniDump(file.c_str(), nullptr, MiniDumpNormal); }), L"");
  }
  EXPECT_EQ(debugOutputOf([] { MemoryDumper::GenerateMiniDump(nullptr, nullptr, MiniDumpNormal); }), L"");
  EXPECT_FALSE(fs::exists(dir.path() / "long.dmp"));
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
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
  ASSERT_TRUE(fs::exists(dir.path() / "short.dmp"));
  char head[4] = {};
  std::ifstream(dir.path() / "short.dmp", std::ios::binary).read(head, 4);
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
  if (!installed("/usr/bin/lldb")) GTEST_SKIP() << "lldb is not installed";
  const std::string trace = lldbBacktrace(file, MOX_TOOL_PATH);
  EXPECT_NE(trace.find("stop reason = signal SIGSEGV"), std::string::npos) << trace;
  EXPECT_NE(trace.find("frame #0: "), std::string::npos) << trace;
  EXPECT_NE(trace.find("crashTestFault"), std::string::npos) << trace;
}
#endif

}  // namespace
