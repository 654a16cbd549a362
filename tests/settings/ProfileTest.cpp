// The settings store of mox_utils over a scratch hive.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "mox_utils/platform/Registry.h"
#include "mox_utils/settings/mox_utils.h"
#include "support/ScratchHive.h"

namespace reg = mox::platform;

namespace {

using Bytes = std::basic_string<BYTE>;
using ProfileTest = mox::test::ScratchHive;
const std::wstring kRoot = L"Software\\Quorvane\\Doze";

std::wstring keyPath(const std::wstring& section) { return kRoot + L"\\" + section; }

// Every key below `path` as "PATH\" -> (0, empty) and every value as
// "PATH|name" -> (type, data), paths case-folded, read with the registry
// calls alone.
using Tree = std::map<std::wstring, std::pair<DWORD, Bytes>>;
Tree dump(const std::wstring& path = kRoot) {
  Tree tree;
  HKEY key = nullptr;
  if (reg::regOpenKeyEx(reg::currentUserKey(), path.c_str(), reg::kKeyRead, &key) != reg::kErrorSuccess) return tree;
  const std::wstring folded = reg::foldRegistryName(path);
  tree[folded + L"\\"] = {};
  std::vector<wchar_t> name(reg::kMaxValueNameChars + 1);
  Bytes data(1 << 16, 0);
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (reg::regEnumValue(key, i, name.data(), &chars, &type, &data[0], &size) != reg::kErrorSuccess) break;
    tree[folded + L"|" + std::wstring(name.data(), chars)] = {type, data.substr(0, size)};
  }
  for (DWORD i = 0; reg::regEnumKey(key, i, name.data(), static_cast<DWORD>(name.size())) == reg::kErrorSuccess; ++i)
    tree.merge(dump(path + L"\\" + name.data()));
  reg::regCloseKey(key);
  return tree;
}

// The place of a section's key in a Tree, or of one of its values.
std::wstring at(const std::wstring& section, const std::wstring& entry = L"") {
  return reg::foldRegistryName(keyPath(section)) + (entry.empty() ? L"\\" : L"|" + entry);
}

// The entries of `tree` below section `from`, moved below section `to`.
Tree subtree(const Tree& tree, const std::wstring& from, const std::wstring& to) {
  const std::wstring f = reg::foldRegistryName(keyPath(from));
  Tree out;
  for (const auto& [place, value] : tree) {
    if (place.compare(0, f.size(), f) == 0 && (place[f.size()] == L'\\' || place[f.size()] == L'|'))
      out[reg::foldRegistryName(keyPath(to)) + place.substr(f.size())] = value;
  }
  return out;
}

// Stores a value of any type directly, bypassing the writers.
void rawSet(const std::wstring& section, const std::wstring& entry, DWORD type, const Bytes& data) {
  HKEY key = nullptr;
  ASSERT_EQ(reg::regCreateKeyEx(reg::currentUserKey(), keyPath(section).c_str(), reg::kKeyWrite, &key), 0);
  ASSERT_EQ(reg::regSetValueEx(key, entry.c_str(), type, data.data(), static_cast<DWORD>(data.size())), 0);
  reg::regCloseKey(key);
}

// The whole hive after the writers: the exact bytes of each value, no stale
// value after a failed write, and no key for a path over 255 characters.
TEST_F(ProfileTest, WritersLeaveExactlyTheirValues) {
  const auto* ab = reinterpret_cast<const unsigned char*>("ab");
  mox_utils::WriteProfileStringW(L"W", L"Title", L"Gr\u00fc\u00dfe \U0001F600");
  mox_utils::WriteProfileStringW(L"W", L"Empty", L"");
  mox_utils::WriteProfileStringW(L"W", L"Gone", L"old");
  mox_utils::WriteProfileStringW(L"W", L"Gone", nullptr);
  EXPECT_EQ(mox_utils::WriteProfileBinary(L"W", L"Bin", ab, 2), 0);
  EXPECT_EQ(mox_utils::WriteProfileBinary(L"W", L"Bin", nullptr, 5), 1);  // stores nothing, deletes the old value
  mox_utils::WriteProfileStringW(L"W", L"Mixed", L"text");
  mox_utils::WriteProfileInt(L"W", L"Mixed", -2);  // replaces a value of another type
  mox_utils::WriteProfileInt(L"W", L"Doomed", 1);
  mox_utils::DeleteProfileValue(L"W", L"DOOMED");
  mox_utils::DeleteProfileValue(L"NoSuchSection", L"x");
  // The prefix is 23 characters: a section of 232 fills the 256-character
  // path buffer with its terminator.
  const std::wstring fits(232, L'f'), tooLong(233, L'f');
  mox_utils::WriteProfileInt(fits.c_str(), L"v", 0x01020304);
  mox_utils::WriteProfileInt(tooLong.c_str(), L"v", 1);
  EXPECT_EQ(mox_utils::WriteProfileBinary(tooLong.c_str(), L"v", ab, 2), 0);
  // 7 characters, the last beyond the BMP: 8 UTF-16LE units and a terminator.
  const Bytes title = {'G', 0, 'r', 0, 0xFC, 0, 0xDF, 0, 'e', 0, ' ', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};
  const Tree expected = {
      {reg::foldRegistryName(kRoot) + L"\\", {}},
      {at(L"W"), {}},
      {at(L"W", L"Title"), {reg::kRegSz, title}},
      {at(L"W", L"Empty"), {reg::kRegSz, Bytes{0, 0}}},
      {at(L"W", L"Mixed"), {reg::kRegDword, Bytes{0xFE, 0xFF, 0xFF, 0xFF}}},
      {at(fits), {}},
      {at(fits, L"v"), {reg::kRegDword, Bytes{4, 3, 2, 1}}},
  };
  EXPECT_EQ(dump(), expected);
  EXPECT_EQ(mox_utils::GetProfileStringW(L"W", L"Title", L""), L"Gr\u00fc\u00dfe \U0001F600");
}

// Every stored value read by all three readers: each takes only its own
// kind, and falls back to its default (or null and 0) for anything else.
TEST_F(ProfileTest, ReadersTakeTheirOwnKindOnly) {
  Bytes big(4000, 0);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  const std::wstring tooLong(233, L'f');  // only the text reader takes a path over 255 characters
  // Section, entry, stored type (kRegNone: nothing stored) and data, and what
  // the text, integer and binary readers give (the binary one: the data or
  // nothing).
  const std::tuple<std::wstring, const wchar_t*, DWORD, Bytes, std::wstring, int, bool> cases[] = {
      {L"S", L"Empty", reg::kRegSz, {0, 0}, L"def", 77, false},  // an empty text reads as the default
      {L"S", L"Text", reg::kRegSz, reg::registryTextBytes(L"12"), L"12", 77, false},  // text is no integer
      {L"S", L"TEXT", reg::kRegNone, {}, L"12", 77, false},                           // names ignore case
      {L"S", L"Missing", reg::kRegNone, {}, L"def", 77, false},
      {L"NoSuchSection", L"Text", reg::kRegNone, {}, L"def", 77, false},
      {L"S", L"Int", reg::kRegDword, {0xFB, 0xFF, 0xFF, 0xFF}, L"def", -5, false},
      {L"S", L"Short", reg::kRegDword, {1, 0}, L"def", 77, false},
      {L"S", L"Long", reg::kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}, L"def", 77, false},
      {L"S", L"IntAsBinary", reg::kRegBinary, {9, 0, 0, 0}, L"def", 77, true},
      {L"S", L"Big", reg::kRegBinary, big, L"def", 77, true},
      {L"S", L"NoBytes", reg::kRegBinary, {}, L"def", 77, true},  // still a new block, to delete[]
      {L"S", L"Multi", reg::kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}, L"a", 77, false},  // the first string
      {L"S", L"Expand", reg::kRegExpandSz, reg::registryTextBytes(L"%HOME%\\x"), L"%HOME%\\x", 77, false},
      {L"S", L"NoTerminator", reg::kRegSz, {'o', 0, 'k', 0}, L"ok", 77, false},
      {tooLong, L"t", reg::kRegSz, reg::registryTextBytes(L"far"), L"far", 77, false},
      {tooLong, L"v", reg::kRegDword, {5, 0, 0, 0}, L"def", 77, false},
      {tooLong, L"b", reg::kRegBinary, {1}, L"def", 77, false},
  };
  for (const auto& [section, entry, type, data, text, integer, binary] : cases) {
    if (type != reg::kRegNone) rawSet(section, entry, type, data);
  }
  mox_utils::DeleteProfileValue(tooLong.c_str(), L"t");  // over the limit: deletes nothing
  for (const auto& [section, entry, type, data, text, integer, binary] : cases) {
    SCOPED_TRACE(entry);
    EXPECT_EQ(mox_utils::GetProfileStringW(section.c_str(), entry, L"def"), text);
    EXPECT_EQ(mox_utils::GetProfileIntW(section.c_str(), entry, 77), integer);
    unsigned char* block = reinterpret_cast<unsigned char*>(1);
    unsigned int size = 99;
    EXPECT_EQ(mox_utils::GetProfileBinary(section.c_str(), entry, &block, &size), binary ? 1 : 0);
    EXPECT_EQ(block != nullptr, binary);
    EXPECT_EQ(block != nullptr ? Bytes(block, size) : Bytes(size, 0), binary ? data : Bytes());
    delete[] block;
  }
  // A null default reads as the empty text; a null block pointer finds nothing.
  EXPECT_EQ(mox_utils::GetProfileStringW(L"S", L"Empty", nullptr), L"");
  EXPECT_EQ(mox_utils::GetProfileStringW(L"S", L"Missing", nullptr), L"");
  unsigned int size = 99;
  EXPECT_EQ(mox_utils::GetProfileBinary(L"S", L"Big", nullptr, &size), 0);
  EXPECT_EQ(size, 0u);
}

// A source with values of every kind and nested and empty keys, and with
// names, data and key paths at the limits of the copy's buffers: names of 255
// characters, data of 512 bytes and paths of 255 characters are copied, one
// more of each is left out. "Cpy" is as long as "Src"; below the longer
// "X\Yz" the longest path no longer fits either.
TEST_F(ProfileTest, CopyAndRenameReproduceTheTree) {
  mox_utils::WriteProfileStringW(L"P", L"Src\\Name", L"Linear");  // a key path as entry is just a name
  mox_utils::WriteProfileStringW(L"P\\Src", L"Name", L"L12-5");
  mox_utils::WriteProfileInt(L"P\\Src", L"Elements", 192);
  rawSet(L"P\\Src", L"Calibration", reg::kRegBinary, Bytes{1, 2, 3, 0, 255});
  rawSet(L"P\\Src", L"Paths", reg::kRegMultiSz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
  rawSet(L"P\\Src", L"", reg::kRegExpandSz, reg::registryTextBytes(L"%X%"));
  mox_utils::WriteProfileStringW(L"P\\Src\\Presets\\Cardiac\\Doppler", L"Mode", L"PW");
  rawSet(L"P\\Src", std::wstring(255, L'n'), reg::kRegDword, Bytes{1, 0, 0, 0});
  rawSet(L"P\\Src", std::wstring(256, L'n'), reg::kRegDword, Bytes{2, 0, 0, 0});
  rawSet(L"P\\Src", L"Data512", reg::kRegBinary, Bytes(512, 0x5A));
  rawSet(L"P\\Src", L"Data513", reg::kRegBinary, Bytes(513, 0x5A));
  // "Software\Quorvane\Doze\P\Src\" is 29 characters: a subkey of 226 makes a path of 255.
  const std::wstring longest(226, L'k'), tooLong(227, L'k');
  rawSet(L"P\\Src\\" + longest, L"v", reg::kRegDword, Bytes{3, 0, 0, 0});
  rawSet(L"P\\Src\\" + tooLong, L"v", reg::kRegDword, Bytes{4, 0, 0, 0});
  HKEY empty = nullptr;
  ASSERT_EQ(reg::regCreateKeyEx(reg::currentUserKey(), keyPath(L"P\\Src\\Empty").c_str(), reg::kKeyWrite, &empty), 0);
  reg::regCloseKey(empty);

  const Tree before = dump();
  Tree copy = subtree(before, L"P\\Src", L"P\\Cpy");
  ASSERT_EQ(copy.size(), 19u);  // 7 keys, 12 values
  for (const std::wstring& left : {at(L"P\\Cpy", std::wstring(256, L'n')), at(L"P\\Cpy", L"Data513"),
                                   at(L"P\\Cpy\\" + tooLong), at(L"P\\Cpy\\" + tooLong, L"v")})
    ASSERT_EQ(copy.erase(left), 1u);

  // Missing sources change nothing; neither do copies onto or into the
  // source itself, where a copy would feed on itself and the delete would
  // lose everything.
  mox_utils::RenameProfileKey(L"P", L"Missing", L"Dst");
  mox_utils::RenameProfileKey(L"NoSuchSection", L"Src", L"Dst");
  mox_utils::RenameProfileKey(L"P", L"Src", L"SRC");
  mox_utils::RenameProfileKey(L"P", L"Src", L"src\\Inner");
  mox_utils::CopyProfileKey(L"P", L"Src\\", L"Src", 1);
  EXPECT_EQ(dump(), before);

  mox_utils::CopyProfileKey(L"P", L"Src", L"Cpy", 0);
  Tree expected = before;
  expected.insert(copy.begin(), copy.end());
  EXPECT_EQ(dump(), expected);

  // Renamed into a deeper, new place.
  mox_utils::RenameProfileKey(L"P", L"Cpy", L"X\\Yz");
  expected = subtree(copy, L"P\\Cpy", L"P\\X\\Yz");
  ASSERT_EQ(expected.erase(at(L"P\\X\\Yz\\" + longest)) + expected.erase(at(L"P\\X\\Yz\\" + longest, L"v")), 2u);
  expected.insert(before.begin(), before.end());
  expected[at(L"P\\X")] = {};
  EXPECT_EQ(dump(), expected);
}

// A key moved or copied up into one of its own parents: a subkey of the
// source named like the source's step below the destination lands inside
// the source itself, and must survive the source's deletion.
TEST_F(ProfileTest, CopyAndRenameIntoAParent) {
  const auto build = [] {
    mox_utils::WriteProfileStringW(L"P\\A\\B", L"x", L"B");
    mox_utils::WriteProfileStringW(L"P\\A\\B\\B", L"child", L"BB");
    mox_utils::WriteProfileStringW(L"P\\A\\B\\C", L"y", L"BC");
    mox_utils::WriteProfileStringW(L"P\\A", L"z", L"A");
  };
  // The values of A, A\B, A\B\B and A\C, '-' for none.
  const auto values = [] {
    std::wstring out;
    for (const auto& [section, entry] : {std::pair{L"P\\A", L"x"},
                                         {L"P\\A", L"z"},
                                         {L"P\\A\\B", L"child"},
                                         {L"P\\A\\B", L"x"},
                                         {L"P\\A\\B\\B", L"child"},
                                         {L"P\\A\\C", L"y"}})
      out += mox_utils::GetProfileStringW(section, entry, L"-") + L" ";
    return out;
  };
  build();
  mox_utils::RenameProfileKey(L"P", L"A\\B", L"A");
  EXPECT_EQ(values(), L"B A BB - - BC ");
  mox_utils::RenameProfileKey(L"P", L"A", L"Gone");
  build();
  mox_utils::CopyProfileKey(L"P", L"A\\B", L"A", 0);
  EXPECT_EQ(values(), L"B A BB B BB BC ");
}

// Processes writing into one section at once: each reads its own values
// back while the others write, and in the end every value is there.
TEST_F(ProfileTest, ProcessesWritingAtOnceLoseNothing) {
  constexpr int kProcesses = 3, kValues = 60;
  auto entry = [](int p, int i) { return L"p" + std::to_wstring(p) + L"_" + std::to_wstring(i); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();  // each child opens the hive itself: nothing is open here yet
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        mox_utils::WriteProfileInt(L"Shared", entry(p, i).c_str(), p * 1000 + i);
        failures += mox_utils::GetProfileIntW(L"Shared", entry(p, i).c_str(), -1) != p * 1000 + i;
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
    for (int i = 0; i < kValues; ++i)
      EXPECT_EQ(mox_utils::GetProfileIntW(L"Shared", entry(p, i).c_str(), -1), p * 1000 + i);
  }
}

}  // namespace
