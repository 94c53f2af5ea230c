// Break control of the calling thread (see break_control.h).
#include "connect/break_control.h"

#include <cstdint>

#include "connect/asfutil.h"

namespace {

thread_local int32_t t_state = 0;
thread_local OsInterruptHandler t_saved = nullptr;

void DoNothing(int) {}

// The value os_set_interrupt_handler reads as "ignore".
OsInterruptHandler Ignore() { return reinterpret_cast<OsInterruptHandler>(static_cast<uintptr_t>(1)); }

}  // namespace

TV_BEGIN_C

void asf_break_setup(void) {
  os_set_interrupt_handler(20, DoNothing);
  t_state = 1;
}

int32_t asf_break_state(void) { return t_state; }

int asf_break_control(int32_t kind) {
  if (kind == 1 && t_state == 1) {
    t_saved = os_set_interrupt_handler(20, Ignore());
    t_state = 2;
  } else if (kind == 2 && t_state == 2) {
    os_set_interrupt_handler(20, t_saved);
    t_saved = nullptr;
    t_state = 1;
  }
  return 0;
}

TV_END_C
