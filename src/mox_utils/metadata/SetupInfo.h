// The description of a setup (an imaging preset): the probes it applies to,
// its application, master setup, factory marker and version, kept as
// attributes of one element:
//   "probe"   probe codes in ascending decimal, separated by "," (no spaces)
//   "app", "master", "factory", "version"   decimal integers
//   "research"   written on request, never read
// A plain value: no locking.
#pragma once

#include <set>

#include "mox_utils/export.h"
#include "mox_utils/xml/kelXMLNode.h"

enum PresetType : int {
  PRESET_FACTORY = 0,   // factory > 0, typeSelector <= 0
  PRESET_SELECTED = 1,  // typeSelector > 0
  PRESET_USER = 2,      // factory <= 0, typeSelector <= 0
};

struct MOX_API SetupInfo {
  // No probes, master, app, factory and typeSelector -1 (not set), version 2.
  SetupInfo();
  SetupInfo(const SetupInfo& other);
  SetupInfo& operator=(const SetupInfo& other);
  ~SetupInfo();

  PresetType GetType() const;

  // Loads from the root element of a setup file. False, with the object
  // unchanged, when the file cannot be opened or parsed (or path is null);
  // otherwise the result of Load(node).
  bool Load(const wchar_t* path);
  // Reads the attributes. Absent ones give an empty probe list, -1 for app,
  // master and factory, and 0 for version (not the 2 of a new object).
  // Each item of the probe list is read like atoi (an empty item gives 0).
  // typeSelector is left alone. True when there is at least one probe and
  // app, master and factory are all set (not -1); the fields are filled
  // either way. False, with the object unchanged, for an invalid node.
  bool Load(const kelXMLNode& node);
  // Writes the attributes above, and "research" when research is not -1 (an
  // existing "research" stays otherwise). The individual results are not
  // examined: false only for an invalid node.
  bool Store(const kelXMLNode& node, int research) const;

  std::set<int> probes;
  int master;
  int app;
  int factory;       // above 0: a factory setup
  int typeSelector;  // above 0 selects PRESET_SELECTED; not stored
  int version;
};
