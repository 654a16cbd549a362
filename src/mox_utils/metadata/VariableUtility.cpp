#include "mox_utils/metadata/VariableUtility.h"

#include "mox_utils/metadata/MetadataHelpers.h"

const EnumInfo<ESource> VariableUtility::g_enumInfo[SOURCE_COUNT + 1] = {
    {SOURCE_SYSTEM, L"system"}, {SOURCE_IMAGING, L"imaging"}, {SOURCE_PATIENT, L"patient"},
    {SOURCE_GUI, L"gui"},       {SOURCE_MAP, L"map"},         {SOURCE_COUNT, L""},
};

const EnumInfo<EVarAccess> VariableUtility::g_accessInfo[ACCESS_COUNT + 1] = {
    {ACCESS_READ, L"read"},
    {ACCESS_WRITE, L"write"},
    {ACCESS_COUNT, L""},
};

// Fills the tables while the library loads; the helpers are built on first
// use, so this works in any order.
bool VariableUtility::g_initalized = VariableUtility::StaticInit();

VariableUtility& VariableUtility::operator=(const VariableUtility&) { return *this; }

bool VariableUtility::FillHelpers(StringEnumHelper& sources, StringEnumHelper& access) {
  mox::detail::addRowsUntil(sources, g_enumInfo, SOURCE_COUNT);
  mox::detail::addRowsUntil(access, g_accessInfo, ACCESS_COUNT);
  return true;
}

bool VariableUtility::StaticInit() {
  mox::detail::MetadataHelpers& helpers = mox::detail::metadataHelpers();
  return FillHelpers(helpers.sources, helpers.access);
}

const wchar_t* VariableUtility::SourceToString(ESource source) {
  return mox::detail::metadataHelpers().sources.MapValue(source);
}

const wchar_t* VariableUtility::AccessToString(EVarAccess access) {
  return mox::detail::metadataHelpers().access.MapValue(access);
}

ESource VariableUtility::StringToSource(const wchar_t* text) {
  if (text == nullptr) return SOURCE_INVALID;
  return static_cast<ESource>(mox::detail::metadataHelpers().sources.MapName(text));
}

EVarAccess VariableUtility::StringToAccess(const wchar_t* text) {
  if (text == nullptr) return ACCESS_INVALID;
  return static_cast<EVarAccess>(mox::detail::metadataHelpers().access.MapName(text));
}

void VariableUtility::AddAssignment(std::vector<varAssignments>& assignments, const char* name, EVariableType type,
                                    EVarAccess access) {
  try {
    assignments.push_back(varAssignments{name, type, access});
  } catch (...) {
    // push_back leaves the vector as it was when it cannot grow.
  }
}
