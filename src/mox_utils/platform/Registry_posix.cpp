#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/HandleTable.h"
#include "mox_utils/platform/Registry.h"
#include "mox_utils/platform/Text.h"

// The hive is one SQLite database:
//   keys(id, parent, name, folded, length, modified)   the tree; row 1 is the root
//   vals(id, key, name, folded, length, type, data)     the values of each key
// `name` keeps the spelling given at creation, `folded` is the lookup key
// (unique per parent), `length` the name's length in wchar_t. Ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key cannot reach a newer
// key that happens to get its number.
//
// All access of a process goes through one connection under one mutex; other
// processes are kept apart by SQLite's locking (WAL, so readers never wait
// for a writer). Every change runs in a BEGIN IMMEDIATE transaction, which
// takes the write lock at the start: a deferred transaction that read first
// could fail at its first write when another process wrote in between.

namespace mox::platform {

namespace {

constexpr std::int64_t kRootId = 1;
constexpr int kSchemaVersion = 1;

const char* const kSchema =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  length INTEGER NOT NULL,"
    "  modified INTEGER NOT NULL,"
    "  UNIQUE(parent, folded));"
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  length INTEGER NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, folded));"
    "INSERT INTO keys(id, parent, name, folded, length, modified) VALUES(1, NULL, '', '', 0, 0);";

// ---------------------------------------------------------------- folding

locale_t foldLocale() {
  // Built into glibc since 2.35; without it towupper maps ASCII only.
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

std::uint64_t nowAsFileTime() {
  SYSTEMTIME st;
  systemTime(&st);
  FILETIME ft = {0, 0};
  systemTimeToFileTime(st, &ft);
  return fileTimeValue(ft);
}

// ---------------------------------------------------------------- the hive

// One open hive file. Everything below is guarded by `lock`.
class Hive {
 public:
  ~Hive() {
    // A connection inherited through fork() belongs to the parent; closing
    // it here could disturb the parent's locks, so it is left alone.
    if (m_db == nullptr || m_pid != ::getpid()) return;
    for (auto& entry : m_statements) sqlite3_finalize(entry.second);
    sqlite3_close_v2(m_db);
  }

  static std::shared_ptr<Hive> open(const std::string& path, LONG* error);

  bool ownedByThisProcess() const { return m_pid == ::getpid(); }

  // A prepared statement for a constant SQL text, kept for reuse.
  sqlite3_stmt* statement(const char* sql) {
    const auto it = m_statements.find(sql);
    if (it != m_statements.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) return nullptr;
    try {
      m_statements.emplace(sql, stmt);
    } catch (...) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    return stmt;
  }

  bool exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  sqlite3* db() const { return m_db; }

  std::mutex lock;

 private:
  sqlite3* m_db = nullptr;
  pid_t m_pid = 0;
  std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

std::shared_ptr<Hive> Hive::open(const std::string& path, LONG* error) {
  *error = kErrorBadDb;
  std::shared_ptr<Hive> hive;
  try {
    hive = std::make_shared<Hive>();
  } catch (...) {
    *error = kErrorOutOfMemory;
    return nullptr;
  }
  hive->m_pid = ::getpid();
  // Settings are the user's own: a new hive (and with it its -wal and -shm
  // files, which SQLite creates with the same mode) is readable by no one
  // else.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &hive->m_db, flags, nullptr) != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(hive->m_db, kHiveBusyTimeoutMs);
  // WAL: readers never block the writer and a crash never leaves half a
  // transaction. synchronous=NORMAL: a power cut may lose the last changes,
  // but never consistency; a process crash loses nothing committed.
  // Switching a new file to WAL needs it to itself, and SQLite reports a
  // process that opens it at the same moment busy at once, without the busy
  // handler: that wait is done here, a millisecond at a time.
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(hive->m_db, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr) != SQLITE_OK) return nullptr;
  int rc = sqlite3_step(stmt);
  for (int waited = 0; rc == SQLITE_BUSY && waited < kHiveBusyTimeoutMs; ++waited) {
    sqlite3_reset(stmt);
    sqlite3_sleep(1);
    rc = sqlite3_step(stmt);
  }
  const unsigned char* mode = rc == SQLITE_ROW ? sqlite3_column_text(stmt, 0) : nullptr;
  const bool wal = mode != nullptr && sqlite3_stricmp(reinterpret_cast<const char*>(mode), "wal") == 0;
  sqlite3_finalize(stmt);
  if (!wal || !hive->exec("PRAGMA synchronous=NORMAL")) return nullptr;

  // Create the tables once; a second process opening a new file at the same
  // time waits for the first one's transaction and then finds them.
  if (!hive->exec("BEGIN IMMEDIATE")) return nullptr;
  int version = -1;
  if (sqlite3_prepare_v2(hive->m_db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK) {
    if (sqlite3_step(stmt) == SQLITE_ROW) version = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
  }
  bool ok = false;
  if (version == 0) {
    ok = hive->exec(kSchema) && hive->exec("PRAGMA user_version=1");
  } else {
    ok = version == kSchemaVersion;  // a newer or damaged file is left alone
  }
  if (!ok || !hive->exec("COMMIT")) {
    hive->exec("ROLLBACK");
    return nullptr;
  }
  *error = kErrorSuccess;
  return hive;
}

// Makes every directory above a file; true when the last one exists.
bool makeParentDirectories(const std::string& file) {
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1)) {
    const std::string dir = file.substr(0, slash);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

struct HiveSelection {
  std::mutex lock;
  std::string path;            // Guarded by lock. Empty: the default.
  std::shared_ptr<Hive> hive;  // Guarded by lock. Opened on first use.
};

HiveSelection& selection() {
  static auto* s = new HiveSelection;  // never destroyed: handles may outlive static destruction
  return *s;
}

std::shared_ptr<Hive> currentHive(LONG* error) {
  HiveSelection& s = selection();
  std::lock_guard<std::mutex> lock(s.lock);
  if (s.hive && s.hive->ownedByThisProcess()) {
    *error = kErrorSuccess;
    return s.hive;
  }
  // Not opened yet, a failed open, or a connection inherited through fork():
  // open anew. A failure is not remembered, so a later call tries again.
  std::string path = s.path;
  if (path.empty()) {
    path = defaultHivePath();
    if (path.empty() || !makeParentDirectories(path)) {
      *error = kErrorBadDb;
      return nullptr;
    }
  }
  s.hive = Hive::open(path, error);
  return s.hive;
}

// ---------------------------------------------------------------- handles

struct KeyHandle {
  std::shared_ptr<Hive> hive;
  std::int64_t id = 0;
  REGSAM access = 0;
};

detail::HandleTable<KeyHandle>& handles() {
  static auto* table = new detail::HandleTable<KeyHandle>;
  return *table;
}

const HKEY kCurrentUser = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001)));

// What a handle stands for, with a reference to its hive.
LONG resolve(HKEY key, KeyHandle* out) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (key == kCurrentUser) {
    LONG error;
    out->hive = currentHive(&error);
    if (!out->hive) return error;
    out->id = kRootId;
    out->access = kKeyAllAccess;
    return kErrorSuccess;
  }
  const std::shared_ptr<KeyHandle> handle = handles().find(key);
  if (!handle || !handle->hive->ownedByThisProcess()) return kErrorInvalidHandle;
  *out = *handle;
  return kErrorSuccess;
}

// ---------------------------------------------------------------- SQL helpers

// Binds and steps one cached statement; resets it when it goes out of scope.
class Query {
 public:
  Query(Hive& hive, const char* sql) : m_stmt(hive.statement(sql)) {}
  ~Query() {
    if (m_stmt != nullptr) {
      sqlite3_reset(m_stmt);
      sqlite3_clear_bindings(m_stmt);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool valid() const { return m_stmt != nullptr; }
  Query& bind(int i, std::int64_t v) {
    if (m_stmt != nullptr) sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Query& bind(int i, const std::string& text) {
    if (m_stmt != nullptr) sqlite3_bind_text(m_stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& bindBlob(int i, const BYTE* data, DWORD size) {
    static const BYTE kEmpty = 0;  // a null pointer would bind NULL, not an empty blob
    if (m_stmt != nullptr)
      sqlite3_bind_blob(m_stmt, i, size == 0 ? &kEmpty : data, static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int step() { return m_stmt != nullptr ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
  std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
  std::string text(int column) const {
    const unsigned char* t = sqlite3_column_text(m_stmt, column);
    return t == nullptr ? std::string()
                        : std::string(reinterpret_cast<const char*>(t),
                                      static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
  }
  const BYTE* blob(int column, DWORD* size) const {
    const void* b = sqlite3_column_blob(m_stmt, column);
    *size = static_cast<DWORD>(sqlite3_column_bytes(m_stmt, column));
    return static_cast<const BYTE*>(b);
  }

 private:
  sqlite3_stmt* m_stmt;
};

// A transaction that rolls back unless committed. Read transactions give a
// consistent view over several statements; write transactions take the
// write lock at once.
class Transaction {
 public:
  Transaction(Hive& hive, bool write) : m_hive(hive) { m_open = hive.exec(write ? "BEGIN IMMEDIATE" : "BEGIN"); }
  ~Transaction() {
    if (m_open) m_hive.exec("ROLLBACK");
  }
  bool open() const { return m_open; }
  bool commit() {
    if (!m_open) return false;
    if (!m_hive.exec("COMMIT")) return false;  // still open: the destructor rolls back
    m_open = false;
    return true;
  }

 private:
  Hive& m_hive;
  bool m_open;
};

bool keyExists(Hive& hive, std::int64_t id, std::uint64_t* modified = nullptr) {
  Query q(hive, "SELECT modified FROM keys WHERE id = ?1");
  if (q.bind(1, id).step() != SQLITE_ROW) return false;
  if (modified != nullptr) *modified = static_cast<std::uint64_t>(q.integer(0));
  return true;
}

bool touchKey(Hive& hive, std::int64_t id) {
  Query q(hive, "UPDATE keys SET modified = ?2 WHERE id = ?1");
  return q.bind(1, id).bind(2, static_cast<std::int64_t>(nowAsFileTime())).step() == SQLITE_DONE;
}

// ---------------------------------------------------------------- names

struct Name {
  std::string spelled;  // UTF-8 as given
  std::string folded;   // UTF-8 of the folded form
  std::int64_t length = 0;
};

Name makeName(std::wstring_view name) {
  Name n;
  n.spelled = wideToUtf8(name);
  n.folded = wideToUtf8(foldRegistryName(name));
  n.length = static_cast<std::int64_t>(name.size());
  return n;
}

// Splits a key path into names. Null or empty: no names (the key itself).
LONG splitPath(const wchar_t* path, std::vector<Name>* names) {
  names->clear();
  if (path == nullptr || path[0] == L'\0') return kErrorSuccess;
  const std::wstring_view all(path);
  if (all.front() == L'\\') return kErrorBadPathname;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find(L'\\', start);
    if (end == std::wstring_view::npos) end = all.size();
    if (end == start) return kErrorBadPathname;  // "a\\\\b"
    if (end - start > kMaxKeyNameChars) return kErrorInvalidParameter;
    names->push_back(makeName(all.substr(start, end - start)));
    start = end + 1;  // a single trailing backslash ends the loop
  }
  return kErrorSuccess;
}

// The child of parent with the folded name; 0 when there is none, -1 on a
// database error.
std::int64_t findChild(Hive& hive, std::int64_t parent, const Name& name) {
  Query q(hive, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
  const int rc = q.bind(1, parent).bind(2, name.folded).step();
  if (rc == SQLITE_ROW) return q.integer(0);
  return rc == SQLITE_DONE ? 0 : -1;
}

LONG walk(Hive& hive, std::int64_t from, const std::vector<Name>& names, std::int64_t* id) {
  std::int64_t current = from;
  for (const Name& name : names) {
    current = findChild(hive, current, name);
    if (current < 0) return kErrorCantRead;
    if (current == 0) return kErrorFileNotFound;
  }
  *id = current;
  return kErrorSuccess;
}

LONG newHandle(const std::shared_ptr<Hive>& hive, std::int64_t id, REGSAM access, HKEY* result) {
  std::shared_ptr<KeyHandle> handle;
  try {
    handle = std::make_shared<KeyHandle>();
  } catch (...) {
    return kErrorOutOfMemory;
  }
  handle->hive = hive;
  handle->id = id;
  handle->access = access;
  void* h = handles().add(std::move(handle));
  if (h == nullptr) return kErrorOutOfMemory;
  *result = static_cast<HKEY>(h);
  return kErrorSuccess;
}

LONG checkValueName(const wchar_t* name, std::wstring_view* out) {
  *out = name == nullptr ? std::wstring_view() : std::wstring_view(name);
  return out->size() > kMaxValueNameChars ? kErrorInvalidParameter : kErrorSuccess;
}

// Copies UTF-8 text as a wide name into a caller's buffer of `capacity`
// characters including the terminator.
LONG copyName(const std::string& utf8, wchar_t* out, DWORD capacity, DWORD* length) {
  const std::wstring wide = utf8ToWide(utf8);
  if (wide.size() + 1 > capacity) return kErrorMoreData;
  std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  if (length != nullptr) *length = static_cast<DWORD>(wide.size());
  return kErrorSuccess;
}

// Hands out value data as regQueryValueEx does.
LONG copyData(const BYTE* blob, DWORD blobSize, BYTE* data, DWORD* size) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  if (size == nullptr) return kErrorSuccess;
  const DWORD capacity = *size;
  *size = blobSize;
  if (data == nullptr) return kErrorSuccess;
  if (blobSize > capacity) return kErrorMoreData;
  if (blobSize != 0) std::memcpy(data, blob, blobSize);
  return kErrorSuccess;
}

}  // namespace

// ---------------------------------------------------------------- public

HKEY currentUserKey() { return kCurrentUser; }

std::string defaultHivePath() {
  // From the password database, not $HOME: the store belongs to the account,
  // whatever environment the process was started with.
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return std::string();
  }
  std::string home = found->pw_dir;
  if (home.size() > 1 && home.back() == '/') home.pop_back();
  return home + "/.config/mox_utils/hive.sqlite";
}

void setHivePath(const std::string& path) {
  HiveSelection& s = selection();
  std::shared_ptr<Hive> old;  // closed after the lock is released
  std::lock_guard<std::mutex> lock(s.lock);
  s.path = path;
  old = std::move(s.hive);
}

std::string hivePath() {
  HiveSelection& s = selection();
  std::lock_guard<std::mutex> lock(s.lock);
  return s.path.empty() ? defaultHivePath() : s.path;
}

std::wstring foldRegistryName(std::wstring_view name) {
  std::wstring folded(name);
  const locale_t locale = foldLocale();
  for (wchar_t& c : folded) {
    c = locale != static_cast<locale_t>(nullptr) ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale))
                                                 : static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  }
  return folded;
}

std::basic_string<BYTE> registryTextBytes(std::wstring_view text) {
  const std::u16string units = wideToUtf16(text);
  std::basic_string<BYTE> bytes;
  bytes.reserve((units.size() + 1) * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<BYTE>(u & 0xFF));
    bytes.push_back(static_cast<BYTE>(u >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::wstring registryTextFromBytes(const BYTE* data, std::size_t size) {
  std::u16string units;
  if (data == nullptr) return std::wstring();
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  return utf16ToWide(units);
}

namespace {

// A key's handle, checked for the access the call needs (none when 0).
LONG resolveFor(HKEY key, DWORD access, KeyHandle* k) {
  const LONG rc = resolve(key, k);
  if (rc != kErrorSuccess) return rc;
  return access == 0 || (k->access & access) != 0 ? kErrorSuccess : kErrorAccessDenied;
}

// The common start of the calls that take a path below a key: the key's
// handle, checked for `access`, and the path's names.
LONG preparePathCall(HKEY parent, const wchar_t* subKey, DWORD access, KeyHandle* base, std::vector<Name>* names) {
  const LONG rc = resolveFor(parent, access, base);
  if (rc != kErrorSuccess) return rc;
  try {
    return splitPath(subKey, names);
  } catch (...) {
    return kErrorOutOfMemory;
  }
}

// Runs body(hive) on a key that still exists, under its hive's lock and in
// one transaction, a writing one when `write`: that one is committed when
// the body succeeds and rolled back otherwise. *modified, when given,
// receives the key's last write time.
template <class Body>
LONG inKeyTransaction(const KeyHandle& k, bool write, Body&& body, std::uint64_t* modified = nullptr) {
  Hive& hive = *k.hive;
  std::lock_guard<std::mutex> lock(hive.lock);
  Transaction tx(hive, write);
  if (!tx.open()) return write ? kErrorCantWrite : kErrorCantRead;
  if (!keyExists(hive, k.id, modified)) return kErrorKeyDeleted;
  const LONG rc = body(hive);
  if (rc != kErrorSuccess || !write) return rc;
  return tx.commit() ? kErrorSuccess : kErrorCantWrite;
}

}  // namespace

LONG regOpenKeyEx(HKEY parent, const wchar_t* subKey, REGSAM access, HKEY* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  KeyHandle base;
  std::vector<Name> names;
  LONG rc = preparePathCall(parent, subKey, 0, &base, &names);
  if (rc != kErrorSuccess) return rc;
  std::int64_t id = 0;
  rc = inKeyTransaction(base, false, [&](Hive& hive) { return walk(hive, base.id, names, &id); });
  if (rc != kErrorSuccess) return rc;
  return newHandle(base.hive, id, access, result);
}

LONG regCreateKeyEx(HKEY parent, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return kErrorInvalidParameter;
  KeyHandle base;
  std::vector<Name> names;
  LONG rc = preparePathCall(parent, subKey, kKeyCreateSubKey, &base, &names);
  if (rc != kErrorSuccess) return rc;
  std::int64_t id = base.id;
  bool created = false;
  rc = inKeyTransaction(base, true, [&](Hive& hive) -> LONG {
    const std::int64_t now = static_cast<std::int64_t>(nowAsFileTime());
    for (const Name& name : names) {
      const std::int64_t child = findChild(hive, id, name);
      if (child < 0) return kErrorCantWrite;
      if (child > 0) {
        id = child;
        created = false;
        continue;
      }
      Query insert(hive, "INSERT INTO keys(parent, name, folded, length, modified) VALUES(?1, ?2, ?3, ?4, ?5)");
      if (insert.bind(1, id).bind(2, name.spelled).bind(3, name.folded).bind(4, name.length).bind(5, now).step() !=
              SQLITE_DONE ||
          !touchKey(hive, id)) {
        return kErrorCantWrite;
      }
      id = sqlite3_last_insert_rowid(hive.db());
      created = true;
    }
    return kErrorSuccess;
  });
  if (rc != kErrorSuccess) return rc;
  rc = newHandle(base.hive, id, access, result);
  if (rc == kErrorSuccess && disposition != nullptr) {
    *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  }
  return rc;
}

LONG regCloseKey(HKEY key) {
  if (key == kCurrentUser) return kErrorSuccess;
  if (key == nullptr) return kErrorInvalidHandle;
  return handles().remove(key) ? kErrorSuccess : kErrorInvalidHandle;
}

namespace {

// The common start of the value calls: the key's handle, checked for the
// access the call needs, and the value's name in both of its forms.
LONG prepareValueCall(HKEY key, const wchar_t* name, DWORD access, KeyHandle* k, Name* n) {
  LONG rc = resolveFor(key, access, k);
  if (rc != kErrorSuccess) return rc;
  std::wstring_view valueName;
  if ((rc = checkValueName(name, &valueName)) != kErrorSuccess) return rc;
  try {
    *n = makeName(valueName);
  } catch (...) {
    return kErrorOutOfMemory;
  }
  return kErrorSuccess;
}

}  // namespace

LONG regQueryValueEx(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
  KeyHandle k;
  Name n;
  const LONG rc = prepareValueCall(key, name, kKeyQueryValue, &k, &n);
  if (rc != kErrorSuccess) return rc;
  return inKeyTransaction(k, false, [&](Hive& hive) -> LONG {
    Query q(hive, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
    const int step = q.bind(1, k.id).bind(2, n.folded).step();
    if (step == SQLITE_DONE) return kErrorFileNotFound;
    if (step != SQLITE_ROW) return kErrorCantRead;
    DWORD blobSize = 0;
    const BYTE* blob = q.blob(1, &blobSize);
    const LONG copied = copyData(blob, blobSize, data, size);
    if (type != nullptr && (copied == kErrorSuccess || copied == kErrorMoreData)) {
      *type = static_cast<DWORD>(q.integer(0));
    }
    return copied;
  });
}

LONG regSetValueEx(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  if (size > static_cast<DWORD>(INT32_MAX)) return kErrorInvalidParameter;
  KeyHandle k;
  Name n;
  const LONG rc = prepareValueCall(key, name, kKeySetValue, &k, &n);
  if (rc != kErrorSuccess) return rc;
  return inKeyTransaction(k, true, [&](Hive& hive) -> LONG {
    // An existing value keeps its place in the enumeration and its spelling.
    Query q(hive,
            "INSERT INTO vals(key, name, folded, length, type, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6) "
            "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    q.bind(1, k.id).bind(2, n.spelled).bind(3, n.folded).bind(4, n.length).bind(5, type).bindBlob(6, data, size);
    if (q.step() != SQLITE_DONE || !touchKey(hive, k.id)) return kErrorCantWrite;
    return kErrorSuccess;
  });
}

LONG regDeleteValue(HKEY key, const wchar_t* name) {
  KeyHandle k;
  Name n;
  const LONG rc = prepareValueCall(key, name, kKeySetValue, &k, &n);
  if (rc != kErrorSuccess) return rc;
  return inKeyTransaction(k, true, [&](Hive& hive) -> LONG {
    Query q(hive, "DELETE FROM vals WHERE key = ?1 AND folded = ?2");
    if (q.bind(1, k.id).bind(2, n.folded).step() != SQLITE_DONE) return kErrorCantWrite;
    if (sqlite3_changes(hive.db()) == 0) return kErrorFileNotFound;
    return touchKey(hive, k.id) ? kErrorSuccess : kErrorCantWrite;
  });
}

LONG regEnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data, DWORD* dataSize) {
  if (name == nullptr || nameChars == nullptr) return kErrorInvalidParameter;
  KeyHandle k;
  const LONG rc = resolveFor(key, kKeyQueryValue, &k);
  if (rc != kErrorSuccess) return rc;
  return inKeyTransaction(k, false, [&](Hive& hive) -> LONG {
    Query q(hive, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    const int step = q.bind(1, k.id).bind(2, static_cast<std::int64_t>(index)).step();
    if (step == SQLITE_DONE) return kErrorNoMoreItems;
    if (step != SQLITE_ROW) return kErrorCantRead;
    try {
      DWORD length = 0;
      LONG copied = copyName(q.text(0), name, *nameChars, &length);
      if (copied != kErrorSuccess) return copied;
      DWORD blobSize = 0;
      const BYTE* blob = q.blob(2, &blobSize);
      if ((copied = copyData(blob, blobSize, data, dataSize)) != kErrorSuccess) return copied;
      *nameChars = length;
    } catch (...) {
      return kErrorOutOfMemory;
    }
    if (type != nullptr) *type = static_cast<DWORD>(q.integer(1));
    return kErrorSuccess;
  });
}

LONG regEnumKey(HKEY key, DWORD index, wchar_t* name, DWORD nameChars) {
  if (name == nullptr) return kErrorInvalidParameter;
  KeyHandle k;
  const LONG rc = resolveFor(key, kKeyEnumerateSubKeys, &k);
  if (rc != kErrorSuccess) return rc;
  return inKeyTransaction(k, false, [&](Hive& hive) -> LONG {
    Query q(hive, "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
    const int step = q.bind(1, k.id).bind(2, static_cast<std::int64_t>(index)).step();
    if (step == SQLITE_DONE) return kErrorNoMoreItems;
    if (step != SQLITE_ROW) return kErrorCantRead;
    try {
      return copyName(q.text(0), name, nameChars, nullptr);
    } catch (...) {
      return kErrorOutOfMemory;
    }
  });
}

LONG regQueryInfoKey(HKEY key, RegKeyInfo* info) {
  if (info == nullptr) return kErrorInvalidParameter;
  KeyHandle k;
  const LONG rc = resolveFor(key, kKeyQueryValue, &k);
  if (rc != kErrorSuccess) return rc;
  std::uint64_t modified = 0;
  return inKeyTransaction(
      k, false,
      [&](Hive& hive) -> LONG {
        RegKeyInfo result;
        {
          Query q(hive, "SELECT count(*), coalesce(max(length), 0) FROM keys WHERE parent = ?1");
          if (q.bind(1, k.id).step() != SQLITE_ROW) return kErrorCantRead;
          result.subKeys = static_cast<DWORD>(q.integer(0));
          result.maxSubKeyLen = static_cast<DWORD>(q.integer(1));
        }
        {
          Query q(hive,
                  "SELECT count(*), coalesce(max(length), 0), coalesce(max(length(data)), 0) FROM vals WHERE key = ?1");
          if (q.bind(1, k.id).step() != SQLITE_ROW) return kErrorCantRead;
          result.values = static_cast<DWORD>(q.integer(0));
          result.maxValueNameLen = static_cast<DWORD>(q.integer(1));
          result.maxValueLen = static_cast<DWORD>(q.integer(2));
        }
        result.lastWriteTime = makeFileTime(modified);
        *info = result;
        return kErrorSuccess;
      },
      &modified);
}

LONG shDeleteKey(HKEY parent, const wchar_t* subKey) {
  if (subKey == nullptr || subKey[0] == L'\0') return kErrorInvalidParameter;
  KeyHandle base;
  std::vector<Name> names;
  const LONG rc = preparePathCall(parent, subKey, 0, &base, &names);
  if (rc != kErrorSuccess) return rc;
  if (names.empty()) return kErrorInvalidParameter;
  return inKeyTransaction(base, true, [&](Hive& hive) -> LONG {
    std::int64_t target = 0;
    const LONG found = walk(hive, base.id, names, &target);
    if (found != kErrorSuccess) return found == kErrorCantRead ? kErrorCantWrite : found;
    std::int64_t targetParent = 0;
    {
      Query q(hive, "SELECT parent FROM keys WHERE id = ?1");
      if (q.bind(1, target).step() != SQLITE_ROW) return kErrorCantWrite;
      targetParent = q.integer(0);
    }
    // The whole subtree, found level by level through the parent index. UNION,
    // not UNION ALL: a damaged file whose parents form a loop must not make
    // the query run forever.
    Query values(hive,
                 "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
                 " DELETE FROM vals WHERE key IN sub");
    Query keys(hive,
               "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
               " DELETE FROM keys WHERE id IN sub");
    if (values.bind(1, target).step() != SQLITE_DONE || keys.bind(1, target).step() != SQLITE_DONE ||
        !touchKey(hive, targetParent)) {
      return kErrorCantWrite;
    }
    return kErrorSuccess;
  });
}

}  // namespace mox::platform
