// A process-wide table of handles to shared objects, the way Win32 keeps
// kernel handles: a handle is a number from a counter that only grows, so a
// closed handle is simply absent and can never name a later object. Users of
// an object hold their own reference while they work, so closing a handle
// never pulls the object from under a call in progress. Internal to the seam.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace mox::platform::detail {

template <typename T>
class HandleTable {
 public:
  // Null when out of memory.
  void* add(std::shared_ptr<T> object) {
    try {
      std::lock_guard<std::mutex> lock(m_lock);
      const std::uintptr_t id = m_next;
      m_objects.emplace(id, std::move(object));
      ++m_next;
      return reinterpret_cast<void*>(id);
    } catch (...) {
      return nullptr;
    }
  }
  std::shared_ptr<T> find(const void* handle) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == m_objects.end() ? nullptr : it->second;
  }
  bool remove(const void* handle) {
    std::shared_ptr<T> last;  // released after the table's lock
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == m_objects.end()) return false;
    last = std::move(it->second);
    m_objects.erase(it);
    return true;
  }

 private:
  std::mutex m_lock;
  std::uintptr_t m_next = 1;                                         // Guarded by m_lock.
  std::unordered_map<std::uintptr_t, std::shared_ptr<T>> m_objects;  // Guarded by m_lock.
};

}  // namespace mox::platform::detail
