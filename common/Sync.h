#pragma once
// The lock and the condition the program's threads share. On Windows they are
// the system's slim lock and condition variable, which wait in the process
// itself: the C++ library's mutex and condition variable of this toolchain
// (winpthreads) wait on kernel semaphores and events, a call to the system
// (and under Wine to its server) at every wait and wake. Natively they are
// the standard library's. Both work with std::unique_lock and std::lock_guard.

#include <chrono>
#include <mutex>

#ifdef _WIN32
#include <windows.h>

class TCondition;

class TLock {
 public:
  TLock() = default;
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;
  void lock() { AcquireSRWLockExclusive(&FLock); }
  void unlock() { ReleaseSRWLockExclusive(&FLock); }

 private:
  friend class TCondition;
  SRWLOCK FLock = SRWLOCK_INIT;
};

class TCondition {
 public:
  TCondition() = default;
  TCondition(const TCondition&) = delete;
  TCondition& operator=(const TCondition&) = delete;
  void notify_all() { WakeAllConditionVariable(&FVariable); }
  // Waits, Lock held, until woken (or for no reason: callers look again).
  void wait(std::unique_lock<TLock>& Lock) { SleepConditionVariableSRW(&FVariable, &Lock.mutex()->FLock, INFINITE, 0); }
  template <typename Predicate>
  void wait(std::unique_lock<TLock>& Lock, Predicate Done) {
    while (!Done()) wait(Lock);
  }
  // Waits, Lock held, until woken or Time has passed.
  template <typename Rep, typename Period>
  void wait_for(std::unique_lock<TLock>& Lock, const std::chrono::duration<Rep, Period>& Time) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(Time).count();
    SleepConditionVariableSRW(&FVariable, &Lock.mutex()->FLock, ms > 0 ? static_cast<DWORD>(ms) : 0, 0);
  }

 private:
  CONDITION_VARIABLE FVariable = CONDITION_VARIABLE_INIT;
};
#else
#include <condition_variable>

using TLock = std::mutex;
using TCondition = std::condition_variable;
#endif
