#include "mox_utils/logging/kelLogRepository.h"

#include <cstring>
#include <vector>

#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/MonitorSize.h"
#include "mox_utils/platform/StandardStreams.h"
#include "mox_utils/platform/Text.h"

namespace {

constexpr int kMaxSessions = 999;

void writeAndFlush(std::FILE* stream, const char* text, std::size_t length) {
  if (stream == nullptr) return;
  std::fwrite(text, 1, length, stream);
  std::fflush(stream);
}

std::wstring twoDigits(int value) {
  wchar_t buffer[16];
  mox::platform::formatWide(buffer, 16, L"%02d", value);
  return buffer;
}

}  // namespace

bool FilterKey::operator<(const FilterKey& other) const {
  if (type != other.type) return static_cast<int>(type) < static_cast<int>(other.type);
  // std::string compares as char, which is signed here; the order is by
  // unsigned bytes, as strcmp defines it.
  return std::strcmp(source.c_str(), other.source.c_str()) < 0;
}

kelLogRepository::kelLogRepository() = default;

kelLogRepository::~kelLogRepository() {
  for (auto& entry : m_openFiles) {
    LogFile& file = *entry.second;
    std::FILE* stream = file.stream.load();
    if (stream != nullptr && isActionLog(file.name)) writeActionFooter(stream);
    closeFile(file);
  }
  if (m_stdout.stream.load() != nullptr) mox::platform::releaseStandardStream(mox::platform::StandardStream::kOutput);
  if (m_stderr.stream.load() != nullptr) mox::platform::releaseStandardStream(mox::platform::StandardStream::kError);
  m_stdout.stream = nullptr;
  m_stderr.stream = nullptr;
}

void kelLogRepository::openSession() {
  SYSTEMTIME now;
  mox::platform::localTime(&now);
  wchar_t month[32];
  mox::platform::formatWide(month, 32, L"%d-%02d", now.wYear, now.wMonth);
  const std::wstring monthDirectory = m_basePath + month;
  if (!mox::platform::directoryExists(monthDirectory)) mox::platform::createDirectory(monthDirectory);
  const std::wstring dayDirectory = monthDirectory + L"\\" + twoDigits(now.wDay);
  if (!mox::platform::directoryExists(dayDirectory)) mox::platform::createDirectory(dayDirectory);

  m_sessionDirectory = dayDirectory + L"\\";
  for (int n = 1; n <= kMaxSessions; ++n) {
    wchar_t name[32];
    mox::platform::formatWide(name, 32, L"Session %03d", n);
    const std::wstring candidate = m_sessionDirectory + name;
    bool taken = false;
    if (mox::platform::directoryExists(candidate)) {
      std::vector<mox::platform::DirectoryEntry> entries;
      taken = mox::platform::listDirectory(candidate, &entries) && entries.empty();
    } else if (!mox::platform::fileExists(candidate)) {
      // Created, or at least tried: a directory that cannot be created still
      // becomes the session, and its files fail to open.
      mox::platform::createDirectory(candidate);
      taken = true;
    }
    if (taken) {
      m_sessionDirectory = candidate + L"\\";
      break;
    }
  }

  reopenStandard(m_stdout, true);
  reopenStandard(m_stderr, false);
  // Writers look at a file's stream without the file lock to skip lines
  // nobody would see, so the new file is opened before the old one is
  // swapped out: a stream that was open never reads as null in between.
  for (auto& entry : m_openFiles) {
    LogFile& file = *entry.second;
    const bool actionLog = isActionLog(file.name);
    std::FILE* fresh = mox::platform::openFile(m_sessionDirectory + file.name, "w+");
    if (fresh != nullptr && actionLog) writeActionHeader(fresh);
    std::FILE* old = file.stream.exchange(fresh);
    if (old != nullptr) {
      if (actionLog) writeActionFooter(old);
      std::fclose(old);
    }
  }
}

bool kelLogRepository::cutOff(const SYSTEMTIME& utcNow, int months, SYSTEMTIME* out) {
  int year = utcNow.wYear - months / 12;
  int month = utcNow.wMonth - months % 12;
  if (month <= 0) {
    month += 12;
    year -= 1;
  } else if (month > 12) {  // a negative month count moves forward
    month -= 12;
    year += 1;
  }
  if (year < 1601 || year > 30827) return false;
  SYSTEMTIME result{};
  result.wYear = static_cast<WORD>(year);
  result.wMonth = static_cast<WORD>(month);
  result.wDay = 1;
  *out = result;
  return true;
}

void kelLogRepository::removeOldLogs() {
  std::vector<mox::platform::DirectoryEntry> entries;
  if (!mox::platform::listDirectory(m_basePath, &entries) || entries.empty()) return;
  SYSTEMTIME now, limit;
  FILETIME limitTime;
  mox::platform::systemTime(&now);
  if (!cutOff(now, m_monthsToKeep, &limit) || !mox::platform::systemTimeToFileTime(limit, &limitTime)) return;
  const std::uint64_t limitValue = mox::platform::fileTimeValue(limitTime);
  for (const auto& entry : entries) {
    if (!entry.isDirectory) continue;
    const std::wstring path = m_basePath + entry.name;
    FILETIME created;
    if (!mox::platform::creationTime(path, &created)) continue;
    if (mox::platform::fileTimeValue(created) < limitValue) mox::platform::removeTree(path);
  }
}

void kelLogRepository::setStandardFileNames() {
  m_stdout.name = L"events.log";
  m_stderr.name = L"errors.log";
  reopenStandard(m_stdout, true);
  reopenStandard(m_stderr, false);
}

void kelLogRepository::reopenStandard(LogFile& entry, bool isOutput) {
  const auto which = isOutput ? mox::platform::StandardStream::kOutput : mox::platform::StandardStream::kError;
  // Closing the old file: the stream itself stays, pointed at the null device
  // until (and unless) the new file opens.
  if (entry.stream.load() != nullptr) {
    mox::platform::releaseStandardStream(which);
    entry.stream = nullptr;
  }
  if (entry.name.empty()) return;
  entry.stream = mox::platform::redirectStandardStream(which, m_sessionDirectory + entry.name);
}

void kelLogRepository::openFile(LogFile& file) {
  file.stream = mox::platform::openFile(m_sessionDirectory + file.name, "w+");
}

void kelLogRepository::closeFile(LogFile& file) {
  std::FILE* stream = file.stream.exchange(nullptr);
  if (stream != nullptr) std::fclose(stream);
}

void kelLogRepository::addFileFilter(const FilterKey& key, const std::wstring& target) {
  if (target != L"NULL" && m_openFiles.find(target) == m_openFiles.end()) {
    auto file = std::make_unique<LogFile>();
    file->name = target;
    openFile(*file);
    std::FILE* stream = file->stream.load();
    if (stream != nullptr && isActionLog(target)) writeActionHeader(stream);
    m_openFiles.emplace(target, std::move(file));
  }
  m_fileFilters[key] = target;
}

LogFile* kelLogRepository::findFile(const std::wstring& name) const {
  const auto it = m_openFiles.find(name);
  return it == m_openFiles.end() ? nullptr : it->second.get();
}

void kelLogRepository::writeActionHeader(std::FILE* stream) {
  const mox::platform::MonitorSize size = mox::platform::monitorSize();
  char text[160];
  const std::size_t n = mox::platform::formatUtf8(
      text, sizeof text, sizeof text, L"<?xml version=\"1.0\" ?>\n<action_log res_width=\"%d\" res_height=\"%d\">\n",
      size.width, size.height);
  writeAndFlush(stream, text, n);
}

void kelLogRepository::writeActionFooter(std::FILE* stream) {
  static const char kFooter[] = "</action_log>\n";
  writeAndFlush(stream, kFooter, sizeof kFooter - 1);
}
