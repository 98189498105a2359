#include "run/interruption.h"

#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace tolvanex {
namespace {

volatile std::sig_atomic_t received_signal = 0;

extern "C" void record_signal(int signal_number) { received_signal = signal_number; }

}  // namespace

void install_interruption_handlers() {
  // A signal that was ignored when the program started (SIGINT for a
  // background job of a script, or under nohup) stays ignored.
  for (int signal_number : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = record_signal;
    // A write blocked on a slow pipe or FIFO goes on after the handler
    // instead of failing with EINTR, which would drop stdio's buffer (the
    // console) or end the run as a write error (a file).
    handler.sa_flags = SA_RESTART;
    sigemptyset(&handler.sa_mask);
    sigaction(signal_number, &handler, nullptr);
  }
}

int interruption_signal() { return received_signal; }

}  // namespace tolvanex
