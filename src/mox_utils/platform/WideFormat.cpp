// The wide printf formatter with the Windows conventions. glibc's vswprintf
// cannot stand in: its %s is narrow and goes through the locale (UTF-8 bytes
// fail in the C locale), its %S is wide, it reads %I64d as a 64-wide field and
// it returns -1 instead of a truncated text. So the format is walked here, and
// every conversion except floating point is formatted natively; floating point
// goes through swprintf with a rebuilt, glibc-safe sub-format.
//
// One walker writes into three kinds of output: a bounded wide buffer, a
// growing wide string and a bounded UTF-8 buffer (log files), so a log line is
// formatted once, straight into the bytes that are written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "mox_utils/platform/Text.h"

namespace mox::platform {

namespace {

constexpr wchar_t kReplacementChar = 0xFFFD;
// Widths and precisions are cut here, so that no format can make the
// unbounded string form allocate without bound.
constexpr int kMaxField = 65536;
// glibc formats %f of the largest long double with 4933 digits before the
// point; the floating precision is cut so that one buffer always suffices.
constexpr int kMaxFloatPrecision = 4096;

bool isScalar(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

// A bounded wide buffer: keeps room for the terminator.
class WideBufferSink {
 public:
  WideBufferSink(wchar_t* buffer, std::size_t capacity) : m_begin(buffer), m_p(buffer), m_end(buffer + capacity - 1) {}
  bool full() const { return m_p == m_end; }
  void put(wchar_t c) {
    if (m_p != m_end) *m_p++ = c;
  }
  void put(const wchar_t* s, std::size_t n) {
    const std::size_t room = static_cast<std::size_t>(m_end - m_p);
    if (n > room) n = room;
    std::wmemcpy(m_p, s, n);
    m_p += n;
  }
  void fill(wchar_t c, std::size_t n) {
    const std::size_t room = static_cast<std::size_t>(m_end - m_p);
    if (n > room) n = room;
    std::wmemset(m_p, c, n);
    m_p += n;
  }
  void putAscii(const char* s, std::size_t n) {
    const std::size_t room = static_cast<std::size_t>(m_end - m_p);
    if (n > room) n = room;
    for (std::size_t i = 0; i < n; ++i) m_p[i] = static_cast<wchar_t>(s[i]);
    m_p += n;
  }
  std::size_t finish() {
    *m_p = L'\0';
    return static_cast<std::size_t>(m_p - m_begin);
  }

 private:
  wchar_t* m_begin;
  wchar_t* m_p;
  wchar_t* m_end;
};

class WideStringSink {
 public:
  bool full() const { return false; }
  void put(wchar_t c) { m_text.push_back(c); }
  void put(const wchar_t* s, std::size_t n) { m_text.append(s, n); }
  void fill(wchar_t c, std::size_t n) { m_text.append(n, c); }
  void putAscii(const char* s, std::size_t n) { m_text.append(s, s + n); }
  std::wstring take() { return std::move(m_text); }

 private:
  std::wstring m_text;
};

// A bounded UTF-8 buffer that also counts characters. Once a character does
// not fit, nothing more is written, so the output is always a prefix of the
// whole text.
class Utf8Sink {
 public:
  Utf8Sink(char* buffer, std::size_t capacity, std::size_t maxChars)
      : m_begin(buffer), m_p(buffer), m_end(buffer + capacity - 1), m_left(maxChars) {
    m_full = m_left == 0 || m_p == m_end;
  }
  bool full() const { return m_full; }
  void put(wchar_t w) {
    if (m_full) return;
    auto c = static_cast<char32_t>(w);
    if (c < 0x80) {
      *m_p++ = static_cast<char>(c);
    } else {
      if (!isScalar(c)) c = kReplacementChar;
      char tmp[4];
      std::size_t n;
      if (c < 0x800) {
        tmp[0] = static_cast<char>(0xC0 | (c >> 6));
        tmp[1] = static_cast<char>(0x80 | (c & 0x3F));
        n = 2;
      } else if (c < 0x10000) {
        tmp[0] = static_cast<char>(0xE0 | (c >> 12));
        tmp[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        tmp[2] = static_cast<char>(0x80 | (c & 0x3F));
        n = 3;
      } else {
        tmp[0] = static_cast<char>(0xF0 | (c >> 18));
        tmp[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        tmp[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        tmp[3] = static_cast<char>(0x80 | (c & 0x3F));
        n = 4;
      }
      if (static_cast<std::size_t>(m_end - m_p) < n) {
        m_full = true;
        return;
      }
      std::memcpy(m_p, tmp, n);
      m_p += n;
    }
    if (--m_left == 0 || m_p == m_end) m_full = true;
  }
  // ASCII runs are copied in bulk, with the bounds checked once per run.
  void put(const wchar_t* s, std::size_t n) {
    while (n != 0 && !m_full) {
      std::size_t run = n < m_left ? n : m_left;
      const auto room = static_cast<std::size_t>(m_end - m_p);
      if (run > room) run = room;
      std::size_t j = 0;
      while (j < run && static_cast<std::uint32_t>(s[j]) < 0x80) {
        m_p[j] = static_cast<char>(s[j]);
        ++j;
      }
      m_p += j;
      m_left -= j;
      s += j;
      n -= j;
      if (m_left == 0 || m_p == m_end) {
        m_full = true;
        return;
      }
      if (j < run) {
        put(*s++);
        --n;
      }
    }
  }
  void fill(wchar_t c, std::size_t n) {
    if (static_cast<std::uint32_t>(c) >= 0x80) {
      for (std::size_t i = 0; i < n && !m_full; ++i) put(c);
      return;
    }
    if (m_full) return;
    if (n > m_left) n = m_left;
    const auto room = static_cast<std::size_t>(m_end - m_p);
    if (n > room) n = room;
    std::memset(m_p, static_cast<int>(c), n);
    m_p += n;
    m_left -= n;
    if (m_left == 0 || m_p == m_end) m_full = true;
  }
  void putAscii(const char* s, std::size_t n) {
    if (m_full) return;
    if (n > m_left) n = m_left;
    const auto room = static_cast<std::size_t>(m_end - m_p);
    if (n > room) n = room;
    std::memcpy(m_p, s, n);
    m_p += n;
    m_left -= n;
    if (m_left == 0 || m_p == m_end) m_full = true;
  }
  std::size_t finish() {
    *m_p = '\0';
    return static_cast<std::size_t>(m_p - m_begin);
  }

 private:
  char* m_begin;
  char* m_p;
  char* m_end;
  std::size_t m_left;
  bool m_full;
};

// A va_list that can be passed by reference on every ABI (on x86-64 va_list
// is an array type, which a parameter turns into a pointer).
struct Args {
  va_list ap;
};

enum class Size { kDefault, kChar, kShort, kLong32, kInt32, kInt64, kPointer, kLongDouble, kWide };

struct Conversion {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  int width = 0;
  int precision = -1;  // -1: none given
  Size size = Size::kDefault;
};

int parseNumber(const wchar_t*& f) {
  int value = 0;
  while (*f >= L'0' && *f <= L'9') {
    if (value < kMaxField) value = value * 10 + (*f - L'0');
    ++f;
  }
  return value < kMaxField ? value : kMaxField;
}

template <class Sink>
void emitInteger(Sink& out, const Conversion& conv, std::uint64_t magnitude, bool negative, unsigned base, bool upper,
                 bool isSigned) {
  const char* table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  const bool nonZero = magnitude != 0;
  wchar_t digits[24];
  wchar_t* const end = digits + 24;
  wchar_t* p = end;
  if (base == 10) {
    // 64-bit division is several times slower than 32-bit: only the high
    // part of a large value pays for it.
    while (magnitude > 0xFFFFFFFFu) {
      *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
      magnitude /= 10;
    }
    auto small = static_cast<std::uint32_t>(magnitude);
    while (small >= 100) {
      const std::uint32_t pair = small % 100;
      small /= 100;
      *--p = static_cast<wchar_t>(L'0' + pair % 10);
      *--p = static_cast<wchar_t>(L'0' + pair / 10);
    }
    if (small >= 10) {
      *--p = static_cast<wchar_t>(L'0' + small % 10);
      small /= 10;
    }
    if (small != 0) *--p = static_cast<wchar_t>(L'0' + small);
  } else {
    const unsigned shift = base == 16 ? 4 : 3;
    while (magnitude != 0) {
      *--p = static_cast<wchar_t>(table[magnitude & (base - 1)]);
      magnitude >>= shift;
    }
  }
  const std::size_t count = static_cast<std::size_t>(end - p);
  if (conv.width == 0 && conv.precision < 0 && !negative && !conv.plus && !conv.space && !conv.alt) {
    // The common case, "%d" of a positive value: the digits alone.
    if (count == 0) {
      out.put(L'0');
    } else {
      out.put(p, count);
    }
    return;
  }
  std::size_t zeros = 0;
  if (conv.precision < 0) {
    if (count == 0) zeros = 1;
  } else if (count < static_cast<std::size_t>(conv.precision)) {
    zeros = static_cast<std::size_t>(conv.precision) - count;
  }
  if (base == 8 && conv.alt && zeros == 0 && (count == 0 || *p != L'0')) zeros = 1;

  wchar_t prefix[2];
  std::size_t prefixLength = 0;
  if (isSigned) {
    if (negative) {
      prefix[prefixLength++] = L'-';
    } else if (conv.plus) {
      prefix[prefixLength++] = L'+';
    } else if (conv.space) {
      prefix[prefixLength++] = L' ';
    }
  } else if (base == 16 && conv.alt && nonZero) {
    prefix[prefixLength++] = L'0';
    prefix[prefixLength++] = upper ? L'X' : L'x';
  }

  const std::size_t total = prefixLength + zeros + count;
  std::size_t pad = static_cast<std::size_t>(conv.width) > total ? static_cast<std::size_t>(conv.width) - total : 0;
  if (!conv.left && conv.zero && conv.precision < 0) {
    zeros += pad;
    pad = 0;
  }
  if (!conv.left && pad != 0) out.fill(L' ', pad);
  if (prefixLength != 0) out.put(prefix, prefixLength);
  if (zeros != 0) out.fill(L'0', zeros);
  out.put(p, count);
  if (conv.left && pad != 0) out.fill(L' ', pad);
}

// Padding of a text of `length` characters. The Windows runtime pads with
// zeros under the '0' flag whatever the conversion.
template <class Sink>
void padBefore(Sink& out, const Conversion& conv, std::size_t length) {
  if (!conv.left && static_cast<std::size_t>(conv.width) > length)
    out.fill(conv.zero ? L'0' : L' ', static_cast<std::size_t>(conv.width) - length);
}

template <class Sink>
void padAfter(Sink& out, const Conversion& conv, std::size_t length) {
  if (conv.left && static_cast<std::size_t>(conv.width) > length)
    out.fill(L' ', static_cast<std::size_t>(conv.width) - length);
}

template <class Sink>
void emitWideString(Sink& out, const Conversion& conv, const wchar_t* s) {
  if (s == nullptr) s = L"(null)";
  std::size_t length = 0;
  if (conv.precision < 0) {
    length = std::wcslen(s);
  } else {
    while (length < static_cast<std::size_t>(conv.precision) && s[length] != L'\0') ++length;
  }
  padBefore(out, conv, length);
  out.put(s, length);
  padAfter(out, conv, length);
}

template <class Sink>
void emitNarrowString(Sink& out, const Conversion& conv, const char* s) {
  if (s == nullptr) s = "(null)";
  // With a precision only the bytes that can make up that many characters
  // are read, so an unterminated buffer of that size is safe.
  const std::size_t maxChars = conv.precision < 0 ? SIZE_MAX : static_cast<std::size_t>(conv.precision);
  const std::size_t bytes = conv.precision < 0 ? std::strlen(s) : strnlen(s, maxChars * 4);
  const std::string_view text(s, bytes);
  std::size_t length = 0;
  if (conv.width > 0) {
    for (std::size_t i = 0; i < text.size() && length < maxChars; ++length) decodeUtf8(text, &i);
  }
  padBefore(out, conv, length);
  std::size_t i = 0;
  for (std::size_t n = 0; i < text.size() && n < maxChars && !out.full();) {
    // ASCII runs go out in bulk; anything else is decoded one character at
    // a time.
    const std::size_t limit = std::min(text.size(), i + (maxChars - n));
    std::size_t j = i;
    while (j < limit && static_cast<unsigned char>(text[j]) < 0x80) ++j;
    if (j > i) {
      out.putAscii(text.data() + i, j - i);
      n += j - i;
      i = j;
    } else {
      out.put(static_cast<wchar_t>(decodeUtf8(text, &i)));
      ++n;
    }
  }
  padAfter(out, conv, length);
}

template <class Sink>
void emitChar(Sink& out, const Conversion& conv, wchar_t c) {
  padBefore(out, conv, 1);
  out.put(c);
  padAfter(out, conv, 1);
}

template <class Sink>
void emitFloat(Sink& out, const Conversion& conv, wchar_t conversion, Args& a) {
  wchar_t sub[16];
  std::size_t n = 0;
  sub[n++] = L'%';
  if (conv.plus) sub[n++] = L'+';
  if (conv.space) sub[n++] = L' ';
  if (conv.alt) sub[n++] = L'#';
  if (conv.precision >= 0) sub[n++] = L'.', sub[n++] = L'*';
  if (conv.size == Size::kLongDouble) sub[n++] = L'L';
  sub[n++] = conversion;
  sub[n] = L'\0';
  const int precision = conv.precision < kMaxFloatPrecision ? conv.precision : kMaxFloatPrecision;

  wchar_t small[512];
  std::wstring large;
  wchar_t* text = small;
  std::size_t room = 512;
  int length;
  const bool isLong = conv.size == Size::kLongDouble;
  const long double ld = isLong ? va_arg(a.ap, long double) : 0.0L;
  const double d = isLong ? 0.0 : va_arg(a.ap, double);
  for (int attempt = 0;; ++attempt) {
    if (conv.precision >= 0) {
      length = isLong ? std::swprintf(text, room, sub, precision, ld) : std::swprintf(text, room, sub, precision, d);
    } else {
      length = isLong ? std::swprintf(text, room, sub, ld) : std::swprintf(text, room, sub, d);
    }
    if (length >= 0 || attempt == 1) break;
    large.resize(static_cast<std::size_t>(precision > 0 ? precision : 0) + 5200);
    text = large.data();
    room = large.size();
  }
  if (length < 0) return;
  const auto count = static_cast<std::size_t>(length);

  // The sign, then for %a the "0x", stay in front of zero padding; infinity
  // and NaN are padded with blanks.
  std::size_t head = 0;
  if (count > 0 && (text[0] == L'-' || text[0] == L'+' || text[0] == L' ')) head = 1;
  if (count >= head + 2 && text[head] == L'0' && (text[head + 1] == L'x' || text[head + 1] == L'X')) head += 2;
  const bool finite = count > head && std::iswxdigit(static_cast<wint_t>(text[head]));
  const std::size_t pad =
      static_cast<std::size_t>(conv.width) > count ? static_cast<std::size_t>(conv.width) - count : 0;
  if (conv.left) {
    out.put(text, count);
    out.fill(L' ', pad);
  } else if (conv.zero && finite) {
    out.put(text, head);
    out.fill(L'0', pad);
    out.put(text + head, count - head);
  } else {
    out.fill(L' ', pad);
    out.put(text, count);
  }
}

// Decimal digits of v, ending at `end`; returns where they start.
wchar_t* decimalDigits(wchar_t* end, std::uint32_t v) {
  wchar_t* p = end;
  while (v >= 100) {
    const std::uint32_t pair = v % 100;
    v /= 100;
    *--p = static_cast<wchar_t>(L'0' + pair % 10);
    *--p = static_cast<wchar_t>(L'0' + pair / 10);
  }
  if (v >= 10) {
    *--p = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
    *--p = static_cast<wchar_t>(L'0' + v);
  } else {
    *--p = static_cast<wchar_t>(L'0' + v);
  }
  return p;
}

// The conversions that nearly every message uses, without flags, width,
// precision or size: handled before the general parser. Returns false to
// leave the conversion to it.
template <class Sink>
bool formatCommon(Sink& out, const wchar_t*& f, Args& a) {
  wchar_t digits[16];
  wchar_t* const end = digits + 16;
  switch (f[1]) {
    case L'd':
    case L'i': {
      const int v = va_arg(a.ap, int);
      wchar_t* p = decimalDigits(end, v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v));
      if (v < 0) *--p = L'-';
      out.put(p, static_cast<std::size_t>(end - p));
      break;
    }
    case L'u': {
      const wchar_t* p = decimalDigits(end, va_arg(a.ap, unsigned int));
      out.put(p, static_cast<std::size_t>(end - p));
      break;
    }
    case L'x': {
      unsigned int v = va_arg(a.ap, unsigned int);
      wchar_t* p = end;
      do {
        *--p = static_cast<wchar_t>("0123456789abcdef"[v & 15]);
        v >>= 4;
      } while (v != 0);
      out.put(p, static_cast<std::size_t>(end - p));
      break;
    }
    case L's': {
      const wchar_t* s = va_arg(a.ap, const wchar_t*);
      if (s == nullptr) s = L"(null)";
      out.put(s, std::wcslen(s));
      break;
    }
    case L'S':
      emitNarrowString(out, Conversion{}, va_arg(a.ap, const char*));
      break;
    case L'c':
      out.put(static_cast<wchar_t>(va_arg(a.ap, wint_t)));
      break;
    case L'0': {
      // "%02d", the clock fields.
      if (f[2] != L'2' || f[3] != L'd') return false;
      const int v = va_arg(a.ap, int);
      if (v < 0 || v > 99) {
        Conversion conv;
        conv.zero = true;
        conv.width = 2;
        const bool negative = v < 0;
        emitInteger(out, conv, negative ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) : v, negative,
                    10, false, true);
      } else {
        digits[0] = static_cast<wchar_t>(L'0' + v / 10);
        digits[1] = static_cast<wchar_t>(L'0' + v % 10);
        out.put(digits, 2);
      }
      f += 4;
      return true;
    }
    default:
      return false;
  }
  f += 2;
  return true;
}

template <class Sink>
void formatInto(Sink& out, const wchar_t* f, Args& a) {
  if (f == nullptr) return;
  for (;;) {
    const wchar_t* run = f;
    while (*f != L'\0' && *f != L'%') ++f;
    if (f != run) out.put(run, static_cast<std::size_t>(f - run));
    if (*f == L'\0' || out.full()) return;
    if (formatCommon(out, f, a)) continue;
    const wchar_t* const start = f++;

    Conversion conv;
    for (;; ++f) {
      if (*f == L'-') {
        conv.left = true;
      } else if (*f == L'+') {
        conv.plus = true;
      } else if (*f == L' ') {
        conv.space = true;
      } else if (*f == L'#') {
        conv.alt = true;
      } else if (*f == L'0') {
        conv.zero = true;
      } else {
        break;
      }
    }
    if (*f == L'*') {
      ++f;
      int width = va_arg(a.ap, int);
      if (width < 0) {
        conv.left = true;
        width = width == INT32_MIN ? kMaxField : -width;
      }
      conv.width = width < kMaxField ? width : kMaxField;
    } else {
      conv.width = parseNumber(f);
    }
    if (*f == L'.') {
      ++f;
      if (*f == L'*') {
        ++f;
        const int precision = va_arg(a.ap, int);
        conv.precision = precision < 0 ? -1 : (precision < kMaxField ? precision : kMaxField);
      } else {
        conv.precision = parseNumber(f);
      }
    }
    switch (*f) {
      case L'h':
        ++f;
        if (*f == L'h') {
          ++f;
          conv.size = Size::kChar;
        } else {
          conv.size = Size::kShort;
        }
        break;
      case L'l':
        ++f;
        if (*f == L'l') {
          ++f;
          conv.size = Size::kInt64;
        } else {
          conv.size = Size::kLong32;
        }
        break;
      case L'L':
        ++f;
        conv.size = Size::kLongDouble;
        break;
      case L'w':
        ++f;
        conv.size = Size::kWide;
        break;
      case L'j':
      case L'q':
        ++f;
        conv.size = Size::kInt64;
        break;
      case L'z':
      case L't':
        ++f;
        conv.size = Size::kPointer;
        break;
      case L'I':
        ++f;
        if (f[0] == L'6' && f[1] == L'4') {
          f += 2;
          conv.size = Size::kInt64;
        } else if (f[0] == L'3' && f[1] == L'2') {
          f += 2;
          conv.size = Size::kInt32;
        } else {
          conv.size = Size::kPointer;
        }
        break;
      default:
        break;
    }

    const wchar_t conversion = *f;
    if (conversion == L'\0') return;  // an unfinished conversion prints nothing
    ++f;
    switch (conversion) {
      case L'd':
      case L'i': {
        std::int64_t v;
        switch (conv.size) {
          case Size::kChar:
            v = static_cast<signed char>(va_arg(a.ap, int));
            break;
          case Size::kShort:
            v = static_cast<short>(va_arg(a.ap, int));
            break;
          case Size::kLong32:
            v = static_cast<std::int32_t>(va_arg(a.ap, long));
            break;
          case Size::kInt64:
            v = va_arg(a.ap, long long);
            break;
          case Size::kPointer:
            v = static_cast<std::int64_t>(va_arg(a.ap, std::intptr_t));
            break;
          default:
            v = va_arg(a.ap, int);
            break;
        }
        const bool negative = v < 0;
        const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        emitInteger(out, conv, magnitude, negative, 10, false, true);
        break;
      }
      case L'u':
      case L'x':
      case L'X':
      case L'o': {
        std::uint64_t v;
        switch (conv.size) {
          case Size::kChar:
            v = static_cast<unsigned char>(va_arg(a.ap, unsigned int));
            break;
          case Size::kShort:
            v = static_cast<unsigned short>(va_arg(a.ap, unsigned int));
            break;
          case Size::kLong32:
            v = static_cast<std::uint32_t>(va_arg(a.ap, unsigned long));
            break;
          case Size::kInt64:
            v = va_arg(a.ap, unsigned long long);
            break;
          case Size::kPointer:
            v = static_cast<std::uint64_t>(va_arg(a.ap, std::uintptr_t));
            break;
          default:
            v = va_arg(a.ap, unsigned int);
            break;
        }
        const unsigned base = conversion == L'u' ? 10 : (conversion == L'o' ? 8 : 16);
        emitInteger(out, conv, v, false, base, conversion == L'X', false);
        break;
      }
      case L's':
      case L'S': {
        const bool wide =
            conv.size == Size::kLong32 || conv.size == Size::kWide || (conversion == L's' && conv.size != Size::kShort);
        if (wide) {
          emitWideString(out, conv, va_arg(a.ap, const wchar_t*));
        } else {
          emitNarrowString(out, conv, va_arg(a.ap, const char*));
        }
        break;
      }
      case L'c':
      case L'C': {
        const bool wide =
            conv.size == Size::kLong32 || conv.size == Size::kWide || (conversion == L'c' && conv.size != Size::kShort);
        if (wide) {
          emitChar(out, conv, static_cast<wchar_t>(va_arg(a.ap, wint_t)));
        } else {
          const auto b = static_cast<unsigned char>(va_arg(a.ap, int));
          emitChar(out, conv, b < 0x80 ? static_cast<wchar_t>(b) : kReplacementChar);
        }
        break;
      }
      case L'p': {
        Conversion pointerSpec = conv;
        pointerSpec.precision = static_cast<int>(2 * sizeof(void*));
        pointerSpec.alt = false;
        const auto v = reinterpret_cast<std::uintptr_t>(va_arg(a.ap, void*));
        emitInteger(out, pointerSpec, v, false, 16, true, false);
        break;
      }
      case L'e':
      case L'E':
      case L'f':
      case L'F':
      case L'g':
      case L'G':
      case L'a':
      case L'A':
        emitFloat(out, conv, conversion, a);
        break;
      case L'n':
        (void)va_arg(a.ap, void*);  // never written: a format must not write memory
        break;
      case L'%':
        out.put(L'%');
        break;
      default:
        out.put(start, static_cast<std::size_t>(f - start));
        break;
    }
  }
}

}  // namespace

std::size_t formatWideV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args) {
  if (capacity == 0) return 0;
  WideBufferSink out(buffer, capacity);
  Args a;
  va_copy(a.ap, args);
  formatInto(out, format, a);
  va_end(a.ap);
  return out.finish();
}

std::size_t formatWide(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::size_t n = formatWideV(buffer, capacity, format, args);
  va_end(args);
  return n;
}

std::wstring formatWideStringV(const wchar_t* format, va_list args) {
  WideStringSink out;
  Args a;
  va_copy(a.ap, args);
  formatInto(out, format, a);
  va_end(a.ap);
  return out.take();
}

std::wstring formatWideString(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = formatWideStringV(format, args);
  va_end(args);
  return text;
}

std::size_t formatUtf8V(char* buffer, std::size_t capacity, std::size_t maxChars, const wchar_t* format, va_list args) {
  if (capacity == 0) return 0;
  Utf8Sink out(buffer, capacity, maxChars);
  Args a;
  va_copy(a.ap, args);
  formatInto(out, format, a);
  va_end(a.ap);
  return out.finish();
}

std::size_t formatUtf8(char* buffer, std::size_t capacity, std::size_t maxChars, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::size_t n = formatUtf8V(buffer, capacity, maxChars, format, args);
  va_end(args);
  return n;
}

}  // namespace mox::platform
