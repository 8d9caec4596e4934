// A counting semaphore whose post is safe on the audio thread: it neither
// allocates nor takes a lock, and only enters the kernel when a thread waits.
#pragma once

#if defined(__APPLE__)
#include <dispatch/dispatch.h>
#else
#include <semaphore.h>
#endif

namespace quor {

class WakeSignal {
  public:
#if defined(__APPLE__)
    WakeSignal() : semaphore(dispatch_semaphore_create(0)) {}
    ~WakeSignal() {
        dispatch_release(semaphore);
    }
    void post() {
        dispatch_semaphore_signal(semaphore);
    }
    void wait() {
        dispatch_semaphore_wait(semaphore, DISPATCH_TIME_FOREVER);
    }
#else
    WakeSignal() {
        sem_init(&semaphore, 0, 0);
    }
    ~WakeSignal() {
        sem_destroy(&semaphore);
    }
    void post() {
        sem_post(&semaphore);
    }
    void wait() {
        while (sem_wait(&semaphore) != 0) {
            // interrupted by a signal: wait on
        }
    }
#endif
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

  private:
#if defined(__APPLE__)
    dispatch_semaphore_t semaphore;
#else
    sem_t semaphore;
#endif
};

} // namespace quor
