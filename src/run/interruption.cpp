#include "run/interruption.h"

#include <csignal>

namespace tolvanex {
namespace {

volatile std::sig_atomic_t received_signal = 0;

extern "C" void record_signal(int signal_number) { received_signal = signal_number; }

}  // namespace

void install_interruption_handlers() {
  std::signal(SIGINT, record_signal);
  std::signal(SIGTERM, record_signal);
}

int interruption_signal() { return received_signal; }

void clear_interruption() { received_signal = 0; }

}  // namespace tolvanex
