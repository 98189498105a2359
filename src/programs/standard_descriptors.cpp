#include "programs/standard_descriptors.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace tolvanex {

bool open_closed_standard_descriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // open gives the lowest free number, which is this one: those below it
    // are open by now.
    const int opened = open("/dev/null", O_RDWR);
    if (opened == descriptor) continue;
    if (opened >= 0) close(opened);
    return false;
  }
  return true;
}

void report_broken_pipes_as_write_errors() {
  // The disposition would pass to a program started from this one; the
  // programs start none.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace tolvanex
