#pragma once
// A recursive lock and its scope guard.

#include <mutex>

class CBaseLock {
public:
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class CAutoBaseLock {
public:
    explicit CAutoBaseLock(CBaseLock& lock) : lock_(lock) { lock_.Lock(); }
    ~CAutoBaseLock() { lock_.Unlock(); }
    CAutoBaseLock(const CAutoBaseLock&) = delete;
    CAutoBaseLock& operator=(const CAutoBaseLock&) = delete;

private:
    CBaseLock& lock_;
};
