// The settings store of mox_utils over a scratch hive.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mox_utils/platform/Registry.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/settings/mox_utils.h"
#include "support/ScratchHive.h"

namespace reg = mox::platform;

namespace {

using Bytes = std::basic_string<BYTE>;
constexpr wchar_t kRoot[] = L"Software\\Quorvane\\Doze";

// Everything below a key, as "path|value name" -> (type, data) and
// "path\" -> (0, empty) for every key, read with the registry calls alone.
using Tree = std::map<std::wstring, std::pair<DWORD, Bytes>>;

void dump(const std::wstring& path, Tree* tree) {
  HKEY key = nullptr;
  if (reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyRead, &key) != reg::kErrorSuccess) return;
  (*tree)[reg::foldRegistryName(path) + L"\\"] = {0, Bytes()};
  std::vector<wchar_t> name(reg::kMaxValueNameChars + 1);
  std::vector<BYTE> data(1 << 16);
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (reg::regEnumValue(key, i, name.data(), &chars, &type, data.data(), &size) != reg::kErrorSuccess) break;
    (*tree)[reg::foldRegistryName(path) + L"|" + std::wstring(name.data(), chars)] = {type, Bytes(data.data(), size)};
  }
  for (DWORD i = 0; reg::regEnumKey(key, i, name.data(), static_cast<DWORD>(name.size())) == reg::kErrorSuccess; ++i)
    dump(path + L"\\" + name.data(), tree);
  reg::regCloseKey(key);
}

Tree dumpAll() {
  Tree tree;
  dump(kRoot, &tree);
  return tree;
}

std::wstring keyPath(const std::wstring& section) { return std::wstring(kRoot) + L"\\" + section; }

bool keyExists(const std::wstring& section) {
  return dumpAll().count(reg::foldRegistryName(keyPath(section)) + L"\\") != 0;
}

// Stores a value of any type directly, bypassing the writers.
void rawSet(const std::wstring& section, const wchar_t* entry, DWORD type, const Bytes& data) {
  HKEY key = nullptr;
  ASSERT_EQ(reg::regCreateKeyEx(reg::currentUserKey(), keyPath(section).c_str(), reg::kKeyWrite, &key), 0);
  ASSERT_EQ(reg::regSetValueEx(key, entry, type, data.data(), static_cast<DWORD>(data.size())), 0);
  reg::regCloseKey(key);
}

std::pair<DWORD, Bytes> rawGet(const std::wstring& section, const wchar_t* entry) {
  Tree tree = dumpAll();
  const auto it = tree.find(reg::foldRegistryName(keyPath(section)) + L"|" + entry);
  return it == tree.end() ? std::make_pair(reg::kRegNone, Bytes()) : it->second;
}

using ProfileTest = mox::test::ScratchHive;

TEST_F(ProfileTest, TextIsStoredAsTerminatedUtf16) {
  mox_utils::WriteProfileStringW(L"Display", L"Title", L"Gr\u00fc\u00dfe \U0001F600");
  EXPECT_EQ(mox_utils::GetProfileStringW(L"Display", L"Title", L"x"), L"Gr\u00fc\u00dfe \U0001F600");
  // 7 characters, the last one a surrogate pair: 8 units + terminator.
  EXPECT_EQ(rawGet(L"Display", L"Title"), std::make_pair(reg::kRegSz, Bytes{'G', 0, 'r', 0, 0xFC, 0, 0xDF, 0, 'e', 0,
                                                                            ' ', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
  mox_utils::WriteProfileStringW(L"Display", L"Title", L"");
  EXPECT_EQ(rawGet(L"Display", L"Title").second, (Bytes{0, 0}));
}

// Every stored value read by all three readers: each takes only its own
// kind, and falls back to its default (or null and 0) for anything else.
TEST_F(ProfileTest, ReadersTakeTheirOwnKindOnly) {
  Bytes big(4000, 0);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  mox_utils::WriteProfileStringW(L"S", L"Empty", L"");
  mox_utils::WriteProfileStringW(L"S", L"Text", L"12");
  mox_utils::WriteProfileInt(L"S", L"Int", -5);
  EXPECT_EQ(mox_utils::WriteProfileBinary(L"S", L"Big", big.data(), static_cast<unsigned>(big.size())), 0);
  EXPECT_EQ(mox_utils::WriteProfileBinary(L"S", L"NoBytes", nullptr, 0), 0);
  rawSet(L"S", L"Short", reg::kRegDword, Bytes{1, 0});
  rawSet(L"S", L"Long", reg::kRegDword, Bytes{1, 0, 0, 0, 0, 0, 0, 0});
  rawSet(L"S", L"IntAsBinary", reg::kRegBinary, Bytes{9, 0, 0, 0});
  rawSet(L"S", L"Multi", reg::kRegMultiSz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
  rawSet(L"S", L"Expand", reg::kRegExpandSz, reg::registryTextBytes(L"%HOME%\\x"));
  rawSet(L"S", L"NoTerminator", reg::kRegSz, Bytes{'o', 0, 'k', 0});
  const std::optional<Bytes> none;
  struct Case {
    const wchar_t* section;
    const wchar_t* entry;
    std::wstring text;
    int integer;
    std::optional<Bytes> binary;
  } cases[] = {
      {L"S", L"Empty", L"def", 77, none},  // an empty text reads as the default
      {L"S", L"Missing", L"def", 77, none},
      {L"NoSuchSection", L"Text", L"def", 77, none},
      {L"S", L"Text", L"12", 77, none},  // text, even numeric, is no integer
      {L"S", L"TEXT", L"12", 77, none},  // names ignore case
      {L"S", L"Int", L"def", -5, none},
      {L"S", L"Short", L"def", 77, none},
      {L"S", L"Long", L"def", 77, none},
      {L"S", L"IntAsBinary", L"def", 77, Bytes{9, 0, 0, 0}},
      {L"S", L"Big", L"def", 77, big},
      {L"S", L"NoBytes", L"def", 77, Bytes()},    // still a new block, to delete[]
      {L"S", L"Multi", L"a", 77, none},           // the first string only
      {L"S", L"Expand", L"%HOME%\\x", 77, none},  // not expanded
      {L"S", L"NoTerminator", L"ok", 77, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(mox::platform::wideToUtf8(c.entry));
    EXPECT_EQ(mox_utils::GetProfileStringW(c.section, c.entry, L"def"), c.text);
    EXPECT_EQ(mox_utils::GetProfileIntW(c.section, c.entry, 77), c.integer);
    unsigned char* data = reinterpret_cast<unsigned char*>(1);
    unsigned int size = 99;
    EXPECT_EQ(mox_utils::GetProfileBinary(c.section, c.entry, &data, &size), c.binary ? 1 : 0);
    EXPECT_EQ(data == nullptr ? none : Bytes(data, size), c.binary);
    EXPECT_EQ(size, c.binary ? c.binary->size() : 0u);
    delete[] data;
  }
  // A null default reads as the empty text; a null block pointer finds nothing.
  EXPECT_EQ(mox_utils::GetProfileStringW(L"S", L"Empty", nullptr), L"");
  EXPECT_EQ(mox_utils::GetProfileStringW(L"S", L"Missing", nullptr), L"");
  unsigned int size = 0;
  EXPECT_EQ(mox_utils::GetProfileBinary(L"S", L"Big", nullptr, &size), 0);
}

TEST_F(ProfileTest, FailedWritesLeaveNoStaleValue) {
  mox_utils::WriteProfileStringW(L"W", L"Text", L"old");
  mox_utils::WriteProfileStringW(L"W", L"Text", nullptr);
  EXPECT_EQ(rawGet(L"W", L"Text").first, reg::kRegNone);

  EXPECT_EQ(mox_utils::WriteProfileBinary(L"W", L"Bin", reinterpret_cast<const unsigned char*>("ab"), 2), 0);
  EXPECT_EQ(mox_utils::WriteProfileBinary(L"W", L"Bin", nullptr, 5), 1);  // stored nothing, deleted the old one
  EXPECT_EQ(rawGet(L"W", L"Bin").first, reg::kRegNone);

  // A writer replaces a value of another type.
  mox_utils::WriteProfileStringW(L"W", L"Mixed", L"text");
  mox_utils::WriteProfileInt(L"W", L"Mixed", 0x01020304);
  EXPECT_EQ(rawGet(L"W", L"Mixed"), std::make_pair(reg::kRegDword, Bytes{4, 3, 2, 1}));

  mox_utils::DeleteProfileValue(L"W", L"mixed");
  EXPECT_EQ(rawGet(L"W", L"Mixed").first, reg::kRegNone);
  mox_utils::DeleteProfileValue(L"NoSuchSection", L"x");
  EXPECT_FALSE(keyExists(L"NoSuchSection"));
}

TEST_F(ProfileTest, KeyPathsStopAt255Characters) {
  // The prefix is 23 characters; with a 232-character section the path
  // fills the 256-character buffer with its terminator.
  ASSERT_EQ(std::wstring(L"Software\\Quorvane\\Doze\\").size(), 23u);
  const std::wstring fits = std::wstring(100, L'a') + L"\\" + std::wstring(131, L'b');
  const std::wstring tooLong = fits + L"c";
  mox_utils::WriteProfileInt(fits.c_str(), L"v", 1);
  EXPECT_EQ(mox_utils::GetProfileIntW(fits.c_str(), L"v", 0), 1);
  mox_utils::WriteProfileInt(tooLong.c_str(), L"v", 1);
  EXPECT_FALSE(keyExists(tooLong));
  EXPECT_EQ(mox_utils::WriteProfileBinary(tooLong.c_str(), L"v", reinterpret_cast<const unsigned char*>("x"), 1), 0);
  EXPECT_FALSE(keyExists(tooLong));

  // Only the text reader has no limit.
  rawSet(tooLong, L"v", reg::kRegDword, Bytes{5, 0, 0, 0});
  rawSet(tooLong, L"t", reg::kRegSz, reg::registryTextBytes(L"far"));
  rawSet(tooLong, L"b", reg::kRegBinary, Bytes{1});
  EXPECT_EQ(mox_utils::GetProfileIntW(tooLong.c_str(), L"v", 0), 0);
  EXPECT_EQ(mox_utils::GetProfileStringW(tooLong.c_str(), L"t", L""), L"far");
  unsigned char* data = nullptr;
  unsigned int size = 0;
  EXPECT_EQ(mox_utils::GetProfileBinary(tooLong.c_str(), L"b", &data, &size), 0);
  mox_utils::DeleteProfileValue(tooLong.c_str(), L"v");
  EXPECT_EQ(rawGet(tooLong, L"v").first, reg::kRegDword);
}

// A section with values of every kind and nested keys.
Tree buildSource() {
  mox_utils::WriteProfileStringW(L"Probes", L"Src\\Name", L"Linear");  // a key path as entry is just a name
  mox_utils::WriteProfileStringW(L"Probes\\Src", L"Name", L"L12-5");
  mox_utils::WriteProfileInt(L"Probes\\Src", L"Elements", 192);
  const unsigned char calibration[] = {1, 2, 3, 0, 255};
  mox_utils::WriteProfileBinary(L"Probes\\Src", L"Calibration", calibration, sizeof calibration);
  rawSet(L"Probes\\Src", L"Paths", reg::kRegMultiSz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
  rawSet(L"Probes\\Src", nullptr, reg::kRegExpandSz, reg::registryTextBytes(L"%X%"));
  mox_utils::WriteProfileInt(L"Probes\\Src\\Presets\\Cardiac", L"Depth", 160);
  mox_utils::WriteProfileStringW(L"Probes\\Src\\Presets\\Cardiac\\Doppler", L"Mode", L"PW");
  HKEY empty = nullptr;
  reg::regCreateKeyEx(reg::currentUserKey(), keyPath(L"Probes\\Src\\Empty").c_str(), reg::kKeyWrite, &empty);
  reg::regCloseKey(empty);
  return dumpAll();
}

// The entries of `tree` below section\from, renamed to section\to.
Tree subtree(const Tree& tree, const std::wstring& from, const std::wstring& to) {
  const std::wstring f = reg::foldRegistryName(keyPath(from));
  Tree out;
  for (const auto& entry : tree) {
    if (entry.first.compare(0, f.size(), f) == 0 && (entry.first[f.size()] == L'\\' || entry.first[f.size()] == L'|')) {
      out[reg::foldRegistryName(keyPath(to)) + entry.first.substr(f.size())] = entry.second;
    }
  }
  return out;
}

TEST_F(ProfileTest, CopyAndRenameReproduceTheWholeTree) {
  const Tree before = buildSource();
  const Tree source = subtree(before, L"Probes\\Src", L"Probes\\Src");
  ASSERT_EQ(source.size(), 12u);  // 5 keys, 7 values

  // Missing sources change nothing; neither do copies onto or into the
  // source itself, where a copy would feed on itself and the delete would
  // lose everything.
  mox_utils::RenameProfileKey(L"Probes", L"Missing", L"Dst");
  mox_utils::RenameProfileKey(L"NoSuchSection", L"Src", L"Dst");
  mox_utils::RenameProfileKey(L"Probes", L"Src", L"SRC");
  mox_utils::RenameProfileKey(L"Probes", L"Src", L"src\\Inner");
  mox_utils::CopyProfileKey(L"Probes", L"Src\\", L"Src", 1);
  EXPECT_EQ(dumpAll(), before);

  mox_utils::CopyProfileKey(L"Probes", L"Src", L"Copy", 0);
  const Tree after = dumpAll();
  EXPECT_EQ(subtree(after, L"Probes\\Src", L"Probes\\Src"), source);  // the source stays
  EXPECT_EQ(subtree(after, L"Probes\\Copy", L"Probes\\Src"), source);
  EXPECT_EQ(after.size(), before.size() + source.size());

  // Renaming into a deeper, new place.
  mox_utils::RenameProfileKey(L"Probes", L"Copy", L"Archive\\Old");
  const Tree moved = dumpAll();
  EXPECT_EQ(subtree(moved, L"Probes\\Archive\\Old", L"Probes\\Src"), source);
  EXPECT_TRUE(subtree(moved, L"Probes\\Copy", L"Probes\\Copy").empty());
  EXPECT_EQ(moved.size(), after.size() + 1);  // the new key Archive
}

TEST_F(ProfileTest, CopySkipsWhatExceedsItsBuffers) {
  const std::wstring name255(255, L'n');
  const std::wstring name256(256, L'n');
  rawSet(L"Lim\\Src", name255.c_str(), reg::kRegDword, Bytes{1, 0, 0, 0});
  rawSet(L"Lim\\Src", name256.c_str(), reg::kRegDword, Bytes{2, 0, 0, 0});
  rawSet(L"Lim\\Src", L"Data512", reg::kRegBinary, Bytes(512, 0x5A));
  rawSet(L"Lim\\Src", L"Data513", reg::kRegBinary, Bytes(513, 0x5A));
  // A chain of keys whose paths grow past 255 characters: "Software\Quorvane\Doze\Lim\Src" is 30.
  std::wstring chain = L"Lim\\Src";
  for (int i = 0; i < 5; ++i) chain += L"\\" + std::wstring(45, static_cast<wchar_t>(L'a' + i));
  rawSet(chain, L"deep", reg::kRegDword, Bytes{3, 0, 0, 0});

  mox_utils::CopyProfileKey(L"Lim", L"Src", L"Dst", 0);
  const Tree tree = dumpAll();
  const std::wstring dst = reg::foldRegistryName(keyPath(L"Lim\\Dst"));
  EXPECT_EQ(tree.count(dst + L"|" + name255), 1u);
  EXPECT_EQ(tree.count(dst + L"|" + name256), 0u);
  EXPECT_EQ(tree.count(dst + L"|Data512"), 1u);
  EXPECT_EQ(tree.count(dst + L"|Data513"), 0u);
  // Keys copied as long as their paths fit: 30 + 4 * 46 = 214 characters
  // for the fourth link, 260 for the fifth.
  std::wstring copied = dst;
  for (int i = 0; i < 4; ++i) copied += L"\\" + reg::foldRegistryName(std::wstring(45, static_cast<wchar_t>(L'a' + i)));
  EXPECT_EQ(tree.count(copied + L"\\"), 1u);
  EXPECT_EQ(tree.count(copied + L"\\EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE\\"), 0u);
}

TEST_F(ProfileTest, TwoProcessesWriteAtOnceAndNothingIsLost) {
  constexpr int kProcesses = 3;
  constexpr int kValues = 60;
  auto entry = [](int p, int i) { return L"p" + std::to_wstring(p) + L"_" + std::to_wstring(i); };
  auto section = [](int p) { return L"Shared\\P" + std::to_wstring(p); };
  // Each child opens the hive itself (nothing is open here before the fork).
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        mox_utils::WriteProfileInt(L"Shared", entry(p, i).c_str(), p * 1000 + i);
        mox_utils::WriteProfileStringW(section(p).c_str(), L"last", entry(p, i).c_str());
        if (mox_utils::GetProfileIntW(L"Shared", entry(p, i).c_str(), -1) != p * 1000 + i) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kValues; ++i) {
      ASSERT_EQ(mox_utils::GetProfileIntW(L"Shared", entry(p, i).c_str(), -1), p * 1000 + i);
    }
    EXPECT_EQ(mox_utils::GetProfileStringW(section(p).c_str(), L"last", L""), entry(p, kValues - 1));
  }
}

}  // namespace
