// The description of one imaging variable (identifier, display name, value
// type, units, category, description, permissions, fast update) and its XML
// form, plus the conversions between the type and permission values and
// their texts.
//
// XML form, on an element chosen by the caller:
//   attributes "id", "name", "type" (the type text, ".alias" appended for an
//   alias); child "unit" with the unit text and attribute "disp" for the
//   display unit; child "category" with attributes "root" and "sub"; child
//   "desc" with the description; child "permissions" with children "write"
//   and "read"; child "fastupdate" with the text "1".
//
// A plain value: no locking; the static conversions may be called from any
// thread.
#pragma once

#include <string>

#include "kel_unit_convert/CValue.h"
#include "mox_utils/export.h"
#include "mox_utils/metadata/MetadataEnums.h"
#include "mox_utils/metadata/StringEnumHelper.h"
#include "mox_utils/xml/kelXMLNode.h"

namespace mox::detail {
struct MetadataHelpers;
}

struct MOX_API VarInfo {
  VarInfo();
  VarInfo(const VarInfo& other);
  VarInfo& operator=(const VarInfo& other);
  ~VarInfo();

  // Fills every field from the node (absent items give their defaults, so
  // nothing of an earlier content survives). True when the loaded id is not
  // empty; false, with the object unchanged, for an invalid node.
  bool Load(const kelXMLNode& node);
  // Writes the description into the node, removing the unit, category,
  // description, permission and fast-update items that are not set. After the
  // first failed write nothing more is written (removals still happen); the
  // result is false then, and for an invalid node. Attributes and children
  // not named above are left alone.
  bool Store(const kelXMLNode& node) const;

  // The type text, followed by ".alias" when isAlias; an unregistered type
  // gives the empty text (or ".alias").
  static std::wstring CreateTypeString(EVariableType type, bool isAlias);
  // Splits a type text at its first ".alias" (anything after it is ignored).
  // An empty or unrecognised type gives -1.
  static void LoadTypeString(const std::wstring& text, EVariableType& type, bool& isAlias);

  // Text of a type or permission: static text, never null; the empty text for
  // a value that is not registered.
  static const wchar_t* TypeToString(EVariableType type);
  static const wchar_t* TypeToString(EPermissions permission);
  // The registered value of a text (case-sensitive), or -1; the empty text is
  // the permission 0. A null pointer reads as an unregistered text.
  static EVariableType StringToType(const wchar_t* text);
  static EPermissions StringToTypeP(const wchar_t* text);

  // Fills the type and permission tables. The tables are filled when the
  // library loads; calling this again changes nothing. Returns true.
  static bool StaticInit();

  std::string id;
  std::wstring name;
  EVariableType type;
  EPermissions writePermission;  // 0 or -1: none
  EPermissions readPermission;   // 0 or -1: none
  CValue::UnitType unit;         // 0 or 48: no unit
  CValue::UnitType displayUnit;  // 0 or 48: no unit
  std::wstring description;
  std::string categoryRoot;
  std::string categorySub;
  bool isAlias;
  bool fastUpdate;

 private:
  friend struct mox::detail::MetadataHelpers;
  static bool FillHelpers(StringEnumHelper& types, StringEnumHelper& permissions);

  static const EnumInfo<EVariableType> g_enumInfo[VARTYPE_COUNT + 1];
  static const EnumInfo<EPermissions> g_enumWInfo[PERMISSION_COUNT + 1];
  // The helpers g_helperType and g_helperWrite live in MetadataHelpers.
  static bool g_initalized;
};
