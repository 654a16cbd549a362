#include <pthread.h>

#include <cstring>
#include <new>

#include "mox_utils/platform/CriticalSectionRecord.h"

namespace mox::platform {

bool initializeCriticalSection(RTL_CRITICAL_SECTION* cs) {
  std::memset(cs, 0, sizeof(*cs));
  auto* mutex = new (std::nothrow) pthread_mutex_t;
  if (mutex == nullptr) return false;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  const int rc = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    delete mutex;
    return false;
  }
  cs->LockCount = -1;
  cs->LockSemaphore = mutex;
  return true;
}

void enterCriticalSection(RTL_CRITICAL_SECTION* cs) {
  auto* mutex = static_cast<pthread_mutex_t*>(cs->LockSemaphore);
  if (mutex == nullptr) return;
  pthread_mutex_lock(mutex);
  // Written only by the owner while it holds the lock.
  ++cs->RecursionCount;
}

void leaveCriticalSection(RTL_CRITICAL_SECTION* cs) {
  auto* mutex = static_cast<pthread_mutex_t*>(cs->LockSemaphore);
  if (mutex == nullptr) return;
  --cs->RecursionCount;
  pthread_mutex_unlock(mutex);
}

void deleteCriticalSection(RTL_CRITICAL_SECTION* cs) {
  auto* mutex = static_cast<pthread_mutex_t*>(cs->LockSemaphore);
  if (mutex != nullptr) {
    pthread_mutex_destroy(mutex);
    delete mutex;
  }
  std::memset(cs, 0, sizeof(*cs));
}

}  // namespace mox::platform
