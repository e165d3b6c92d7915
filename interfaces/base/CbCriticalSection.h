#pragma once

#include <tolvane/Export.h>

#include <mutex>

/// A lock that one thread at a time can hold. It is re-entrant: the thread that holds it may
/// enter it again (and must leave it as often), so nested filter lists cannot deadlock on
/// themselves. Not copyable; a copy of an object that owns one gets a fresh, unlocked section.
class TOLVANE_API CbCriticalSection {
 public:
  CbCriticalSection() = default;
  CbCriticalSection(const CbCriticalSection&) = delete;
  CbCriticalSection& operator=(const CbCriticalSection&) = delete;

  void Enter() { m_mutex.lock(); }
  void Leave() { m_mutex.unlock(); }
  [[nodiscard]] bool TryEnter() { return m_mutex.try_lock(); }

  // Lockable interface so that std::lock_guard and std::unique_lock work on it.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::recursive_mutex m_mutex;
};

/// Enters a critical section for the lifetime of the guard.
class TOLVANE_API CbCriticalSectionGuard {
 public:
  explicit CbCriticalSectionGuard(CbCriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
  ~CbCriticalSectionGuard() { m_cs.Leave(); }
  CbCriticalSectionGuard(const CbCriticalSectionGuard&) = delete;
  CbCriticalSectionGuard& operator=(const CbCriticalSectionGuard&) = delete;

 private:
  CbCriticalSection& m_cs;
};
