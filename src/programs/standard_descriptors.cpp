#include "programs/standard_descriptors.h"

#include <fcntl.h>
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

}  // namespace tolvanex
