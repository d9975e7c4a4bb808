#pragma once
// The few threading pieces the zip writer needs, on Win32 directly (the MinGW
// toolchain's win32 thread model has no std::thread) and on the standard
// library natively. Not for callers outside zip/.

#include <functional>
#include <memory>
#include <vector>

// Number of processors the system offers to this process (at least 1).
int ProcessorCount();

class TCondition;

// A mutual exclusion lock; TLockGuard holds it for a scope.
class TMutex {
 public:
  TMutex();
  ~TMutex();
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;
  void Lock();
  void Unlock();

 private:
  friend class TCondition;
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

class TLockGuard {
 public:
  explicit TLockGuard(TMutex& m) : FMutex(m) { FMutex.Lock(); }
  ~TLockGuard() { FMutex.Unlock(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TMutex& FMutex;
};

// A condition variable used with a locked TMutex.
class TCondition {
 public:
  TCondition();
  ~TCondition();
  TCondition(const TCondition&) = delete;
  TCondition& operator=(const TCondition&) = delete;
  // Waits until notified or Milliseconds passed (spurious wake-ups happen).
  void Wait(TMutex& Locked, unsigned Milliseconds);
  void NotifyAll();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// A thread running Work; the destructor waits for it.
class TThread {
 public:
  explicit TThread(std::function<void()> Work);
  ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// A group of worker threads sharing one lock, one condition and a stop flag.
// Leaving it (also by an exception) sets Stop, wakes everyone and waits for
// the workers, so they must look at Stop under the lock whenever they wait.
class TWorkers {
 public:
  TWorkers() = default;
  ~TWorkers();
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;
  // Starts Count threads, each running Work(index of the thread).
  void Start(int Count, const std::function<void(int)>& Work);
  // Tells the threads to stop and waits until they have ended.
  void StopAndWait();

  TMutex Mutex;
  TCondition Changed;
  bool Stop = false;  // guarded by Mutex

 private:
  std::vector<std::unique_ptr<TThread>> FThreads;
};
