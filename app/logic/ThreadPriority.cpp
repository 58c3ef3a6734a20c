#include "ThreadPriority.h"

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

void LowerThisThread(int levels) {
    // On Linux the nice value is a thread's own: PRIO_PROCESS with a thread's id sets it alone.
    const pid_t tid = gettid();
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice + levels);
}
