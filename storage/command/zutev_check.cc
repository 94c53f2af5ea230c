// The catalog CHECK: the ISAM check-and-repair utility over every catalog
// table pair, in the order of the table descriptors.
#include <cstdio>

#include "base/msgfile.h"
#include "isam/check.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/sm_trace.h"

int zutevCheckCatalogTables(int listing, int answer_yes) {
  static const char kName[] = "zutevCheckCatalogTables";
  SM_TRACE(136, "%s: enter", kName);
  SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, "%s", SM_MSG(87305));
  isck_listing = listing ? 1 : 0;
  if (answer_yes) {
    ++isck_answeryes;
  } else {
    isck_answeryes = 0;
  }
  int rc = 0;
  const TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) {
    rc = 3;
  } else {
    for (int32_t id = SMC_TAB_LOCK; id <= SMC_TAB_DEVICE; ++id) {
      const CatalogTableDesc* table = smcTableDesc(id);
      SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87306), table->name);
      // The catalog directory always ends with its separator.
      char path[sizeof cfg->catalogDir + 32];
      std::snprintf(path, sizeof path, "%s%s", cfg->catalogDir, table->name);
      std::fflush(stdout);
      if (ischeck(path) == -1) rc = -1;
      std::fflush(stdout);
    }
    SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, "%s", SM_MSG(87307));
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
