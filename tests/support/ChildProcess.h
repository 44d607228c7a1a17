#pragma once

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace ovtest {

// fork() for tests: the child is killed when the test process ends. A test
// that hangs is killed by the test runner after its time-out, and a child it
// left behind would keep the runner's output open, so that the whole run
// waited for it.
inline pid_t forkTiedToTest()
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have gone between fork and prctl.
        if (getppid() != parent)
            _exit(93);
    }
    return pid;
}

} // namespace ovtest
