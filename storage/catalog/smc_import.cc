// IMPORT: the unload files of the export directory loaded into a new
// catalog, table by table, each after its rows were erased.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/fields.h"
#include "base/msgfile.h"
#include "base/os_files.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_export.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"

namespace {

// Serial brings the counters first; lock and session keep the new
// catalog's own rows.
constexpr int32_t kLoadOrder[] = {SMC_TAB_SERIAL, SMC_TAB_POOL,   SMC_TAB_OBJECT_PATH,
                                  SMC_TAB_OBJECT, SMC_TAB_DETAIL, SMC_TAB_VOLUME,
                                  SMC_TAB_DEVICE};

// One line of the stream without its line feed; false at the end or on a
// read error. Lines may be of any length.
bool ReadLine(FILE* stream, std::string* line) {
  char* buffer = nullptr;
  size_t size = 0;
  const ssize_t n = getline(&buffer, &size, stream);
  if (n > 0) line->assign(buffer, static_cast<size_t>(n));
  std::free(buffer);
  if (n <= 0) return false;
  if (line->back() == '\n') line->pop_back();
  return true;
}

// A whole decimal number; false for empty text, other characters or a
// value outside 64 bits.
bool ParseDecimal(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  *value = v;
  return true;
}

// Stores the columns of one line into the blank row. 0, or -1 (message
// logged).
int BuildRow(const CatalogTableDesc& desc, const std::vector<std::string>& columns,
             unsigned char* row) {
  for (int32_t i = 0; i < desc.ncolumns; ++i) {
    const CatalogColumnDesc& col = desc.columns[i];
    const std::string& text = columns[static_cast<size_t>(i)];
    unsigned char* field = row + col.offset;
    if (col.type == SMC_COL_CHAR) {
      if (static_cast<int64_t>(text.size()) > col.length) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88161), text.c_str(),
                  static_cast<int>(col.length));
        return -1;
      }
      std::memset(field, ' ', static_cast<size_t>(col.length));
      std::memcpy(field, text.data(), text.size());
      continue;
    }
    int64_t value = 0;
    if (!ParseDecimal(text, &value)) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "The value '%s' of column %s is not a number.",
                text.c_str(), col.name);
      return -1;
    }
    if (col.type == SMC_COL_INT8) {
      stbigint(value, field);
    } else {
      // The low 32 bits: a column dumped unsigned comes back as stored.
      stlong(static_cast<int32_t>(static_cast<uint32_t>(value)), field);
    }
  }
  return 0;
}

}  // namespace

int zarCatalogTableErase(zarHandle* handle, int32_t id) {
  static const char kName[] = "zarCatalogTableErase";
  const CatalogTableDesc* desc = smcTableDesc(id);
  SM_TRACE(136, "%s: Erasing catalog table '%s', id = %d.", kName,
           desc != nullptr ? desc->name : "DSM_INVALID", id);
  if (desc == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88122), id);
    return 3;
  }
  std::vector<unsigned char> row(static_cast<size_t>(desc->reclen) + 1);
  const int fd = handle->tableFd[id];
  if (smc::StartRecordOrder(fd) != 0) {
    if (iserrno == ENORECORD) return 17;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), desc->name);
    return 19;
  }
  for (;;) {
    if (isread(fd, row.data(), IS_NEXT) != 0) {
      if (iserrno == EENDFILE) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), desc->name);
      return 19;
    }
    if (isdelcurr(fd) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), desc->name);
      return 19;
    }
  }
}

int zarCatalogTableLoad(zarHandle* handle, int32_t id, FILE* stream, char delimiter) {
  static const char kName[] = "zarCatalogTableLoad";
  smcCountColumns();
  const CatalogTableDesc* desc = smcTableDesc(id);
  if (desc == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88122), id);
    return -1;
  }
  std::vector<unsigned char> row(static_cast<size_t>(desc->reclen));
  std::vector<std::string> columns;
  std::string line;
  int count = 0;
  while (ReadLine(stream, &line)) {
    SM_TRACE(129, "%s: The line = '%s'.", kName, line.c_str());
    // The text up to each delimiter is a column; what follows the last
    // delimiter is none. Further columns are ignored.
    columns.clear();
    size_t from = 0;
    for (size_t at; columns.size() < static_cast<size_t>(desc->ncolumns) &&
                    (at = line.find(delimiter, from)) != std::string::npos;
         from = at + 1) {
      columns.emplace_back(line, from, at - from);
      SM_TRACE(133, "%s: nToken = %d numCols = %d, currtoken = '%s'", kName,
               static_cast<int>(columns.size()), desc->ncolumns, columns.back().c_str());
    }
    if (columns.size() < static_cast<size_t>(desc->ncolumns)) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88119));
      return -1;
    }
    std::memset(row.data(), ' ', row.size());
    if (BuildRow(*desc, columns, row.data()) != 0) return -1;
    if (iswrite(handle->tableFd[id], row.data()) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88001), "iswrite", iserrno);
      SM_TRACE(137, "%s: count = %d", kName, count);
      return -1;
    }
    ++count;
  }
  if (std::ferror(stream) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88001), SM_MSG(88006), errno);
    SM_TRACE(137, "%s: count = %d", kName, count);
    return -1;
  }
  return 0;
}

int zarCatalogImport(zarHandle* handle) {
  static const char kName[] = "zarCatalogImport";
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (zarGetConfig() == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88116));
    rc = 3;
  } else if (os_isdir(kExportDirectory) == 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88008), kExportDirectory);
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88116));
    rc = -1;
  } else {
    smcCountColumns();
    for (int32_t id : kLoadOrder) {
      const char* table = catalogTables[id].name;
      const std::string name = std::string(kExportDirectory) + "/" + table + ".unl";
      SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87403), name.c_str());
      FILE* file = std::fopen(name.c_str(), "re");
      if (file == nullptr) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88052), name.c_str());
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88116));
        rc = -1;
        break;
      }
      // A table without rows has nothing to erase.
      int step = zarCatalogTableErase(handle, id);
      if (step != 0 && step != 17) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88118), table);
      } else if ((step = zarCatalogTableLoad(handle, id, file, '|')) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88117), table);
      }
      std::fclose(file);
      if (step != 0 && step != 17) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88116));
        rc = step;
        break;
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
