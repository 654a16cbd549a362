// The process-wide name tables of the metadata enumerations, built together
// on first use in their load order (sources and access first, then types and
// permissions), so no static initialiser elsewhere depends on the order in
// which translation units are initialised. Read-only once built.
#pragma once

#include "mox_utils/metadata/StringEnumHelper.h"

namespace mox::detail {

struct MetadataHelpers {
  MetadataHelpers();

  StringEnumHelper sources;  // ESource
  StringEnumHelper access;   // EVarAccess
  bool utilityInitialized;
  StringEnumHelper types;        // EVariableType
  StringEnumHelper permissions;  // EPermissions
  bool varInfoInitialized;
};

// Built on the first call (thread-safe), destroyed at exit.
MetadataHelpers& metadataHelpers();

// Registers every row of a table up to the row whose value is `terminator`.
// Unlike StringEnumHelper::AddTable this also registers rows with an empty
// name (the permission 0).
template <typename T>
void addRowsUntil(StringEnumHelper& helper, const EnumInfo<T>* rows, T terminator) {
  for (; rows->value != terminator; ++rows) helper.AddEnumValue(rows->name, static_cast<int>(rows->value));
}

}  // namespace mox::detail
