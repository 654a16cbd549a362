// A two-way table between the names and the values of one enumeration.
#pragma once

#include <map>
#include <vector>

#include "mox_utils/export.h"

// One row of an enumeration table. A table ends with a row whose value is the
// enumeration's count and whose name is the empty text; that row is never
// registered.
template <typename T>
struct EnumInfo {
  T value;
  const wchar_t* name;
};

// Names are not copied: the helper keeps the pointers it is given, so every
// registered text must outlive the helper (static text always does).
// Thread-safety: concurrent reads are safe; registration must not overlap any
// other use.
class MOX_API StringEnumHelper {
 public:
  StringEnumHelper();
  StringEnumHelper(const StringEnumHelper& other);
  StringEnumHelper& operator=(const StringEnumHelper& other);
  ~StringEnumHelper();

  // Registers name -> value and value -> name; each map is updated on its
  // own, so a later registration overwrites only the entry it shares a key
  // with.
  void AddEnumValue(const wchar_t* name, int value);
  // The value registered under a name equal in text to `name`, or -1. `name`
  // must not be null.
  int MapName(const wchar_t* name) const;
  // The name registered for `value`, or a static empty text; never null.
  const wchar_t* MapValue(int value) const;
  // Replaces the vector's contents with every registered name, in ascending
  // text order.
  void FillStringArray(std::vector<const wchar_t*>& names) const;

  // Registers every row of a table up to its terminator row (the first row
  // with an empty name).
  template <typename T>
  void AddTable(const EnumInfo<T>* rows) {
    for (; rows->name != nullptr && rows->name[0] != L'\0'; ++rows)
      AddEnumValue(rows->name, static_cast<int>(rows->value));
  }

 private:
  // Orders texts code unit by code unit, as unsigned 16-bit values.
  struct TextLess {
    bool operator()(const wchar_t* a, const wchar_t* b) const;
  };
  std::map<const wchar_t*, int, TextLess> m_byName;
  std::map<int, const wchar_t*> m_byValue;
};
