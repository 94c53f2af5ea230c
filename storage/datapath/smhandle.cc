// The global handle list. Handles are found by number with a walk from the
// head; the list has no lock (one thread works the storage manager).
#include "storage/datapath/smhandle.h"

#include <cstdlib>

#include "base/msgfile.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/catalog/smc_dev.h"
#include "storage/datapath/smtape.h"

namespace {

TypedList* g_handles = nullptr;
// The next handle number; never reset, so numbers are not reused.
uint32_t g_next_handle = 1;

// A list of the handle's kind: any element, unsorted, freed with sm_free.
TypedList* MakeElementList() {
  int32_t status = LL_OK;
  return ll_create(nullptr, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
}

void DestroyList(TypedList** list, int call_destroy) {
  if (*list == nullptr) return;
  int32_t status = LL_OK;
  ll_destroy(list, call_destroy, &status);
  if (status != LL_OK) SM_TRACE(136, "ll_destroy returned an error");
}

}  // namespace

int create_bsa_handle(uint32_t* handle_number) {
  if (handle_number == nullptr) return 22;
  if (g_handles == nullptr) {
    int32_t status = LL_OK;
    g_handles = ll_create(nullptr, LL_TYPE_CUSTOM, destroy_bsa_handle, nullptr, 0, &status);
    if (g_handles == nullptr) return 19;
  }
  TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) return 3;
  auto* h = static_cast<zarHandle*>(std::calloc(1, sizeof(zarHandle)));
  if (h == nullptr) return 19;
  h->filterId = -1;
  h->handleNumber = g_next_handle++;
  if (g_next_handle == 0) g_next_handle = 1;  // 0 is never a handle, even after a wrap
  for (int32_t& fd : h->tableFd) fd = -1;
  // Megabytes to bytes in 64 bits: a 32-bit shift turns 2,048 MB and more
  // negative or zero.
  h->writeLimit = static_cast<int64_t>(cfg->writeLimit) * (int64_t{1} << 20);
  h->bytesWritten = 0;
  int32_t status = LL_OK;
  ll_insert(g_handles, h, &status);
  if (status != LL_OK) {
    std::free(h);
    return 19;
  }
  h->mountList = MakeElementList();
  h->txnObjectList = MakeElementList();
  h->objectList = MakeElementList();
  if (h->mountList == nullptr || h->txnObjectList == nullptr || h->objectList == nullptr) return 19;
  *handle_number = h->handleNumber;
  return 0;
}

int find_bsa_handle(uint32_t handle_number, zarHandle** handle, const char* file, int line) {
  if (handle_number == 0 || handle == nullptr) return 22;
  int32_t status = LL_OK;
  auto* h = static_cast<zarHandle*>(ll_first(g_handles, &status));
  if (h == nullptr) {
    sm_trace(2048, file, line, 0, "%s", SM_MSG(88009));
    return 6;
  }
  for (; h != nullptr; h = static_cast<zarHandle*>(ll_next(g_handles, &status))) {
    if (h->handleNumber == handle_number) {
      *handle = h;
      return 0;
    }
  }
  sm_trace(2048, file, line, 0, "%s", SM_MSG(88009));
  return 17;
}

int set_bsa_handle_object(uint32_t handle_number, XbsaObjectDescriptor* object) {
  zarHandle* h = nullptr;
  const int rc = find_bsa_handle(handle_number, &h, __FILE_NAME__, __LINE__);
  if (rc != 0) return rc;
  // The handle owns its current object: one it replaces is freed.
  if (h->currentObject != nullptr && h->currentObject != object) std::free(h->currentObject);
  h->currentObject = object;
  return 0;
}

void destroy_bsa_handle(void** element) {
  if (element == nullptr || *element == nullptr) return;
  auto* h = static_cast<zarHandle*>(*element);
  std::free(h->currentObject);
  h->currentObject = nullptr;
  // TAPE mounts kept for a later read hold their media until now.
  if (h->mountList != nullptr) {
    int32_t status = LL_OK;
    for (auto* m = static_cast<TevMount*>(ll_first(h->mountList, &status)); m != nullptr;
         m = static_cast<TevMount*>(ll_next(h->mountList, &status))) {
      tapeReleaseMedium(m);
    }
  }
  DestroyList(&h->mountList, 1);
  // The transaction list shares its record numbers with the object list,
  // which owns them: freeing them from both would free each twice.
  DestroyList(&h->txnObjectList, 0);
  DestroyList(&h->objectList, 1);
  // The tables are closed by the catalog close, not here.
  for (int32_t& fd : h->tableFd) fd = -1;
  sm_free(element);
}

int destroy_bsa_handles(uint32_t /*handle_number*/) {
  if (g_handles == nullptr) return 0;
  int32_t status = LL_OK;
  ll_destroy(&g_handles, 1, &status);
  g_handles = nullptr;
  return status == LL_OK ? 0 : 6;
}
