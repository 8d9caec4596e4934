#pragma once

#include <pthread.h>

namespace quor {

// A mutex owned through a pointer so that a destroyed lock is recognisable:
// lock() on it fails instead of touching freed memory. Meets BasicLockable,
// so std::lock_guard and std::unique_lock work with it.
class InstanceLock {
public:
    InstanceLock() : mutex(new pthread_mutex_t) { pthread_mutex_init(mutex, nullptr); }
    virtual ~InstanceLock() {
        pthread_mutex_t* m = mutex;
        if (!m) return;
        pthread_mutex_lock(m);
        mutex = nullptr;
        pthread_mutex_unlock(m);
        pthread_mutex_destroy(m);
        delete m;
    }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    virtual bool lock() {
        if (!mutex) return false;
        pthread_mutex_lock(mutex);
        return true;
    }
    virtual void unlock() {
        if (mutex) pthread_mutex_unlock(mutex);
    }

private:
    pthread_mutex_t* mutex;
};

} // namespace quor
