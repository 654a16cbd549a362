// Crash capture: `mox crash-test DUMPFILE` lets a child process fault under a
// crash handler that writes a minidump, then reports what the dump holds, so
// that a service engineer can check crash capture on an installed system.
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "Commands.h"
#include "Terminal.h"
#include "mox_utils/paths/MemoryDumper.h"
#include "mox_utils/paths/MiniDumpFile.h"
#include "mox_utils/platform/Text.h"

namespace mox::tool {

namespace {

// The address the child writes to: never mapped, so the fault is a clean
// SIGSEGV with this address.
constexpr std::uintptr_t kFaultAddress = 0x10;

// Set before the child faults; the handler only reads them.
std::wstring g_dumpFile;
MINIDUMP_TYPE g_dumpType = MiniDumpNormal;

// The crash handler an application would install. It runs on its own stack,
// writes the dump and returns; SA_RESETHAND makes the faulting instruction
// run again under the default action, so the child ends as any crashed
// process does.
void onFault(int, siginfo_t* info, void* context) {
  EXCEPTION_POINTERS pointers{info, static_cast<ucontext_t*>(context)};
  MemoryDumper::GenerateMiniDump(g_dumpFile.c_str(), &pointers, g_dumpType);
}

__attribute__((noinline)) void crashTestFault() {
  // Through a volatile so that the compiler neither sees nor removes the
  // write to an address it knows to be invalid.
  volatile std::uintptr_t address = kFaultAddress;
  *reinterpret_cast<volatile int*>(address) = 1;
}

[[noreturn]] void runFaultingChild() {
  static char altStack[256 * 1024];
  stack_t stack = {};
  stack.ss_sp = altStack;
  stack.ss_size = sizeof altStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = &onFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, nullptr);

  // A second thread, parked, so that the dump shows more than the crashing
  // thread.
  std::mutex lock;
  std::condition_variable never;
  std::atomic<bool> parked{false};
  try {
    std::thread([&] {
      std::unique_lock<std::mutex> hold(lock);
      parked = true;
      never.wait(hold, [] { return false; });
    }).detach();
    while (!parked) std::this_thread::yield();
  } catch (...) {
    // No second thread: the dump still holds the crashing one.
  }
  crashTestFault();
  _exit(2);  // not reached: the fault ends the process
}

std::string signalName(int signo) {
  const char* abbrev = sigabbrev_np(signo);
  return abbrev != nullptr ? std::string("SIG") + abbrev : "signal " + std::to_string(signo);
}

int crashTest(const std::string& file, bool full) {
  g_dumpFile = mox::platform::utf8ToWide(file);
  g_dumpType = full ? MiniDumpWithFullMemory : MiniDumpNormal;
  std::fflush(userOut());
  std::fflush(userErr());
  const pid_t child = fork();
  if (child < 0) return fail(std::string("cannot start the child process: ") + strerror(errno));
  if (child == 0) runFaultingChild();

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  std::string ended;
  if (WIFSIGNALED(status)) {
    ended = "ended by " + signalName(WTERMSIG(status));
  } else {
    ended = "exited with status " + std::to_string(WEXITSTATUS(status));
  }
  std::fprintf(userOut(), "child %d faulted at 0x%" PRIxPTR " and %s\n", static_cast<int>(child), kFaultAddress,
               ended.c_str());

  mox::detail::MiniDumpFile dump;
  std::string error;
  if (!dump.load(g_dumpFile, &error)) return fail("no valid dump in " + file + ": " + error);
  std::fprintf(userOut(), "dump: %s, %" PRIu64 " bytes (%s)\n", file.c_str(), dump.fileSize(),
               full ? "full memory" : "normal");
  std::string names;
  for (const mox::detail::MiniDumpStream& s : dump.streams()) {
    const char* name = mox::detail::miniDumpStreamName(s.type);
    names += ' ';
    names += *name != 0 ? name : std::to_string(s.type);
  }
  std::fprintf(userOut(), "streams:%s\n", names.c_str());
  std::fprintf(userOut(), "process %u: %zu threads, %zu modules, %zu memory ranges\n", dump.processId(),
               dump.threads().size(), dump.modules().size(), dump.memory().size());
  if (!dump.hasException()) return fail("the dump records no exception");
  const mox::detail::MiniDumpException& e = dump.exception();
  std::fprintf(userOut(), "exception: %s (%u), code %u, address 0x%" PRIx64 ", thread %u\n",
               signalName(static_cast<int>(e.code)).c_str(), e.code, e.flags, e.address, e.threadId);
  if (e.code != SIGSEGV || e.address != kFaultAddress) return fail("the dump does not record the fault");
  return 0;
}

void addDumpCommands(CLI::App& app, int& status) {
  auto* command = app.add_subcommand(
      "crash-test", "Let a child process crash under a handler that writes a minidump, and report the dump");
  auto file = std::make_shared<std::string>();
  auto full = std::make_shared<bool>(false);
  command->add_option("DUMPFILE", *file, "Where the child writes its dump")->required();
  command->add_flag("--full", *full, "Dump every readable private mapping, not only the stacks");
  command->callback([file, full, &status] { status = crashTest(*file, *full); });
}

}  // namespace

MOX_REGISTER_COMMANDS(addDumpCommands);

}  // namespace mox::tool
