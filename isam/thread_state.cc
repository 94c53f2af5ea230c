#include "isam/thread_state.h"

thread_local int iserrno = 0;
thread_local int isiocode = 0;
thread_local char isstatus_a[2] = {'0', '0'};
thread_local char isstatus_b[2] = {'0', '0'};
thread_local int isrecnum = 0;
thread_local int isrecsize = 0;

namespace isam {

constinit thread_local IsamThreadState* is_tlstate = nullptr;

IsamThreadState& is_statefirst() {
  static thread_local IsamThreadState state;
  is_tlstate = &state;
  return state;
}

int is_fail(int err, int iocode) {
  IsamThreadState& st = is_state();
  st.iserrno = err;
  if (iocode != 0) st.isiocode = iocode;
  return -1;
}

int is_damage() {
  IsamThreadState& st = is_state();
  if (st.iserrno == 0) st.iserrno = EBADFILE;
  return -1;
}

namespace {
void SetCode(char* code, const char* digits) {
  code[0] = digits[0];
  code[1] = digits[1];
}
}  // namespace

void is_setstatus() {
  IsamThreadState& st = is_state();
  // Outcomes that set both codes; the others set the first code and the
  // second only when a call has not put a code of its own there.
  switch (st.iserrno) {
    case 0: {
      // An equal key beside the record the call read or wrote.
      const char* code = (st.pos.flags & POS_DUPLICATE) ? "02" : "00";
      SetCode(st.isstatus_a, code);
      SetCode(st.isstatus_b, code);
      return;
    }
    case EDUPLICATE:
      SetCode(st.isstatus_a, "22");
      SetCode(st.isstatus_b, "22");
      return;
    case ENORECORD:
      SetCode(st.isstatus_a, "23");
      SetCode(st.isstatus_b, "23");
      return;
    default:
      break;
  }
  const char* a = "90";
  const char* b = "90";
  if (st.iserrno == EENDFILE) {
    a = b = "10";
  } else if (st.iserrno == ENOCURRENT) {
    a = "21";
    b = "43";
  }
  SetCode(st.isstatus_a, a);
  if (st.isstatus_b[0] == '0') SetCode(st.isstatus_b, b);
}

}  // namespace isam
