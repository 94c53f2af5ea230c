#include "base/keep_alive.h"

#include <atomic>
#include <cstdlib>

namespace tvbase {

namespace {
struct KeptNode {
  KeptNode* next;
  void* p;
};
std::atomic<KeptNode*> g_kept{nullptr};
}  // namespace

void KeepAlive(void* p) {
  if (p == nullptr) return;
  auto* node = static_cast<KeptNode*>(std::malloc(sizeof(KeptNode)));
  if (node == nullptr) return;
  node->p = p;
  node->next = g_kept.load(std::memory_order_relaxed);
  while (!g_kept.compare_exchange_weak(node->next, node, std::memory_order_release,
                                       std::memory_order_relaxed)) {
  }
}

}  // namespace tvbase
