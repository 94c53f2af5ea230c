// Test helper: a zero-filled session handle with closed tables and empty
// lists, as a session open makes one, for driving the catalog directly.
#pragma once

#include <cstdlib>
#include <cstring>

#include "storage/command/config.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"

namespace tevtest {

inline zarHandle* NewCatalogHandle() {
  auto* h = static_cast<zarHandle*>(std::calloc(1, sizeof(zarHandle)));
  for (int32_t& fd : h->tableFd) fd = -1;
  h->filterId = -1;
  h->config = zarGetConfig();
  int32_t status = 0;
  h->mountList = ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
  h->txnObjectList = ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
  h->objectList = ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
  return h;
}

// Frees the handle and its lists; its tables are left as they are.
inline void FreeCatalogHandle(zarHandle* h) {
  if (h == nullptr) return;
  int32_t status = 0;
  ll_destroy(&h->mountList, 1, &status);
  ll_destroy(&h->txnObjectList, 0, &status);
  ll_destroy(&h->objectList, 1, &status);
  std::free(h->currentObject);  // left by an object deletion, as a session keeps it
  std::free(h);
}

}  // namespace tevtest
