#pragma once
// The worker threads of the zip reader and writer: a group sharing one lock,
// one condition and a stop flag. Leaving the group (also by an exception) sets
// Stop, wakes everyone and waits for the workers, so a worker must look at
// Stop under the lock whenever it waits. Not for callers outside zip/.

#include <functional>
#include <thread>
#include <vector>

#include "Sync.h"

// Number of processors this process may use (at least 1).
inline int ProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

class TWorkers {
 public:
  TWorkers() = default;
  ~TWorkers() { StopAndWait(); }
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;

  // Starts Count threads, each running Work(index of the thread).
  void Start(int Count, const std::function<void(int)>& Work) {
    for (int t = 0; t < Count; ++t) FThreads.emplace_back([Work, t] { Work(t); });
  }
  // Tells the threads to stop and waits until they have ended.
  void StopAndWait() {
    {
      const std::lock_guard<TLock> lock(Mutex);
      Stop = true;
    }
    Changed.notify_all();
    for (std::thread& thread : FThreads) thread.join();
    FThreads.clear();
  }

  TLock Mutex;
  TCondition Changed;
  bool Stop = false;  // guarded by Mutex

 private:
  std::vector<std::thread> FThreads;
};
