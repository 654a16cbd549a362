#include "mox_utils/logging/kelLoggerClass.h"

#include "mox_utils/metadata/StringEnumHelper.h"

namespace {

const EnumInfo<kelLogger::LogType> kLogTypeNames[] = {
    {kelLogger::LOG_FATAL, L"LOG_FATAL"},   {kelLogger::LOG_ERROR, L"LOG_ERROR"},
    {kelLogger::LOG_WARN, L"LOG_WARN"},     {kelLogger::LOG_INFO, L"LOG_INFO"},
    {kelLogger::LOG_DEBUG, L"LOG_DEBUG"},   {kelLogger::LOG_TRACE, L"LOG_TRACE"},
    {kelLogger::LOG_STATS, L"LOG_STATS"},   {kelLogger::LOG_TIMER, L"LOG_TIMER"},
    {kelLogger::LOG_ACTION, L"LOG_ACTION"}, {static_cast<kelLogger::LogType>(9), L""},
};

// Built on first use, so that no other static initialiser depends on the
// order in which translation units are initialised.
StringEnumHelper& typeNames() {
  static StringEnumHelper helper;
  return helper;
}

}  // namespace

const wchar_t* kelLoggerClass::getTypeName(kelLogger::LogType type) { return typeNames().MapValue(type); }

void kelLoggerClass::registerTypeNames() { typeNames().AddTable(kLogTypeNames); }
