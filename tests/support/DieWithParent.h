// For helper programs that tests start: the helper is killed when the test that started it dies,
// even by a crash that skips every clean-up, so no orphan keeps serving a window or holds the test
// runner's output open.
#pragma once

#include <csignal>
#include <sys/prctl.h>

namespace testsupport {

inline void DieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

}  // namespace testsupport
