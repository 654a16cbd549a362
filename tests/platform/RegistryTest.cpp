#include "mox_utils/platform/Registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mox_utils/platform/Text.h"
#include "support/ScratchHive.h"

using namespace mox::platform;

namespace {

using Bytes = std::basic_string<BYTE>;

class RegistryTest : public mox::test::ScratchHive {
 protected:
  // A key below the root, created; closed by the fixture.
  HKEY create(const wchar_t* path, REGSAM access = kKeyAllAccess, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(regCreateKeyEx(currentUserKey(), path, access, &key, disposition), kErrorSuccess);
    m_open.push_back(key);
    return key;
  }
  LONG open(const wchar_t* path, REGSAM access, HKEY* key) {
    const LONG rc = regOpenKeyEx(currentUserKey(), path, access, key);
    if (rc == kErrorSuccess) m_open.push_back(*key);
    return rc;
  }
  void TearDown() override {
    for (HKEY key : m_open) regCloseKey(key);
    ScratchHive::TearDown();
  }
  static Bytes dword(DWORD v) {
    return Bytes{static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                 static_cast<BYTE>(v >> 24)};
  }
  static LONG set(HKEY key, const wchar_t* name, DWORD type, const Bytes& data) {
    return regSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size()));
  }
  // The value's type and bytes; type kRegNone when it cannot be read.
  static std::pair<DWORD, Bytes> get(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (regQueryValueEx(key, name, &type, nullptr, &size) != kErrorSuccess) return {kRegNone, Bytes()};
    Bytes data(size, 0);
    if (regQueryValueEx(key, name, &type, data.data(), &size) != kErrorSuccess) return {kRegNone, Bytes()};
    data.resize(size);
    return {type, data};
  }

  std::vector<HKEY> m_open;
};

TEST_F(RegistryTest, CreatesWholePathsAndOpensThem) {
  DWORD disposition = 0;
  create(L"Software\\Vendor\\App", kKeyAllAccess, &disposition);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  create(L"Software\\Vendor\\App\\", kKeyAllAccess, &disposition);  // a trailing backslash is allowed
  EXPECT_EQ(disposition, kRegOpenedExistingKey);

  HKEY key = nullptr;
  EXPECT_EQ(open(L"software\\VENDOR\\app", kKeyRead, &key), kErrorSuccess);
  EXPECT_EQ(open(L"Software\\Vendor\\Other", kKeyRead, &key), kErrorFileNotFound);
  EXPECT_EQ(open(L"Software\\Vendor\\App\\Deeper", kKeyRead, &key), kErrorFileNotFound);

  for (const wchar_t* bad : {L"\\Software", L"Software\\\\Vendor", L"Software\\\\"}) {
    SCOPED_TRACE(wideToUtf8(bad));
    HKEY k = nullptr;
    EXPECT_EQ(regCreateKeyEx(currentUserKey(), bad, kKeyAllAccess, &k, nullptr), kErrorBadPathname);
    EXPECT_EQ(regOpenKeyEx(currentUserKey(), bad, kKeyRead, &k), kErrorBadPathname);
    EXPECT_EQ(k, nullptr);
  }
  // Key names: 255 characters at most.
  const std::wstring longest(255, L'k');
  create(longest.c_str());
  HKEY k = nullptr;
  EXPECT_EQ(regCreateKeyEx(currentUserKey(), (longest + L"k").c_str(), kKeyAllAccess, &k, nullptr),
            kErrorInvalidParameter);
  EXPECT_EQ(regCreateKeyEx(currentUserKey(), L"x", kKeyAllAccess, nullptr, nullptr), kErrorInvalidParameter);
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveBeyondAsciiAndKeepTheirSpelling) {
  HKEY key = create(L"\u00c4rger\\\u0416\u0443\u043a");  // "Ärger\Жук"
  HKEY found = nullptr;
  EXPECT_EQ(open(L"\u00e4rger\\\u0436\u0443\u043a", kKeyRead, &found), kErrorSuccess);  // "ärger\жук"
  EXPECT_EQ(open(L"\u00c4RGER\\\u0416\u0423\u041a", kKeyRead, &found), kErrorSuccess);  // "ÄRGER\ЖУК"
  EXPECT_EQ(open(L"Arger", kKeyRead, &found), kErrorFileNotFound);                      // no accent folding

  // Greek sigma in its three forms is one letter.
  ASSERT_EQ(set(key, L"\u03a3\u03bf\u03c6\u03af\u03b1", kRegDword, dword(1)), kErrorSuccess);  // "Σοφία"
  ASSERT_EQ(set(key, L"\u03c3\u03bf\u03c6\u03af\u03b1", kRegDword, dword(2)), kErrorSuccess);  // "σοφία"
  EXPECT_EQ(get(key, L"\u03c2\u039f\u03a6\u038a\u0391").second, dword(2));                     // "ςΟΦΊΑ"
  RegKeyInfo info;
  ASSERT_EQ(regQueryInfoKey(key, &info), kErrorSuccess);
  EXPECT_EQ(info.values, 1u);

  // Enumeration gives the spelling of the first creation.
  wchar_t name[32];
  DWORD chars = 32;
  ASSERT_EQ(regEnumValue(key, 0, name, &chars, nullptr, nullptr, nullptr), kErrorSuccess);
  EXPECT_EQ(std::wstring(name, chars), L"\u03a3\u03bf\u03c6\u03af\u03b1");
  create(L"\u00e4RGER");  // opens the existing key
  HKEY root = nullptr;
  ASSERT_EQ(open(L"", kKeyRead, &root), kErrorSuccess);
  ASSERT_EQ(regEnumKey(root, 0, name, 32), kErrorSuccess);
  EXPECT_STREQ(name, L"\u00c4rger");
  EXPECT_EQ(regEnumKey(root, 1, name, 32), kErrorNoMoreItems);
}

TEST_F(RegistryTest, ValuesKeepTypeAndSizeTheWindowsWay) {
  HKEY key = create(L"Values");
  const Bytes text = registryTextBytes(L"abc");
  EXPECT_EQ(text, (Bytes{'a', 0, 'b', 0, 'c', 0, 0, 0}));
  ASSERT_EQ(set(key, L"Text", kRegSz, text), kErrorSuccess);
  ASSERT_EQ(set(key, L"Count", kRegDword, dword(0xDEADBEEF)), kErrorSuccess);
  ASSERT_EQ(set(key, L"Empty", kRegBinary, Bytes()), kErrorSuccess);
  ASSERT_EQ(set(key, L"List", kRegMultiSz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}), kErrorSuccess);
  ASSERT_EQ(set(key, nullptr, kRegExpandSz, registryTextBytes(L"%TEMP%")), kErrorSuccess);

  DWORD type = 0, size = 255;
  ASSERT_EQ(regQueryValueEx(key, L"text", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 8u);  // (length + 1) * 2
  BYTE small[7] = {};
  size = sizeof small;
  EXPECT_EQ(regQueryValueEx(key, L"Text", &type, small, &size), kErrorMoreData);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(get(key, L"Count"), std::make_pair(kRegDword, dword(0xDEADBEEF)));
  EXPECT_EQ(get(key, L"Empty"), std::make_pair(kRegBinary, Bytes()));
  EXPECT_EQ(get(key, L"").first, kRegExpandSz);  // the unnamed value, by either name
  EXPECT_EQ(get(key, nullptr).second, registryTextBytes(L"%TEMP%"));
  EXPECT_EQ(regQueryValueEx(key, L"Missing", &type, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(regQueryValueEx(key, L"Text", nullptr, small, nullptr), kErrorInvalidParameter);

  // Replacing keeps the place in the enumeration and the first spelling.
  ASSERT_EQ(set(key, L"TEXT", kRegDword, dword(7)), kErrorSuccess);
  wchar_t name[16];
  DWORD chars = 16;
  ASSERT_EQ(regEnumValue(key, 0, name, &chars, &type, nullptr, nullptr), kErrorSuccess);
  EXPECT_STREQ(name, L"Text");
  EXPECT_EQ(type, kRegDword);

  EXPECT_EQ(regDeleteValue(key, L"count"), kErrorSuccess);
  EXPECT_EQ(regDeleteValue(key, L"Count"), kErrorFileNotFound);
  EXPECT_EQ(regSetValueEx(key, L"Null", kRegBinary, nullptr, 4), kErrorInvalidParameter);
  EXPECT_EQ(get(key, L"Null").first, kRegNone);
}

// Encoding is checked with the values above and the settings store.
TEST_F(RegistryTest, TextFromBytesToleratesAnyData) {
  EXPECT_EQ(registryTextBytes(L""), (Bytes{0, 0}));
  struct Case {
    const char* name;
    Bytes data;
    std::wstring text;
  } cases[] = {
      {"terminated", Bytes{'h', 0, 'i', 0, 0, 0}, L"hi"},
      {"unterminated", Bytes{'h', 0, 'i', 0}, L"hi"},
      {"odd last byte", Bytes{'h', 0, 'i'}, L"h"},
      {"first of a multi-string", Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}, L"a"},
      {"surrogate pair", Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}, L"\U0001F600"},
      {"lone surrogate", Bytes{0x3D, 0xD8, 'x', 0}, L"\uFFFDx"},
      {"empty", Bytes(), L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(registryTextFromBytes(c.data.data(), c.data.size()), c.text);
  }
  EXPECT_EQ(registryTextFromBytes(nullptr, 4), L"");
}

TEST_F(RegistryTest, EnumeratesWithWindowsBufferRules) {
  HKEY key = create(L"Enum");
  for (const wchar_t* sub : {L"beta", L"Gamma", L"alpha"}) create((std::wstring(L"Enum\\") + sub).c_str());
  ASSERT_EQ(set(key, L"second-created-first", kRegDword, dword(1)), kErrorSuccess);
  ASSERT_EQ(set(key, L"v", kRegBinary, Bytes(10, 0xAB)), kErrorSuccess);

  // Subkeys in case-insensitive order.
  wchar_t name[64];
  std::vector<std::wstring> names;
  for (DWORD i = 0; regEnumKey(key, i, name, 64) == kErrorSuccess; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha", L"beta", L"Gamma"}));
  EXPECT_EQ(regEnumKey(key, 0, name, 5), kErrorMoreData);  // "alpha" needs 6 with the terminator
  EXPECT_EQ(regEnumKey(key, 0, name, 6), kErrorSuccess);

  // Values in order of creation; name and data capacities checked apart.
  DWORD chars = 20, type = 0, size = 0;
  EXPECT_EQ(regEnumValue(key, 0, name, &chars, &type, nullptr, &size), kErrorMoreData);  // 20 chars + 1
  chars = 21;
  ASSERT_EQ(regEnumValue(key, 0, name, &chars, &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(chars, 20u);
  EXPECT_EQ(size, 4u);
  BYTE data[16];
  chars = 64;
  size = 9;
  EXPECT_EQ(regEnumValue(key, 1, name, &chars, &type, data, &size), kErrorMoreData);
  chars = 64;
  size = 16;
  ASSERT_EQ(regEnumValue(key, 1, name, &chars, &type, data, &size), kErrorSuccess);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, kRegBinary);
  chars = 64;
  EXPECT_EQ(regEnumValue(key, 2, name, &chars, &type, data, &size), kErrorNoMoreItems);

  RegKeyInfo info;
  ASSERT_EQ(regQueryInfoKey(key, &info), kErrorSuccess);
  EXPECT_EQ(info.subKeys, 3u);
  EXPECT_EQ(info.maxSubKeyLen, 5u);
  EXPECT_EQ(info.values, 2u);
  EXPECT_EQ(info.maxValueNameLen, 20u);
  EXPECT_EQ(info.maxValueLen, 10u);
  EXPECT_NE(info.lastWriteTime.dwHighDateTime, 0u);
}

TEST_F(RegistryTest, HandlesCarryTheirAccessRights) {
  create(L"Rights");
  HKEY reader = nullptr, writer = nullptr;
  ASSERT_EQ(open(L"Rights", kKeyRead, &reader), kErrorSuccess);
  ASSERT_EQ(open(L"Rights", kKeyWrite, &writer), kErrorSuccess);
  EXPECT_EQ(set(reader, L"v", kRegDword, dword(1)), kErrorAccessDenied);
  EXPECT_EQ(regDeleteValue(reader, L"v"), kErrorAccessDenied);
  HKEY sub = nullptr;
  EXPECT_EQ(regCreateKeyEx(reader, L"Sub", kKeyAllAccess, &sub, nullptr), kErrorAccessDenied);
  ASSERT_EQ(set(writer, L"v", kRegDword, dword(1)), kErrorSuccess);
  DWORD type, size = 4;
  EXPECT_EQ(regQueryValueEx(writer, L"v", &type, nullptr, &size), kErrorAccessDenied);
  RegKeyInfo info;
  EXPECT_EQ(regQueryInfoKey(writer, &info), kErrorAccessDenied);
  wchar_t name[8];
  EXPECT_EQ(regEnumKey(writer, 0, name, 8), kErrorAccessDenied);
  EXPECT_EQ(get(reader, L"v").second, dword(1));
  ASSERT_EQ(regCreateKeyEx(writer, L"Sub", kKeyWrite, &sub, nullptr), kErrorSuccess);
  m_open.push_back(sub);
}

TEST_F(RegistryTest, HandlesCloseOnceAndSeeDeletion) {
  HKEY key = nullptr;
  ASSERT_EQ(regCreateKeyEx(currentUserKey(), L"Doomed\\Child", kKeyAllAccess, &key, nullptr), kErrorSuccess);
  ASSERT_EQ(set(key, L"v", kRegDword, dword(1)), kErrorSuccess);

  EXPECT_EQ(shDeleteKey(currentUserKey(), L"doomed"), kErrorSuccess);
  EXPECT_EQ(get(key, L"v").first, kRegNone);
  DWORD type, size = 4;
  EXPECT_EQ(regQueryValueEx(key, L"v", &type, nullptr, &size), kErrorKeyDeleted);
  EXPECT_EQ(set(key, L"v", kRegDword, dword(1)), kErrorKeyDeleted);
  // A key made again under the same name is a new key: the old handle stays
  // dead.
  create(L"Doomed\\Child");
  EXPECT_EQ(regQueryValueEx(key, L"v", &type, nullptr, &size), kErrorKeyDeleted);

  EXPECT_EQ(regCloseKey(key), kErrorSuccess);
  EXPECT_EQ(regCloseKey(key), kErrorInvalidHandle);
  EXPECT_EQ(regQueryValueEx(key, L"v", &type, nullptr, &size), kErrorInvalidHandle);
  EXPECT_EQ(regCloseKey(nullptr), kErrorInvalidHandle);
  EXPECT_EQ(regCloseKey(currentUserKey()), kErrorSuccess);
  EXPECT_EQ(shDeleteKey(currentUserKey(), L"Doomed\\Missing"), kErrorFileNotFound);
  EXPECT_EQ(shDeleteKey(currentUserKey(), L""), kErrorInvalidParameter);
  int notAKey = 0;
  EXPECT_EQ(regCloseKey(reinterpret_cast<HKEY>(&notAKey)), kErrorInvalidHandle);
}

TEST_F(RegistryTest, DeletesWholeTreesOnly) {
  create(L"Tree\\A\\B\\C");
  HKEY b = create(L"Tree\\A\\B");
  ASSERT_EQ(set(b, L"v", kRegSz, registryTextBytes(L"x")), kErrorSuccess);
  create(L"Tree\\AB");
  ASSERT_EQ(shDeleteKey(currentUserKey(), L"Tree\\A"), kErrorSuccess);
  HKEY key = nullptr;
  EXPECT_EQ(open(L"Tree\\A\\B\\C", kKeyRead, &key), kErrorFileNotFound);
  EXPECT_EQ(open(L"Tree\\AB", kKeyRead, &key), kErrorSuccess);
  // Nothing of the deleted tree is left in the file.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(hiveFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM keys), (SELECT count(*) FROM vals)", -1, &stmt, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 3);  // the root, Tree and AB
  EXPECT_EQ(sqlite3_column_int(stmt, 1), 0);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(RegistryTest, HivePersistsPerPath) {
  HKEY key = create(L"Persist");
  ASSERT_EQ(set(key, L"v", kRegDword, dword(42)), kErrorSuccess);
  regCloseKey(key);
  m_open.clear();
  const std::string file = hiveFile();
  setHivePath(file + ".other");
  EXPECT_EQ(hivePath(), file + ".other");
  HKEY missing = nullptr;
  EXPECT_EQ(regOpenKeyEx(currentUserKey(), L"Persist", kKeyRead, &missing), kErrorFileNotFound);
  setHivePath(file);
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file + ".other" + suffix).c_str());
  ASSERT_EQ(open(L"Persist", kKeyRead, &key), kErrorSuccess);
  EXPECT_EQ(get(key, L"v").second, dword(42));
}

TEST_F(RegistryTest, DamagedOrUnreachableHiveFailsCleanly) {
  {
    std::ofstream junk(hiveFile(), std::ios::binary);
    junk << std::string(4096, '\x5A');
  }
  HKEY key = nullptr;
  EXPECT_EQ(regCreateKeyEx(currentUserKey(), L"X", kKeyAllAccess, &key, nullptr), kErrorBadDb);
  EXPECT_EQ(regOpenKeyEx(currentUserKey(), L"X", kKeyRead, &key), kErrorBadDb);
  setHivePath("/nonexistent-dir-for-mox/hive.sqlite");
  EXPECT_EQ(regCreateKeyEx(currentUserKey(), L"X", kKeyAllAccess, &key, nullptr), kErrorBadDb);
  EXPECT_EQ(key, nullptr);
}

// Processes that open a new hive file at the same moment all get it: one
// creates it, the others wait for it and then write to it.
TEST_F(RegistryTest, ProcessesOpeningANewHiveTogetherAllGetIt) {
  constexpr int kRounds = 25;
  constexpr int kProcesses = 4;
  const std::string file = hiveFile() + ".new";
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file + suffix).c_str());
    // The children start together when the parent closes the pipe.
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        ::close(start[1]);
        char byte;
        if (::read(start[0], &byte, 1) != 0) ::_exit(2);
        setHivePath(file);
        HKEY key = nullptr;
        if (regCreateKeyEx(currentUserKey(), L"Race", kKeyAllAccess, &key, nullptr) != kErrorSuccess) ::_exit(1);
        const DWORD value = static_cast<DWORD>(p);
        const std::wstring name = L"p" + std::to_wstring(p);
        const LONG rc = regSetValueEx(key, name.c_str(), kRegDword, reinterpret_cast<const BYTE*>(&value), 4);
        ::_exit(rc == kErrorSuccess ? 0 : 1);
      }
      children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    int opened = 0;
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      opened += WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    EXPECT_EQ(opened, kProcesses);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((file + suffix).c_str());
}

TEST(RegistryPathTest, DefaultHiveLivesInTheAccountsHome) {
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  std::string home = pw->pw_dir;
  if (home.size() > 1 && home.back() == '/') home.pop_back();
  EXPECT_EQ(defaultHivePath(), home + "/.config/mox_utils/hive.sqlite");
}

TEST_F(RegistryTest, ThreadsShareTheHive) {
  constexpr int kThreads = 4;
  constexpr int kValues = 50;
  HKEY shared = create(L"Shared");
  std::atomic<bool> readerFailed{false};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    // Enumerates while the others write: every value seen is whole.
    wchar_t name[32];
    BYTE data[4];
    while (!stop) {
      for (DWORD i = 0;; ++i) {
        DWORD chars = 32, size = 4, type = 0;
        const LONG rc = regEnumValue(shared, i, name, &chars, &type, data, &size);
        if (rc == kErrorNoMoreItems) break;
        if (rc != kErrorSuccess || type != kRegDword || size != 4) readerFailed = true;
      }
    }
  });
  // Each writer also opens and closes a key of its own on every round, so
  // that handles come and go while the shared one is in use.
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t, shared] {
      const std::wstring own = L"Shared\\T" + std::to_wstring(t);
      for (int i = 0; i < kValues; ++i) {
        HKEY key = nullptr;
        if (regCreateKeyEx(currentUserKey(), own.c_str(), kKeyWrite, &key, nullptr) == kErrorSuccess) regCloseKey(key);
        set(shared, (L"v" + std::to_wstring(t) + L"_" + std::to_wstring(i)).c_str(), kRegDword, dword(i));
      }
    });
  }
  for (std::thread& w : writers) w.join();
  stop = true;
  reader.join();
  EXPECT_FALSE(readerFailed);
  RegKeyInfo info;
  ASSERT_EQ(regQueryInfoKey(shared, &info), kErrorSuccess);
  EXPECT_EQ(info.values, static_cast<DWORD>(kThreads * kValues));
  EXPECT_EQ(info.subKeys, static_cast<DWORD>(kThreads));
}

}  // namespace
