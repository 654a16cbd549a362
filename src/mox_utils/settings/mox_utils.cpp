// The text and numeric utilities of mox_utils. The settings store lives in
// mox_utils_profile.cpp.
#include "mox_utils/settings/mox_utils.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <string>

namespace {

// Bounds on findandreplace's repeated search. A replacement longer than its
// search text can keep producing new matches (for some pairs without end),
// so the edit stops once the text has grown by kMaxReplaceGrowth characters
// or after text length + kMaxReplacements replacements; every rewrite that
// shrinks the text or keeps its length ends long before either.
constexpr std::size_t kMaxReplaceGrowth = std::size_t{1} << 20;
constexpr std::size_t kMaxReplacements = std::size_t{1} << 24;

}  // namespace

bool mox_utils::readLineOfTextFromFile(std::FILE* file, char* buffer, int maxLength) {
  if (file == nullptr) return false;
  // Only up to maxLength + 1 bytes are kept: a longer line is refused anyway,
  // but it is still consumed up to its line feed.
  const std::size_t limit = maxLength < 0 ? 0 : static_cast<std::size_t>(maxLength);
  std::string line;
  bool tooLong = maxLength < 0;
  for (;;) {
    const int c = std::fgetc(file);
    if (c == EOF) return false;
    if (c == '\n') break;
    if (line.size() < limit) {
      line.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  if (tooLong || buffer == nullptr) return false;
  line.copy(buffer, line.size());
  buffer[line.size()] = '\0';
  return true;
}

bool mox_utils::removeChars(char* text, char c) {
  if (text == nullptr) return true;
  // Compacting in place gives the same text as copying the kept characters
  // to a scratch buffer and back, without an allocation that could fail.
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (*in != c) *out++ = *in;
  }
  *out = '\0';
  return true;
}

void mox_utils::findandreplace(std::wstring& text, const std::wstring& search, const std::wstring& replacement) {
  if (search.empty()) return;
  const std::size_t m = search.size();
  if (replacement.find(search) != std::wstring::npos) {
    // Searching again from the start would find the inserted text forever:
    // replace each occurrence of the original text once, left to right.
    std::wstring out;
    std::size_t pos = 0;
    for (std::size_t hit = text.find(search); hit != std::wstring::npos; hit = text.find(search, pos)) {
      out.append(text, pos, hit - pos);
      out += replacement;
      pos = hit + m;
    }
    if (pos == 0) return;
    out.append(text, pos, std::wstring::npos);
    text.swap(out);
    return;
  }

  // Each round replaces the first occurrence in the whole text, so text made
  // by one replacement can match in the next ("aaaa", "aa" -> "a" ends as
  // "a"). After a replacement at p no occurrence can start before p - m + 1
  // (it would lie wholly in the untouched prefix and have been found first),
  // so the scan resumes there instead of at 0, with the same result. The
  // text is held as a gap buffer: `done` is scanned text, `todo` the rest in
  // reverse (its back is the next character), so a replacement costs its own
  // length instead of a move of the whole tail.
  std::wstring done;
  done.reserve(text.size());
  std::wstring todo(text.rbegin(), text.rend());
  const std::size_t maxSize = text.size() + kMaxReplaceGrowth;
  const std::size_t maxReplacements = text.size() + kMaxReplacements;
  std::size_t replacements = 0;
  bool changed = false;
  while (!todo.empty()) {
    done.push_back(todo.back());
    todo.pop_back();
    if (done.size() < m || done.compare(done.size() - m, m, search) != 0) continue;
    if (done.size() - m + replacement.size() + todo.size() > maxSize || ++replacements > maxReplacements) break;
    done.resize(done.size() - m);
    todo.append(replacement.rbegin(), replacement.rend());
    const std::size_t back = done.size() < m - 1 ? done.size() : m - 1;
    todo.append(done.rbegin(), done.rbegin() + static_cast<std::ptrdiff_t>(back));
    done.resize(done.size() - back);
    changed = true;
  }
  if (!changed) return;
  done.append(todo.rbegin(), todo.rend());
  text.swap(done);
}

double mox_utils::RawTnTeeToPhase(int raw) { return static_cast<double>(raw) * 0.0686 - 29.23; }

double mox_utils::RawTnTeeToTemperature(int raw) {
  const double r = static_cast<double>(raw);
  return 0.0029365 * (r * r) - 13.113 * r + 14665.2;
}

int mox_utils::TemperatureToRawTnTee(double temperature) {
  const double raw = mox_utils::round((13.113 - std::sqrt((-13.113) * (-13.113) - (14665.2 - temperature) * 0.011746)) *
                                      170.2707304614337);
  // Above the vertex of the polynomial the root is not real (NaN). The
  // processor's conversion gives INT_MIN for NaN and values out of range;
  // that value is returned here without the undefined conversion.
  if (!(raw >= static_cast<double>(INT_MIN) && raw <= static_cast<double>(INT_MAX))) return INT_MIN;
  return static_cast<int>(raw);
}

double mox_utils::round(double x) { return x >= 0.0 ? std::floor(x + 0.5) : std::ceil(x - 0.5); }
