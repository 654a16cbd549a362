#include "mox_utils/logging/kelLoggerClass.h"

#include <new>

#include "mox_utils/logging/kelLoggerCore.h"
#include "mox_utils/metadata/StringEnumHelper.h"
#include "mox_utils/xml/kelXMLFile.h"
#include "mox_utils/xml/kelXMLNode.h"

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

// Created by initialize, destroyed by terminate; neither runs concurrently
// with logging, by contract.
kelLoggerCore* g_core = nullptr;

// The types a "level" text selects: "*" for all, else every type whose name
// the text contains.
std::vector<kelLogger::LogType> selectedTypes(const std::wstring& level) {
  std::vector<kelLogger::LogType> types;
  for (int value = kelLogger::LOG_FATAL; value <= kelLogger::LOG_ACTION; ++value) {
    const auto type = static_cast<kelLogger::LogType>(value);
    const wchar_t* name = kelLoggerClass::getTypeName(type);
    if (name[0] == L'\0') continue;
    if (level == L"*" || level.find(name) != std::wstring::npos) types.push_back(type);
  }
  return types;
}

}  // namespace

const wchar_t* kelLoggerClass::getTypeName(kelLogger::LogType type) { return typeNames().MapValue(type); }

void kelLoggerClass::registerTypeNames() { typeNames().AddTable(kLogTypeNames); }

kelLoggerCore* kelLoggerClass::core() { return g_core; }

bool kelLoggerClass::initialize(const wchar_t* basePath, int monthsToKeep) {
  registerTypeNames();
  try {
    if (g_core == nullptr) g_core = new kelLoggerCore();
    g_core->start(basePath != nullptr ? basePath : L"", monthsToKeep);
  } catch (const std::exception&) {
    // Out of memory while starting: the application goes on without a log.
    if (g_core == nullptr) return false;
  }
  kelLogger::setLoggerCore(g_core);
  kelLogger::kelLogHelper(__FILE__, 90, kelLogger::LOG_INFO)(
      L"\n******************************\n** Starting Logging Session **\n******************************\n");
  return true;
}

void kelLoggerClass::terminate() {
  kelLogger::kelLogHelper(__FILE__, 54, kelLogger::LOG_INFO)(
      L"\n****************************\n** Ending Logging Session **\n****************************\n");
  if (g_core == nullptr) return;
  if (kelLogger::getLoggerCore() == g_core) kelLogger::setLoggerCore(nullptr);
  delete g_core;
  g_core = nullptr;
}

void kelLoggerClass::setConsole(HWND window) {
  if (g_core != nullptr) g_core->setConsole(window);
}

void kelLoggerClass::getWindowLog(std::wstring& text) {
  if (g_core != nullptr) g_core->takeWindowText(text);
}

void kelLoggerClass::loadFilters(const wchar_t* file) { loadFilters(file, nullptr); }

void kelLoggerClass::loadFilters(const wchar_t* file, std::vector<FilterMessage>* messages) {
  kelLoggerCore* core = g_core;
  if (core == nullptr) return;
  auto report = [messages](kelLogger::LogType type, int line, const wchar_t* text) {
    kelLogger::kelLogHelper(__FILE__, line, type)(text);
    if (messages != nullptr) messages->push_back({type, line, text});
  };
  try {
    kelXMLFile xml;
    if (file == nullptr || !xml.open(file, true)) {
      report(kelLogger::LOG_ERROR, 163, L"loadFilters - Could not open filter file");
      return;
    }
    core->clearFilters();
    const kelXMLNode root = xml.getRootElement();

    std::vector<kelXMLNode> nodes;
    if (root.getChildrenByName(nodes, L"filefilter", true) == 0) {
      report(kelLogger::LOG_WARN, 137, L"loadFilters - Could find any file filters");
    } else {
      for (const kelXMLNode& node : nodes) {
        if (!node.isValid()) {
          report(kelLogger::LOG_ERROR, 131, L"loadFilters - XML reader returned NULL node");
          continue;
        }
        const std::string source = node.getAttributeANSI(L"source", "");
        const std::wstring level = node.getAttribute(L"level", L"");
        const std::wstring target = node.getAttribute(L"file", L"");
        for (kelLogger::LogType type : selectedTypes(level)) core->addFileFilter(FilterKey{source, type}, target);
      }
    }

    nodes.clear();
    if (root.getChildrenByName(nodes, L"windowfilter", true) == 0) {
      report(kelLogger::LOG_INFO, 158, L"loadFilters - Could find any debug window filters");
    } else {
      for (const kelXMLNode& node : nodes) {
        if (!node.isValid()) {
          report(kelLogger::LOG_ERROR, 152, L"loadFilters - XML reader returned NULL node");
          continue;
        }
        const std::string source = node.getAttributeANSI(L"source", "");
        const std::wstring level = node.getAttribute(L"level", L"");
        for (kelLogger::LogType type : selectedTypes(level)) core->addWindowFilter(FilterKey{source, type});
      }
    }
  } catch (const std::exception&) {
    // Out of memory half-way: the filters loaded so far stay in force.
  }
}
