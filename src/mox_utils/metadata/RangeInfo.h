// The range of a variable (start, step, stop) as the texts stored in the
// attributes "start", "step" and "stop" of a caller's element; no numeric
// meaning is given to them here. A plain value: no locking.
#pragma once

#include <string>

#include "mox_utils/export.h"
#include "mox_utils/xml/kelXMLNode.h"

struct MOX_API RangeInfo {
  RangeInfo();
  RangeInfo(const RangeInfo& other);
  RangeInfo& operator=(const RangeInfo& other);
  ~RangeInfo();

  // Reads the three attributes (absent ones give the empty text). True when
  // start is not empty; false, with the object unchanged, for an invalid node.
  bool Load(const kelXMLNode& node);
  // Writes "start" (also when empty), then sets or, when empty, removes
  // "step" and then "stop". Stops at the first call the node reports as
  // failed, removals included, and returns false then; false for an invalid
  // node.
  bool Store(const kelXMLNode& node) const;

  // Exact, case-sensitive comparison of the three texts.
  bool operator==(const RangeInfo& other) const;
  bool operator!=(const RangeInfo& other) const;

  std::wstring start;
  std::wstring stop;
  std::wstring step;
};
