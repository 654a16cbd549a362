// Conversions between the source and access values and their texts, and the
// list of variable assignments. A class of static functions only; safe to
// call from any thread (the name tables are read-only once built).
#pragma once

#include <vector>

#include "mox_utils/export.h"
#include "mox_utils/metadata/MetadataEnums.h"
#include "mox_utils/metadata/StringEnumHelper.h"

namespace mox::detail {
struct MetadataHelpers;
}

// One variable assignment. The name is not copied: the caller keeps the text
// alive as long as the entry.
struct varAssignments {
  const char* name;
  EVariableType type;
  EVarAccess access;
};

class MOX_API VariableUtility {
 public:
  // Assigning does nothing: the class holds no data.
  VariableUtility& operator=(const VariableUtility& other);

  // Text of a source or access value: static text, never null; the empty
  // text for a value that is not registered.
  static const wchar_t* SourceToString(ESource source);
  static const wchar_t* AccessToString(EVarAccess access);
  // The registered value of a text (case-sensitive), or -1. A null pointer
  // reads as an unregistered text.
  static ESource StringToSource(const wchar_t* text);
  static EVarAccess StringToAccess(const wchar_t* text);

  // Appends (name, type, access) to the list, in call order and without any
  // check: the same name twice gives two entries. If memory runs out the
  // list is left as it was.
  static void AddAssignment(std::vector<varAssignments>& assignments, const char* name, EVariableType type,
                            EVarAccess access);

  // Fills the source and access tables. The tables are filled when the
  // library loads; calling this again changes nothing. Returns true.
  static bool StaticInit();

 private:
  friend struct mox::detail::MetadataHelpers;
  static bool FillHelpers(StringEnumHelper& sources, StringEnumHelper& access);

  static const EnumInfo<ESource> g_enumInfo[SOURCE_COUNT + 1];
  static const EnumInfo<EVarAccess> g_accessInfo[ACCESS_COUNT + 1];
  // The helpers g_helper and g_access live in MetadataHelpers.
  static bool g_initalized;
};
