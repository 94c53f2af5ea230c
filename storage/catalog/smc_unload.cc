// The unload line: the text form in which every table dump writes its rows
// (catalog EXPORT with '|', the table dump command with TAB).
//
//   one line per row, in record-number order;
//   every column of the table's descriptor, in descriptor order, as text,
//   each followed by the delimiter (the last one too), then "\n";
//   character columns without their trailing blanks;
//   integers in decimal, signed unless the dump asks for an unsigned column.
#include <cinttypes>
#include <cstring>

#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "base/fields.h"
#include "storage/catalog/smc_internal.h"
#include "storage/catalog/smcatalog.h"

namespace smc {

namespace {

thread_local UnloadHazard hazard{0, 0, 0};

}  // namespace

UnloadHazard TakeUnloadHazard() {
  const UnloadHazard taken = hazard;
  hazard = UnloadHazard{0, 0, 0};
  return taken;
}

int WriteUnloadLine(FILE* stream, int32_t id, const unsigned char* row, char delimiter,
                    uint32_t unsigned_mask) {
  const CatalogTableDesc& desc = catalogTables[id];
  int unsafe = -1;
  for (int i = 0; desc.columns[i].name[0] != '\0'; ++i) {
    const CatalogColumnDesc& col = desc.columns[i];
    const unsigned char* field = row + col.offset;
    if (col.type == SMC_COL_CHAR) {
      const char* text = reinterpret_cast<const char*>(field);
      int32_t n = bylengnb(text, static_cast<int32_t>(col.length));
      // A NUL ends the text as it ends every C reader's view of the column.
      const void* nul = std::memchr(text, '\0', static_cast<size_t>(n));
      if (nul != nullptr) n = static_cast<int32_t>(static_cast<const char*>(nul) - text);
      if (unsafe < 0 && (std::memchr(text, delimiter, static_cast<size_t>(n)) != nullptr ||
                         std::memchr(text, '\n', static_cast<size_t>(n)) != nullptr)) {
        unsafe = i;
      }
      std::fwrite(text, 1, static_cast<size_t>(n), stream);
    } else if (col.type == SMC_COL_INT8) {
      int64_t v = 0;
      ldbigint(&v, field);
      std::fprintf(stream, "%" PRId64, v);
    } else if (unsigned_mask & (1u << i)) {
      std::fprintf(stream, "%" PRIu32, static_cast<uint32_t>(ldlong(field)));
    } else {
      std::fprintf(stream, "%" PRId32, ldlong(field));
    }
    std::fputc(delimiter, stream);
  }
  std::fputc('\n', stream);
  return unsafe;
}

int DumpTable(int32_t id, FILE* stream, char delimiter, const DumpTexts& texts,
              uint32_t unsigned_mask) {
  const char* path = TablePath(id);
  const int fd = isopen(path, IS_INOUT | IS_MANULOCK);
  if (fd < 0) {
    if (texts.open_failure != nullptr) std::fprintf(stderr, texts.open_failure, path, iserrno);
    return texts.failure_result;
  }
  int rc = 0;
  if (StartRecordOrder(fd) != 0) {
    std::fprintf(stderr, "isstart: Could not locate record, iserrno = %d", iserrno);
    rc = texts.failure_result;
  } else {
    unsigned char row[2100];
    const int reclen = catalogTables[id].reclen;
    IsamDictInfo info{};
    // A file whose rows are longer than the table's is not read into the
    // buffer.
    if (isindexinfo(fd, &info, 0) != 0 || info.reclen != reclen ||
        reclen > static_cast<int>(sizeof row)) {
      std::fprintf(stderr, texts.read_failure, iserrno != 0 ? iserrno : EBADFILE);
      rc = texts.failure_result;
    } else {
      int written = 0;
      for (;;) {
        if (isread(fd, row, IS_NEXT) != 0) {
          if (iserrno == EENDFILE) {
            if (written == 0 && stream == stdout && texts.empty != nullptr) {
              std::fputs(texts.empty, stderr);
            }
          } else {
            std::fprintf(stderr, texts.read_failure, iserrno);
            rc = texts.failure_result;
          }
          break;
        }
        ++written;
        const int unsafe = WriteUnloadLine(stream, id, row, delimiter, unsigned_mask);
        if (unsafe >= 0 && hazard.table == 0) hazard = UnloadHazard{id, unsafe, written};
      }
    }
  }
  isclose(fd);
  return rc;
}

}  // namespace smc
