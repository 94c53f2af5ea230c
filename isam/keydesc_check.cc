#include "isam/keydesc_check.h"

#include "isam/buffer_pool.h"
#include "isam/header.h"
#include "isam/thread_state.h"

namespace isam {

int is_keydescreadable() {
  uint32_t node = is_hdrget32(HDR_KEYDESCNODE);
  if (node < 2 || node > is_lastnode()) return -1;
  IsamBuffer* b = is_readbuffer(node);
  if (b == nullptr) return -1;
  bool sound = b->type == 0xFF && b->level == 0x7E && b->used >= 6 && b->used <= is_state().tail.n - 3;
  is_release(b);
  return sound ? 0 : -1;
}

}  // namespace isam
