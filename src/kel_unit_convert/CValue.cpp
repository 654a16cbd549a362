#include "kel_unit_convert/CValue.h"

#include <cwchar>
#include <iterator>

namespace {

// Texts are written with escapes so that the table does not depend on the
// source encoding: \u00B5 micro sign, \u00B0 degree, \u00B2 and \u00B3
// superscript two and three, \u00B7 middle dot, \u03BC Greek small mu.
struct UnitRow {
  CValue::UnitType unit;
  const wchar_t* text;
  CValue::Quantity quantity;
  double factor;  // size of the unit in the quantity's base unit
};

constexpr double kPi = 3.14159265358979323846;

// Indexed by code: kUnits[i].unit == i for every row.
constexpr UnitRow kUnits[] = {
    {CValue::UNIT_NONE, L"", CValue::QUANTITY_NONE, 1.0},
    {CValue::UNIT_MICROMETER, L"\u00B5m", CValue::QUANTITY_LENGTH, 1e-6},
    {CValue::UNIT_MILLIMETER, L"mm", CValue::QUANTITY_LENGTH, 1e-3},
    {CValue::UNIT_CENTIMETER, L"cm", CValue::QUANTITY_LENGTH, 1e-2},
    {CValue::UNIT_METER, L"m", CValue::QUANTITY_LENGTH, 1.0},
    {CValue::UNIT_HERTZ, L"Hz", CValue::QUANTITY_FREQUENCY, 1.0},
    {CValue::UNIT_KILOHERTZ, L"kHz", CValue::QUANTITY_FREQUENCY, 1e3},
    {CValue::UNIT_MEGAHERTZ, L"MHz", CValue::QUANTITY_FREQUENCY, 1e6},
    {CValue::UNIT_NANOSECOND, L"ns", CValue::QUANTITY_TIME, 1e-9},
    {CValue::UNIT_MICROSECOND, L"\u00B5s", CValue::QUANTITY_TIME, 1e-6},
    {CValue::UNIT_MILLISECOND, L"ms", CValue::QUANTITY_TIME, 1e-3},
    {CValue::UNIT_SECOND, L"s", CValue::QUANTITY_TIME, 1.0},
    {CValue::UNIT_MINUTE, L"min", CValue::QUANTITY_TIME, 60.0},
    {CValue::UNIT_DECIBEL, L"dB", CValue::QUANTITY_RATIO, 1.0},
    {CValue::UNIT_PERCENT, L"%", CValue::QUANTITY_PERCENT, 1.0},
    {CValue::UNIT_DEGREE, L"\u00B0", CValue::QUANTITY_ANGLE, kPi / 180.0},
    {CValue::UNIT_RADIAN, L"rad", CValue::QUANTITY_ANGLE, 1.0},
    {CValue::UNIT_MILLIMETER_PER_SECOND, L"mm/s", CValue::QUANTITY_VELOCITY, 1e-3},
    {CValue::UNIT_CENTIMETER_PER_SECOND, L"cm/s", CValue::QUANTITY_VELOCITY, 1e-2},
    {CValue::UNIT_METER_PER_SECOND, L"m/s", CValue::QUANTITY_VELOCITY, 1.0},
    {CValue::UNIT_CENTIMETER_PER_SECOND2, L"cm/s\u00B2", CValue::QUANTITY_ACCELERATION, 1e-2},
    {CValue::UNIT_METER_PER_SECOND2, L"m/s\u00B2", CValue::QUANTITY_ACCELERATION, 1.0},
    {CValue::UNIT_SQUARE_MILLIMETER, L"mm\u00B2", CValue::QUANTITY_AREA, 1e-6},
    {CValue::UNIT_SQUARE_CENTIMETER, L"cm\u00B2", CValue::QUANTITY_AREA, 1e-4},
    {CValue::UNIT_SQUARE_METER, L"m\u00B2", CValue::QUANTITY_AREA, 1.0},
    {CValue::UNIT_CUBIC_MILLIMETER, L"mm\u00B3", CValue::QUANTITY_VOLUME, 1e-9},
    {CValue::UNIT_MILLILITER, L"ml", CValue::QUANTITY_VOLUME, 1e-6},
    {CValue::UNIT_LITER, L"l", CValue::QUANTITY_VOLUME, 1e-3},
    {CValue::UNIT_MILLILITER_PER_SECOND, L"ml/s", CValue::QUANTITY_FLOW, 1e-6},
    {CValue::UNIT_MILLILITER_PER_MINUTE, L"ml/min", CValue::QUANTITY_FLOW, 1e-6 / 60.0},
    {CValue::UNIT_LITER_PER_MINUTE, L"l/min", CValue::QUANTITY_FLOW, 1e-3 / 60.0},
    {CValue::UNIT_BEATS_PER_MINUTE, L"bpm", CValue::QUANTITY_FREQUENCY, 1.0 / 60.0},
    {CValue::UNIT_MILLIMETER_HG, L"mmHg", CValue::QUANTITY_PRESSURE, 133.322387415},
    {CValue::UNIT_KILOPASCAL, L"kPa", CValue::QUANTITY_PRESSURE, 1e3},
    {CValue::UNIT_MEGAPASCAL, L"MPa", CValue::QUANTITY_PRESSURE, 1e6},
    {CValue::UNIT_GRAM, L"g", CValue::QUANTITY_MASS, 1e-3},
    {CValue::UNIT_KILOGRAM, L"kg", CValue::QUANTITY_MASS, 1.0},
    {CValue::UNIT_DEGREE_CELSIUS, L"\u00B0C", CValue::QUANTITY_TEMPERATURE, 1.0},
    {CValue::UNIT_MILLIVOLT, L"mV", CValue::QUANTITY_VOLTAGE, 1e-3},
    {CValue::UNIT_VOLT, L"V", CValue::QUANTITY_VOLTAGE, 1.0},
    {CValue::UNIT_MILLIAMPERE, L"mA", CValue::QUANTITY_CURRENT, 1e-3},
    {CValue::UNIT_MILLIWATT, L"mW", CValue::QUANTITY_POWER, 1e-3},
    {CValue::UNIT_WATT, L"W", CValue::QUANTITY_POWER, 1.0},
    {CValue::UNIT_MILLIWATT_PER_SQUARE_CENTIMETER, L"mW/cm\u00B2", CValue::QUANTITY_INTENSITY, 1e-3},
    {CValue::UNIT_WATT_PER_SQUARE_CENTIMETER, L"W/cm\u00B2", CValue::QUANTITY_INTENSITY, 1.0},
    {CValue::UNIT_DECIBEL_PER_CENTIMETER, L"dB/cm", CValue::QUANTITY_ATTENUATION, 1.0},
    {CValue::UNIT_DECIBEL_PER_CENTIMETER_MEGAHERTZ, L"dB/(cm\u00B7MHz)", CValue::QUANTITY_ATTENUATION_COEFFICIENT, 1.0},
    {CValue::UNIT_FRAMES_PER_SECOND, L"fps", CValue::QUANTITY_FREQUENCY, 1.0},
    {CValue::UNIT_UNKNOWN, L"?", CValue::QUANTITY_NONE, 1.0},
    {CValue::UNIT_MILLILITER_PER_SQUARE_METER, L"ml/m\u00B2", CValue::QUANTITY_VOLUME_INDEX, 1.0},
    {CValue::UNIT_GRAM_PER_SQUARE_METER, L"g/m\u00B2", CValue::QUANTITY_MASS_INDEX, 1.0},
    {CValue::UNIT_DAY, L"d", CValue::QUANTITY_TIME, 86400.0},
    {CValue::UNIT_WEEK, L"wk", CValue::QUANTITY_TIME, 7.0 * 86400.0},
    {CValue::UNIT_YEAR, L"y", CValue::QUANTITY_TIME, 365.25 * 86400.0},
    {CValue::UNIT_MILLIMETER_HG_PER_SECOND, L"mmHg/s", CValue::QUANTITY_PRESSURE_RATE, 1.0},
    {CValue::UNIT_PER_SECOND, L"1/s", CValue::QUANTITY_FREQUENCY, 1.0},
    {CValue::UNIT_PIXEL, L"px", CValue::QUANTITY_PIXELS, 1.0},
    // Storage sizes in SI steps of 1000, as the size columns of the archive show them.
    {CValue::UNIT_KILOBYTE, L"kB", CValue::QUANTITY_DATA_SIZE, 1e3},
    {CValue::UNIT_MEGABYTE, L"MB", CValue::QUANTITY_DATA_SIZE, 1e6},
    {CValue::UNIT_GIGABYTE, L"GB", CValue::QUANTITY_DATA_SIZE, 1e9},
    {CValue::UNIT_CUBIC_CENTIMETER, L"cm\u00B3", CValue::QUANTITY_VOLUME, 1e-6},
    {CValue::UNIT_NANOMETER, L"nm", CValue::QUANTITY_LENGTH, 1e-9},
};
static_assert(std::size(kUnits) == CValue::UNIT_COUNT, "one row per unit code");

constexpr bool rowsAreIndexed() {
  for (int i = 0; i < CValue::UNIT_COUNT; ++i)
    if (kUnits[i].unit != i) return false;
  return true;
}
static_assert(rowsAreIndexed(), "row i must describe code i");

// Spellings that read as a unit but are never written.
struct AliasRow {
  const wchar_t* text;
  CValue::UnitType unit;
};

constexpr AliasRow kAliases[] = {
    {L"um", CValue::UNIT_MICROMETER},
    {L"\u03BCm", CValue::UNIT_MICROMETER},
    {L"us", CValue::UNIT_MICROSECOND},
    {L"\u03BCs", CValue::UNIT_MICROSECOND},
    {L"sec", CValue::UNIT_SECOND},
    {L"deg", CValue::UNIT_DEGREE},
    {L"degC", CValue::UNIT_DEGREE_CELSIUS},
    {L"cm/s2", CValue::UNIT_CENTIMETER_PER_SECOND2},
    {L"m/s2", CValue::UNIT_METER_PER_SECOND2},
    {L"mm2", CValue::UNIT_SQUARE_MILLIMETER},
    {L"cm2", CValue::UNIT_SQUARE_CENTIMETER},
    {L"m2", CValue::UNIT_SQUARE_METER},
    {L"mm3", CValue::UNIT_CUBIC_MILLIMETER},
    {L"cm3", CValue::UNIT_CUBIC_CENTIMETER},
    {L"cc", CValue::UNIT_CUBIC_CENTIMETER},
    {L"mL", CValue::UNIT_MILLILITER},
    {L"L", CValue::UNIT_LITER},
    {L"mL/s", CValue::UNIT_MILLILITER_PER_SECOND},
    {L"mL/min", CValue::UNIT_MILLILITER_PER_MINUTE},
    {L"L/min", CValue::UNIT_LITER_PER_MINUTE},
    {L"BPM", CValue::UNIT_BEATS_PER_MINUTE},
    {L"1/min", CValue::UNIT_BEATS_PER_MINUTE},
    {L"mW/cm2", CValue::UNIT_MILLIWATT_PER_SQUARE_CENTIMETER},
    {L"W/cm2", CValue::UNIT_WATT_PER_SQUARE_CENTIMETER},
    {L"dB/cm/MHz", CValue::UNIT_DECIBEL_PER_CENTIMETER_MEGAHERTZ},
    {L"ml/m2", CValue::UNIT_MILLILITER_PER_SQUARE_METER},
    {L"g/m2", CValue::UNIT_GRAM_PER_SQUARE_METER},
    {L"s-1", CValue::UNIT_PER_SECOND},
};

const UnitRow* rowOf(CValue::UnitType unit) {
  if (unit < 0 || unit >= CValue::UNIT_COUNT) return nullptr;
  return &kUnits[unit];
}

}  // namespace

CValue::CValue() : m_value(0.0), m_unit(UNIT_NONE) {}
CValue::CValue(double value, UnitType unit) : m_value(value), m_unit(unit) {}

double CValue::GetValue() const { return m_value; }
CValue::UnitType CValue::GetUnit() const { return m_unit; }

std::wstring CValue::ToString() const {
  wchar_t number[64];
  std::swprintf(number, std::size(number), L"%g", m_value);
  std::wstring text = number;
  if (m_unit != UNIT_NONE) {
    // Angles and percentages sit on the number, as the screens show them.
    if (m_unit != UNIT_DEGREE && m_unit != UNIT_PERCENT) text += L' ';
    text += StringFromUnit(m_unit);
  }
  return text;
}

bool CValue::ConvertTo(UnitType unit, CValue* out) const {
  double converted = 0.0;
  if (out == nullptr || !Convert(m_value, m_unit, unit, &converted)) return false;
  *out = CValue(converted, unit);
  return true;
}

std::wstring CValue::StringFromUnit(UnitType unit) {
  const UnitRow* row = rowOf(unit);
  return row != nullptr ? row->text : kUnits[UNIT_UNKNOWN].text;
}

CValue::UnitType CValue::UnitFromString(const wchar_t* text) {
  if (text == nullptr || text[0] == L'\0') return UNIT_NONE;
  for (const UnitRow& row : kUnits)
    if (std::wcscmp(row.text, text) == 0) return row.unit;
  for (const AliasRow& alias : kAliases)
    if (std::wcscmp(alias.text, text) == 0) return alias.unit;
  return UNIT_UNKNOWN;
}

bool CValue::IsNoUnit(UnitType unit) { return unit == UNIT_NONE || unit == UNIT_UNKNOWN; }

CValue::Quantity CValue::QuantityOf(UnitType unit) {
  const UnitRow* row = rowOf(unit);
  return row != nullptr ? row->quantity : QUANTITY_NONE;
}

bool CValue::Convert(double value, UnitType from, UnitType to, double* out) {
  const UnitRow* a = rowOf(from);
  const UnitRow* b = rowOf(to);
  if (out == nullptr || a == nullptr || b == nullptr) return false;
  if (a->quantity == QUANTITY_NONE || a->quantity != b->quantity) return false;
  *out = from == to ? value : value * a->factor / b->factor;
  return true;
}
