#include "mox_utils/metadata/VarInfo.h"

#include "mox_utils/metadata/MetadataHelpers.h"

namespace {

constexpr wchar_t kAliasSuffix[] = L".alias";

bool unitIsSet(CValue::UnitType unit) { return unit != 0 && unit != 48; }
bool permissionIsSet(EPermissions permission) { return permission != 0 && permission != -1; }

}  // namespace

const EnumInfo<EVariableType> VarInfo::g_enumInfo[VARTYPE_COUNT + 1] = {
    {VARTYPE_INTEGER, L"integer"},
    {VARTYPE_FLOAT, L"float"},
    {VARTYPE_STRING, L"string"},
    {VARTYPE_GAINCURVE, L"gaincurve"},
    {VARTYPE_RECTANGLE, L"rectangle"},
    {VARTYPE_CURVE, L"curve"},
    {VARTYPE_COLOR, L"color"},
    {VARTYPE_BOOLEAN, L"boolean"},
    {VARTYPE_ARRAY, L"array"},
    {VARTYPE_POINT, L"point"},
    {VARTYPE_SCANCONVERT, L"scanconvert"},
    {VARTYPE_COUNT, L""},
};

const EnumInfo<EPermissions> VarInfo::g_enumWInfo[PERMISSION_COUNT + 1] = {
    {PERMISSION_NONE, L""},
    {PERMISSION_NEVER, L"never"},
    {PERMISSION_NOT_ON_USER, L"not on user"},
    {PERMISSION_ONLY_ON_USER, L"only on user"},
    {PERMISSION_COUNT, L""},
};

// Fills the tables while the library loads, as the conversions expect; the
// helpers themselves are built on first use, so this works in any order.
bool VarInfo::g_initalized = VarInfo::StaticInit();

bool VarInfo::FillHelpers(StringEnumHelper& types, StringEnumHelper& permissions) {
  mox::detail::addRowsUntil(types, g_enumInfo, VARTYPE_COUNT);
  mox::detail::addRowsUntil(permissions, g_enumWInfo, PERMISSION_COUNT);
  return true;
}

bool VarInfo::StaticInit() {
  mox::detail::MetadataHelpers& helpers = mox::detail::metadataHelpers();
  return FillHelpers(helpers.types, helpers.permissions);
}

const wchar_t* VarInfo::TypeToString(EVariableType type) { return mox::detail::metadataHelpers().types.MapValue(type); }

const wchar_t* VarInfo::TypeToString(EPermissions permission) {
  return mox::detail::metadataHelpers().permissions.MapValue(permission);
}

EVariableType VarInfo::StringToType(const wchar_t* text) {
  if (text == nullptr) return VARTYPE_INVALID;
  return static_cast<EVariableType>(mox::detail::metadataHelpers().types.MapName(text));
}

EPermissions VarInfo::StringToTypeP(const wchar_t* text) {
  if (text == nullptr) return PERMISSION_INVALID;
  return static_cast<EPermissions>(mox::detail::metadataHelpers().permissions.MapName(text));
}

VarInfo::VarInfo()
    : type(VARTYPE_INTEGER),
      writePermission(PERMISSION_NONE),
      readPermission(PERMISSION_NONE),
      unit(CValue::UNIT_NONE),
      displayUnit(CValue::UNIT_NONE),
      isAlias(false),
      fastUpdate(false) {}

VarInfo::VarInfo(const VarInfo& other) = default;
VarInfo& VarInfo::operator=(const VarInfo& other) = default;
VarInfo::~VarInfo() = default;

std::wstring VarInfo::CreateTypeString(EVariableType type, bool isAlias) {
  std::wstring text = TypeToString(type);
  if (isAlias) text += kAliasSuffix;
  return text;
}

void VarInfo::LoadTypeString(const std::wstring& text, EVariableType& type, bool& isAlias) {
  const std::size_t alias = text.find(kAliasSuffix);
  if (alias != std::wstring::npos) {
    isAlias = true;
    type = StringToType(text.substr(0, alias).c_str());
  } else {
    isAlias = false;
    type = StringToType(text.c_str());
  }
}

bool VarInfo::Load(const kelXMLNode& node) {
  if (!node.isValid()) return false;
  try {
    id = node.getAttributeANSI(L"id", "");
    name = node.getAttribute(L"name", L"");
    LoadTypeString(node.getAttribute(L"type", L""), type, isAlias);

    unit = CValue::UnitFromString(node.getValueByName(L"unit", L"").c_str());
    const kelXMLNode unitNode = node.getChildByName(L"unit", false);
    displayUnit = CValue::UnitFromString(unitNode.getAttribute(L"disp", L"").c_str());

    const kelXMLNode category = node.getChildByName(L"category", false);
    categoryRoot = category.getAttributeANSI(L"root", "");
    categorySub = category.getAttributeANSI(L"sub", "");

    description = node.getValueByName(L"desc", L"");

    const kelXMLNode permissions = node.getChildByName(L"permissions", false);
    writePermission = StringToTypeP(permissions.getValueByName(L"write", L"").c_str());
    readPermission = StringToTypeP(permissions.getValueByName(L"read", L"").c_str());

    fastUpdate = node.getValueByName(L"fastupdate", L"") == L"1";
  } catch (...) {
    // Only allocation can fail here; the description is then incomplete.
    return false;
  }
  return !id.empty();
}

bool VarInfo::Store(const kelXMLNode& node) const {
  if (!node.isValid()) return false;
  try {
    // One flag for every write: after the first failure nothing more is
    // written, but stale items are still removed. Removals never change it.
    bool ok = node.setAttribute(L"id", id.c_str());
    if (ok) ok = node.setAttribute(L"name", name.c_str());
    if (ok) ok = node.setAttribute(L"type", CreateTypeString(type, isAlias).c_str());

    if (!unitIsSet(unit) && !unitIsSet(displayUnit)) {
      node.removeChildByName(L"unit");
    } else {
      const kelXMLNode unitNode = node.getChildByName(L"unit", true);
      if (!unitIsSet(unit))
        unitNode.removeValue();
      else if (ok)
        ok = unitNode.setValue(CValue::StringFromUnit(unit).c_str());
      if (!unitIsSet(displayUnit))
        unitNode.removeAttribute(L"disp");
      else if (ok)
        ok = unitNode.setAttribute(L"disp", CValue::StringFromUnit(displayUnit).c_str());
    }

    if (categoryRoot.empty() && categorySub.empty()) {
      node.removeChildByName(L"category");
    } else {
      const kelXMLNode category = node.getChildByName(L"category", true);
      if (categoryRoot.empty())
        category.removeAttribute(L"root");
      else if (ok)
        ok = category.setAttribute(L"root", categoryRoot.c_str());
      if (categorySub.empty())
        category.removeAttribute(L"sub");
      else if (ok)
        ok = category.setAttribute(L"sub", categorySub.c_str());
    }

    if (description.empty())
      node.removeChildByName(L"desc");
    else if (ok)
      ok = node.setElementChild(L"desc", description.c_str(), true);

    if (!permissionIsSet(writePermission) && !permissionIsSet(readPermission)) {
      node.removeChildByName(L"permissions");
    } else {
      const kelXMLNode permissions = node.getChildByName(L"permissions", true);
      const struct {
        const wchar_t* name;
        EPermissions value;
      } entries[] = {{L"write", writePermission}, {L"read", readPermission}};
      for (const auto& entry : entries) {
        if (!permissionIsSet(entry.value))
          permissions.removeChildByName(entry.name);
        else if (ok)
          ok = permissions.setElementChild(entry.name, TypeToString(entry.value), true);
      }
    }

    if (!fastUpdate)
      node.removeChildByName(L"fastupdate");
    else if (ok)
      ok = node.setElementChild(L"fastupdate", L"1", true);
    return ok;
  } catch (...) {
    return false;
  }
}
