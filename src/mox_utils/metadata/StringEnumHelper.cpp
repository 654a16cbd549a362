#include "mox_utils/metadata/StringEnumHelper.h"

bool StringEnumHelper::TextLess::operator()(const wchar_t* a, const wchar_t* b) const {
  // Names are compared as sequences of 16-bit code units, as on the platform
  // the tables were written for; text beyond the BMP compares by its UTF-16
  // units, which keeps the order of the written files.
  for (;; ++a, ++b) {
    const auto ca = static_cast<unsigned long>(*a);
    const auto cb = static_cast<unsigned long>(*b);
    if (ca != cb || ca == 0) {
      if (ca < 0x10000 && cb < 0x10000) return ca < cb;
      // Surrogate pairs: the lead unit decides (0xD800..0xDBFF).
      const unsigned long ua = ca < 0x10000 ? ca : 0xD800 + ((ca - 0x10000) >> 10);
      const unsigned long ub = cb < 0x10000 ? cb : 0xD800 + ((cb - 0x10000) >> 10);
      if (ua != ub) return ua < ub;
      return ca < cb;
    }
  }
}

StringEnumHelper::StringEnumHelper() = default;
StringEnumHelper::StringEnumHelper(const StringEnumHelper& other) = default;
StringEnumHelper& StringEnumHelper::operator=(const StringEnumHelper& other) = default;
StringEnumHelper::~StringEnumHelper() = default;

void StringEnumHelper::AddEnumValue(const wchar_t* name, int value) {
  m_byName[name] = value;
  m_byValue[value] = name;
}

int StringEnumHelper::MapName(const wchar_t* name) const {
  const auto it = m_byName.find(name);
  return it == m_byName.end() ? -1 : it->second;
}

const wchar_t* StringEnumHelper::MapValue(int value) const {
  const auto it = m_byValue.find(value);
  return it == m_byValue.end() ? L"" : it->second;
}

void StringEnumHelper::FillStringArray(std::vector<const wchar_t*>& names) const {
  names.clear();
  names.reserve(m_byName.size());
  for (const auto& entry : m_byName) names.push_back(entry.first);
}
