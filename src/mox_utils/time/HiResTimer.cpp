#include "mox_utils/time/HiResTimer.h"

#include <cstdio>
#include <string>

#include "mox_utils/platform/Clock.h"

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
  // The format is ASCII and so is every number it prints, so formatting
  // narrow gives the same text as the wide format; the buffer is sized from a
  // first pass, as %lf of a large total can be hundreds of digits long.
  static const char kFormat[] = " total %lf(ms) ave %lf(ms) min %lf(ms) max %lf(ms) count %d \n";
  const double total = getTotalTime();
  const double average = getAvgTime();
  const double minimum = getMinTime();
  const double maximum = getMaxTime();
  const int count = static_cast<int>(getCount());
  const int length = std::snprintf(nullptr, 0, kFormat, total, average, minimum, maximum, count);
  if (length < 0) return;
  std::string line(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(&line[0], line.size(), kFormat, total, average, minimum, maximum, count);
  line.resize(static_cast<std::size_t>(length));
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}
