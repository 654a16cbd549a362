// A measured value with its unit, and the table of units the imaging software
// shows: codes, display texts and conversions between units of one quantity.
//
// Unit codes are stored in settings and variable descriptions, so a code never
// changes its meaning; new units are appended. Codes 0 (`UNIT_NONE`) and 48
// (`UNIT_UNKNOWN`) carry no unit: 0 is the absence of a unit (the empty text),
// 48 is what an unrecognised unit text reads as.
//
// Everything here is plain data and static tables: thread-safe, no allocation
// except the returned strings.
#pragma once

#include <string>

class CValue {
 public:
  enum UnitType : int {
    UNIT_NONE = 0,  // ""
    // Length.
    UNIT_MICROMETER = 1,  // "µm"
    UNIT_MILLIMETER = 2,  // "mm"
    UNIT_CENTIMETER = 3,  // "cm"
    UNIT_METER = 4,       // "m"
    // Frequency.
    UNIT_HERTZ = 5,      // "Hz"
    UNIT_KILOHERTZ = 6,  // "kHz"
    UNIT_MEGAHERTZ = 7,  // "MHz"
    // Time.
    UNIT_NANOSECOND = 8,    // "ns"
    UNIT_MICROSECOND = 9,   // "µs"
    UNIT_MILLISECOND = 10,  // "ms"
    UNIT_SECOND = 11,       // "s"
    UNIT_MINUTE = 12,       // "min"
    // Ratios.
    UNIT_DECIBEL = 13,  // "dB"
    UNIT_PERCENT = 14,  // "%"
    // Angle.
    UNIT_DEGREE = 15,  // "°"
    UNIT_RADIAN = 16,  // "rad"
    // Velocity.
    UNIT_MILLIMETER_PER_SECOND = 17,  // "mm/s"
    UNIT_CENTIMETER_PER_SECOND = 18,  // "cm/s"
    UNIT_METER_PER_SECOND = 19,       // "m/s"
    // Acceleration.
    UNIT_CENTIMETER_PER_SECOND2 = 20,  // "cm/s²"
    UNIT_METER_PER_SECOND2 = 21,       // "m/s²"
    // Area.
    UNIT_SQUARE_MILLIMETER = 22,  // "mm²"
    UNIT_SQUARE_CENTIMETER = 23,  // "cm²"
    UNIT_SQUARE_METER = 24,       // "m²"
    // Volume.
    UNIT_CUBIC_MILLIMETER = 25,  // "mm³"
    UNIT_MILLILITER = 26,        // "ml"
    UNIT_LITER = 27,             // "l"
    // Flow.
    UNIT_MILLILITER_PER_SECOND = 28,  // "ml/s"
    UNIT_MILLILITER_PER_MINUTE = 29,  // "ml/min"
    UNIT_LITER_PER_MINUTE = 30,       // "l/min"
    // Rate.
    UNIT_BEATS_PER_MINUTE = 31,  // "bpm"
    // Pressure.
    UNIT_MILLIMETER_HG = 32,  // "mmHg"
    UNIT_KILOPASCAL = 33,     // "kPa"
    UNIT_MEGAPASCAL = 34,     // "MPa" (acoustic pressure)
    // Mass.
    UNIT_GRAM = 35,      // "g"
    UNIT_KILOGRAM = 36,  // "kg"
    // Temperature.
    UNIT_DEGREE_CELSIUS = 37,  // "°C"
    // Electrical.
    UNIT_MILLIVOLT = 38,    // "mV"
    UNIT_VOLT = 39,         // "V"
    UNIT_MILLIAMPERE = 40,  // "mA"
    // Power.
    UNIT_MILLIWATT = 41,  // "mW"
    UNIT_WATT = 42,       // "W"
    // Acoustic intensity.
    UNIT_MILLIWATT_PER_SQUARE_CENTIMETER = 43,  // "mW/cm²"
    UNIT_WATT_PER_SQUARE_CENTIMETER = 44,       // "W/cm²"
    // Attenuation.
    UNIT_DECIBEL_PER_CENTIMETER = 45,            // "dB/cm"
    UNIT_DECIBEL_PER_CENTIMETER_MEGAHERTZ = 46,  // "dB/(cm·MHz)"
    // Image rate.
    UNIT_FRAMES_PER_SECOND = 47,  // "fps"
    UNIT_UNKNOWN = 48,            // "?"
    // Indexed to body surface area.
    UNIT_MILLILITER_PER_SQUARE_METER = 49,  // "ml/m²"
    UNIT_GRAM_PER_SQUARE_METER = 50,        // "g/m²"
    // Gestational and patient age.
    UNIT_DAY = 51,   // "d"
    UNIT_WEEK = 52,  // "wk"
    UNIT_YEAR = 53,  // "y"
    // Rates of change.
    UNIT_MILLIMETER_HG_PER_SECOND = 54,  // "mmHg/s"
    UNIT_PER_SECOND = 55,                // "1/s" (strain rate)
    // Image and storage sizes.
    UNIT_PIXEL = 56,     // "px"
    UNIT_KILOBYTE = 57,  // "kB"
    UNIT_MEGABYTE = 58,  // "MB"
    UNIT_GIGABYTE = 59,  // "GB"
    // Volume (as written on cardiac reports).
    UNIT_CUBIC_CENTIMETER = 60,  // "cm³"
    // Length.
    UNIT_NANOMETER = 61,  // "nm"
    UNIT_COUNT            // one past the last code
  };

  // What a unit measures; units convert only within one quantity.
  enum Quantity : int {
    QUANTITY_NONE = 0,
    QUANTITY_LENGTH,
    QUANTITY_FREQUENCY,
    QUANTITY_TIME,
    QUANTITY_RATIO,
    QUANTITY_PERCENT,
    QUANTITY_ANGLE,
    QUANTITY_VELOCITY,
    QUANTITY_ACCELERATION,
    QUANTITY_AREA,
    QUANTITY_VOLUME,
    QUANTITY_FLOW,
    QUANTITY_RATE,
    QUANTITY_PRESSURE,
    QUANTITY_MASS,
    QUANTITY_TEMPERATURE,
    QUANTITY_VOLTAGE,
    QUANTITY_CURRENT,
    QUANTITY_POWER,
    QUANTITY_INTENSITY,
    QUANTITY_ATTENUATION,
    QUANTITY_ATTENUATION_COEFFICIENT,
    QUANTITY_VOLUME_INDEX,
    QUANTITY_MASS_INDEX,
    QUANTITY_PRESSURE_RATE,
    QUANTITY_PIXELS,
    QUANTITY_DATA_SIZE,
  };

  CValue();
  CValue(double value, UnitType unit);

  double GetValue() const;
  UnitType GetUnit() const;
  // The value with its unit text, for example "12.5 mm" (just the number for a
  // value without unit).
  std::wstring ToString() const;
  // This value expressed in `unit`; false (and `*out` untouched) when the units
  // measure different quantities or either carries no unit.
  bool ConvertTo(UnitType unit, CValue* out) const;

  // The display text of a unit: the empty text for UNIT_NONE, "?" for
  // UNIT_UNKNOWN and for any code outside the table.
  static std::wstring StringFromUnit(UnitType unit);
  // The unit written as `text`: every text StringFromUnit gives reads back to
  // its code, and a few common spellings are accepted as well ("um" and the
  // Greek mu for µ, "deg", "cm2", "cc", "BPM", "sec", ...). Matching is exact
  // (case matters: "mm" is not "Mm"). The empty text and a null pointer give
  // UNIT_NONE; any other text gives UNIT_UNKNOWN.
  static UnitType UnitFromString(const wchar_t* text);
  // True for the codes that carry no unit (UNIT_NONE, UNIT_UNKNOWN).
  static bool IsNoUnit(UnitType unit);
  // QUANTITY_NONE for the no-unit codes and codes outside the table.
  static Quantity QuantityOf(UnitType unit);
  // `value` in `from` expressed in `to`; false (and `*out` untouched) when the
  // units measure different quantities or either carries no unit.
  static bool Convert(double value, UnitType from, UnitType to, double* out);

 private:
  double m_value;
  UnitType m_unit;
};
