#include "ZipThreads.h"

#ifdef _WIN32
#include <windows.h>

int ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

struct TMutex::TImpl {
  CRITICAL_SECTION Section;
};
TMutex::TMutex() : FImpl(new TImpl) { InitializeCriticalSection(&FImpl->Section); }
TMutex::~TMutex() { DeleteCriticalSection(&FImpl->Section); }
void TMutex::Lock() { EnterCriticalSection(&FImpl->Section); }
void TMutex::Unlock() { LeaveCriticalSection(&FImpl->Section); }

struct TCondition::TImpl {
  CONDITION_VARIABLE Variable;
};
TCondition::TCondition() : FImpl(new TImpl) { InitializeConditionVariable(&FImpl->Variable); }
TCondition::~TCondition() = default;
void TCondition::Wait(TMutex& Locked, unsigned Milliseconds) {
  SleepConditionVariableCS(&FImpl->Variable, &Locked.FImpl->Section, Milliseconds);
}
void TCondition::NotifyAll() { WakeAllConditionVariable(&FImpl->Variable); }

struct TThread::TImpl {
  std::function<void()> Work;
  HANDLE Handle = nullptr;
  static DWORD WINAPI Run(void* self) {
    static_cast<TImpl*>(self)->Work();
    return 0;
  }
};
TThread::TThread(std::function<void()> Work) : FImpl(new TImpl) {
  FImpl->Work = std::move(Work);
  FImpl->Handle = CreateThread(nullptr, 0, &TImpl::Run, FImpl.get(), 0, nullptr);
  if (FImpl->Handle == nullptr) FImpl->Work();  // no thread to be had: do the work here
}
TThread::~TThread() {
  if (FImpl->Handle == nullptr) return;
  WaitForSingleObject(FImpl->Handle, INFINITE);
  CloseHandle(FImpl->Handle);
}

#else
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

int ProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

struct TMutex::TImpl {
  std::mutex Mutex;
};
TMutex::TMutex() : FImpl(new TImpl) {}
TMutex::~TMutex() = default;
void TMutex::Lock() { FImpl->Mutex.lock(); }
void TMutex::Unlock() { FImpl->Mutex.unlock(); }

struct TCondition::TImpl {
  std::condition_variable_any Variable;
};
TCondition::TCondition() : FImpl(new TImpl) {}
TCondition::~TCondition() = default;
void TCondition::Wait(TMutex& Locked, unsigned Milliseconds) {
  FImpl->Variable.wait_for(Locked.FImpl->Mutex, std::chrono::milliseconds(Milliseconds));
}
void TCondition::NotifyAll() { FImpl->Variable.notify_all(); }

struct TThread::TImpl {
  std::thread Thread;
};
TThread::TThread(std::function<void()> Work) : FImpl(new TImpl) { FImpl->Thread = std::thread(std::move(Work)); }
TThread::~TThread() { FImpl->Thread.join(); }

#endif

TWorkers::~TWorkers() { StopAndWait(); }

void TWorkers::StopAndWait() {
  {
    TLockGuard lock(Mutex);
    Stop = true;
    Changed.NotifyAll();
  }
  FThreads.clear();
}

void TWorkers::Start(int Count, const std::function<void(int)>& Work) {
  for (int t = 0; t < Count; ++t) FThreads.emplace_back(new TThread([Work, t]() { Work(t); }));
}
