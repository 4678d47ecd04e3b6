// Linked into every program of a ThreadSanitizer build, and only there.
//
// QProcess starts its children with clone(CLONE_VM | CLONE_VFORK): until the exec, the
// child runs on the parent's memory, and the runtime, which does not intercept clone, sees
// the child's calls as calls of the parent's thread. What they leave behind in that
// thread's state stays with the parent after the exec: from then on the runtime no longer
// sees the main thread take its locks, and reports every queue the main thread posts to as
// racy. This definition takes precedence over glibc's for that one kind of call and starts
// the child through fork(), which the runtime does intercept, so the child works on a copy.
// QProcess reports a failed exec through a pipe, not through the shared memory, so nothing
// else changes for it. Every other clone (threads included) goes to glibc unchanged.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

typedef int (*CloneFunction)(int (*)(void*), void*, int, void*, ...);

int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    pid_t* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    pid_t* childTid = va_arg(rest, pid_t*);
    va_end(rest);

    const int sharedUntilExec = CLONE_VM | CLONE_VFORK;
    if ((flags & sharedUntilExec) != sharedUntilExec || (flags & CLONE_THREAD) != 0) {
        static CloneFunction next = NULL;
        if (next == NULL) {
            // The conversion POSIX prescribes for dlsym's result (ISO C has none).
            *(void**)(&next) = dlsym(RTLD_NEXT, "clone");
        }
        return next(fn, stack, flags, arg, parentTid, tls, childTid);
    }

    const pid_t pid = fork();
    if (pid == 0) {
        _exit(fn(arg));
    }
    if (pid > 0 && (flags & CLONE_PIDFD) != 0) {
        const int pidfd = (int)syscall(SYS_pidfd_open, pid, 0);
        if (pidfd < 0) {
            const int error = errno;
            kill(pid, SIGKILL);
            errno = error;
            return -1;
        }
        *(int*)parentTid = pidfd;
    }
    return pid;
}
