// Linked into every program of a ThreadSanitizer build, and only there.
//
// std::timed_mutex::try_lock_for locks through pthread_mutex_clocklock, for which GCC 12's
// ThreadSanitizer runtime has no interceptor: it would not see the lock, report its unlock
// as unpaired and every access the lock orders as a race. This definition takes precedence
// over glibc's and waits with pthread_mutex_timedlock, which the runtime does intercept,
// converting the deadline to the realtime clock.

#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <time.h>

int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock, const struct timespec* at) {
    if (clock == CLOCK_REALTIME) {
        return pthread_mutex_timedlock(mutex, at);
    }
    if (clock != CLOCK_MONOTONIC) {
        return EINVAL;
    }
    struct timespec now_clock;
    struct timespec now_real;
    clock_gettime(CLOCK_MONOTONIC, &now_clock);
    clock_gettime(CLOCK_REALTIME, &now_real);
    long long ns = (long long)(at->tv_sec - now_clock.tv_sec) * 1000000000LL +
                   (at->tv_nsec - now_clock.tv_nsec);
    if (ns < 0) {
        ns = 0;
    }
    struct timespec real = now_real;
    real.tv_sec += (time_t)(ns / 1000000000LL);
    real.tv_nsec += (long)(ns % 1000000000LL);
    if (real.tv_nsec >= 1000000000L) {
        real.tv_sec += 1;
        real.tv_nsec -= 1000000000L;
    }
    return pthread_mutex_timedlock(mutex, &real);
}
