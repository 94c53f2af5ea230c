// EXPORT: every table of the catalog into its unload file of the export
// directory (layout in smc_export.h).
#include "storage/catalog/smc_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "base/msgfile.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"

namespace {

// Makes the export directory, moving an existing one aside under its name
// with the time suffix (never onto an existing name). 0, or -1.
int MakeExportDirectory() {
  for (;;) {
    // Closed to others: the device table's file carries cloud secrets.
    if (mkdir(kExportDirectory, 0700) == 0) return 0;
    if (errno != EEXIST) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88003), kExportDirectory);
      return -1;
    }
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87400), kExportDirectory);
    char renamed[1024];
    std::snprintf(renamed, sizeof renamed, "%s", kExportDirectory);
    if (sm_timestamp_suffix(renamed, sizeof renamed) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88004), renamed);
      return -1;
    }
    if (renameat2(AT_FDCWD, kExportDirectory, AT_FDCWD, renamed, RENAME_NOREPLACE) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88004), renamed);
      return -1;
    }
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "The old export directory was renamed to %s",
              renamed);
  }
}

// A new unload file, readable by its owner only; null when it cannot be
// made (errno set).
FILE* CreateUnloadFile(const std::string& name) {
  const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "w+");
  if (file == nullptr) {
    const int saved = errno;
    close(fd);
    errno = saved;
  }
  return file;
}

// Writes one table's file: 0, or -1 (messages logged, the file removed).
int ExportTable(const CatalogTableDesc& desc) {
  const std::string name = std::string(kExportDirectory) + "/" + desc.name + ".unl";
  FILE* file = CreateUnloadFile(name);
  if (file == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88052), name.c_str());
    return -1;
  }
  smc::TakeUnloadHazard();
  errno = 0;
  const int dumped = desc.dump(file, '|');
  // A failed write leaves its error in errno and the stream's error flag.
  int saved = errno;
  bool written = std::ferror(file) == 0;
  const smc::UnloadHazard hazard = smc::TakeUnloadHazard();
  // The data must be on the disk, not only handed to the kernel, before
  // the export counts as done.
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
    if (written) saved = errno;
    written = false;
  }
  if (std::fclose(file) != 0) {
    if (written) saved = errno;
    written = false;
  }
  int rc = 0;
  if (!written) {
    errno = saved != 0 ? saved : EIO;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88052), name.c_str());
    rc = -1;
  } else if (hazard.table != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN,
              "Row %lld of table %s holds '|' or a line feed in column %s; the table is not "
              "exported.",
              static_cast<long long>(hazard.row), desc.name, desc.columns[hazard.column].name);
    rc = -1;
  } else if (dumped != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_PLAIN, "Table %s could not be read; it is not exported.",
              desc.name);
    rc = -1;
  }
  if (rc != 0) unlink(name.c_str());
  return rc;
}

}  // namespace

int zarCatalogExport(zarHandle*) {
  static const char kName[] = "zarCatalogExport";
  SM_TRACE(136, "%s: enter", kName);
  int rc = MakeExportDirectory();
  if (rc == 0) {
    smcCountColumns();
    for (int32_t id = 1; id <= 9; ++id) {
      if (ExportTable(catalogTables[id]) != 0) rc = -1;
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
