// The SQL runtime's break control: while a program runs a server through
// the pipe driver, an interrupt (slot 20) must not reach the child server
// and the program alike; the runtime can suspend the break handler of the
// calling thread and put it back.
//
// Break state of a thread: 0 no break handling set up (break control does
// nothing), 1 the handler is in place, 2 it is suspended.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Kind 1: in state 1, ignore interrupts in slot 20 and keep the handler
// that was there (state 2). Kind 2: in state 2, put the kept handler back
// (state 1). Anything else does nothing. Always 0.
TV_API int asf_break_control(int32_t kind);

// Sets up break handling for the calling thread (done by the pipe
// driver's initialisation): a do-nothing handler in slot 20, state 1.
void asf_break_setup(void);

// The calling thread's break state.
int32_t asf_break_state(void);

TV_END_C
