#include "mox_utils/time/HiResTimer.h"

#include <cstdio>
#include <cwchar>

#include "mox_utils/platform/Clock.h"
#include "mox_utils/platform/Text.h"

HiResTimer::HiResTimer() {
  m_start.QuadPart = 0;
  m_frequency.QuadPart = mox::platform::performanceFrequency();
}

HiResTimer::HiResTimer(const HiResTimer& other) = default;

HiResTimer& HiResTimer::operator=(const HiResTimer& other) {
  if (this != &other) {
    m_times = other.m_times;
    m_start = other.m_start;
    m_frequency = other.m_frequency;
  }
  return *this;
}

HiResTimer::~HiResTimer() = default;

void HiResTimer::start() { m_start.QuadPart = mox::platform::performanceCounter(); }

double HiResTimer::end() {
  const std::int64_t now = mox::platform::performanceCounter();
  const double ms = (static_cast<double>(now - m_start.QuadPart) / static_cast<double>(m_frequency.QuadPart)) * 1000.0;
  m_times.push_back(ms);
  return ms;
}

double HiResTimer::getLastTime() const { return m_times.empty() ? 0.0 : m_times.back(); }

double HiResTimer::getTime(unsigned int i) const { return i < m_times.size() ? m_times[i] : 0.0; }

double HiResTimer::getTotalTime() const {
  double total = 0.0;
  for (double t : m_times) total += t;
  return total;
}

double HiResTimer::getAvgTime() const { return getTotalTime() / static_cast<double>(m_times.size()); }

double HiResTimer::getMaxTime() const {
  if (m_times.empty()) return 0.0;
  double best = m_times[0];
  for (double t : m_times) {
    if (t > best) best = t;
  }
  return best;
}

double HiResTimer::getMinTime() const {
  if (m_times.empty()) return 0.0;
  double best = m_times[0];
  for (double t : m_times) {
    if (t < best) best = t;
  }
  return best;
}

unsigned int HiResTimer::getCount() const { return static_cast<unsigned int>(m_times.size()); }

void HiResTimer::clear() { m_times.clear(); }

void HiResTimer::printInfo() {
  // Formatted wide, written narrow: a wide write would fail on a standard
  // output that the process already uses for narrow text.
  wchar_t line[256];
  std::swprintf(line, sizeof line / sizeof line[0], L" total %lf(ms) ave %lf(ms) min %lf(ms) max %lf(ms) count %d \n",
                getTotalTime(), getAvgTime(), getMinTime(), getMaxTime(), static_cast<int>(getCount()));
  std::fputs(mox::platform::wideToUtf8(line).c_str(), stdout);
  std::fflush(stdout);
}
