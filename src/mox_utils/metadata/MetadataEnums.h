// The enumerations of the variable metadata. Only their values and texts are
// written to files; every enumeration also carries -1, the result of reading a
// text that is not registered.
#pragma once

// The value type of an imaging variable. The geometric types name the value
// classes of the geometry family.
enum EVariableType : int {
  VARTYPE_INVALID = -1,
  VARTYPE_INTEGER = 0,       // "integer"
  VARTYPE_FLOAT = 1,         // "float"
  VARTYPE_STRING = 2,        // "string"
  VARTYPE_GAINCURVE = 3,     // "gaincurve"  (UGainCurve)
  VARTYPE_RECTANGLE = 4,     // "rectangle"  (URect)
  VARTYPE_CURVE = 5,         // "curve"      (UCurve)
  VARTYPE_COLOR = 6,         // "color"      (UColor)
  VARTYPE_BOOLEAN = 7,       // "boolean"
  VARTYPE_ARRAY = 8,         // "array"
  VARTYPE_POINT = 9,         // "point"      (UPoint)
  VARTYPE_SCANCONVERT = 10,  // "scanconvert" (UScanConvert)
  VARTYPE_COUNT = 11
};

// When a variable may be read or written with respect to the user. 0 (the
// empty text) is the absence of a permission.
enum EPermissions : int {
  PERMISSION_INVALID = -1,
  PERMISSION_NONE = 0,          // ""
  PERMISSION_NEVER = 1,         // "never"
  PERMISSION_NOT_ON_USER = 2,   // "not on user"
  PERMISSION_ONLY_ON_USER = 3,  // "only on user"
  PERMISSION_COUNT = 4
};

// Where a variable belongs.
enum ESource : int {
  SOURCE_INVALID = -1,
  SOURCE_SYSTEM = 0,   // "system"
  SOURCE_IMAGING = 1,  // "imaging"
  SOURCE_PATIENT = 2,  // "patient"
  SOURCE_GUI = 3,      // "gui"
  SOURCE_MAP = 4,      // "map"
  SOURCE_COUNT = 5
};

// The direction of a variable assignment.
enum EVarAccess : int {
  ACCESS_INVALID = -1,
  ACCESS_READ = 0,   // "read"
  ACCESS_WRITE = 1,  // "write"
  ACCESS_COUNT = 2
};
