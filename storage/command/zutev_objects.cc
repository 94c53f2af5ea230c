// Object DEL and DUMP: the storage-manager API run as a backup client runs
// it, on a session of its own (the command closed its session before), so
// that deletes and reads take the catalog lock, the read mounts and the
// object bookkeeping exactly as a restore does.
#include "storage/command/zutev_objects.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/msgfile.h"
#include "storage/command/config.h"
#include "storage/datapath/smapi.h"
#include "storage/command/sm_trace.h"
#include "storage/command/typed_list.h"

namespace {

// The API session of one command: begun as far as the steps went, and
// ended as far as it was begun, on every way out.
struct ApiSession {
  int64_t handle = 0;
  bool started = false;
  bool in_txn = false;

  int Start() {
    XbsaObjectOwner owner{};
    XbsaSecurityToken token{};
    tevSetDefaultOwner(&owner);
    tevClearSecurityToken(&token);
    int rc = tevInit(&handle, &token, &owner, nullptr);
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88027), rc);
      return rc;
    }
    started = true;
    return 0;
  }
  void BeginTxn() { in_txn = tevBeginTxn(handle) == 0; }
  ~ApiSession() {
    if (in_txn) tevEndTxn(handle, 1);
    if (started) tevTerminate(handle);
  }
};

uint64_t IdOf(const void* element) {
  uint64_t id = 0;
  std::memcpy(&id, element, sizeof id);
  return id;
}

bool WriteAll(FILE* f, const XbsaDataBlock& block) {
  return block.numBytes == 0 ||
         std::fwrite(block.bufferPtr, 1, block.numBytes, f) == block.numBytes;
}

void WriteFailed(const XbsaDataBlock& block) {
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88029), static_cast<int>(block.numBytes), 0);
}

enum class Dump { kNext, kStop };

// Dumps one object; *result takes its result (18 counted as 0).
Dump DumpOne(int64_t handle, uint64_t id, void* buffer, uint32_t buffer_len, int* result) {
  static const char kName[] = "zutevDumpObjects";
  XbsaObjectDescriptor object{};
  tevU64ToUInt64(&object.copyId, id);
  XbsaDataBlock block{buffer_len, 0, buffer};
  int rc = tevGetObject(handle, &object, &block);
  if (rc != BSA_RC_SUCCESS && rc != BSA_RC_MORE_DATA && rc != BSA_RC_NO_MORE_DATA) {
    SM_TRACE(137, "%s: tevGetData returned rc = %d.", kName, rc);
    *result = rc;
    return Dump::kNext;
  }
  // From here the object is being read: tevEndData ends it on every path,
  // so that it never stays marked in use.
  char name[sizeof object.pathName + 32];
  zutevDumpFileName(object.pathName, id, name, sizeof name);
  FILE* f = std::fopen(name, "wb+e");
  if (f == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88052), name);
    tevEndData(handle);
    // Nothing of this object was written: never a success.
    *result = rc == BSA_RC_MORE_DATA ? rc : BSA_RC_ABORT_SYSTEM_ERROR;
    return Dump::kNext;
  }
  Dump next = Dump::kNext;
  if (!WriteAll(f, block)) {
    WriteFailed(block);
    rc = BSA_RC_ABORT_SYSTEM_ERROR;
    next = Dump::kStop;
  }
  while (rc == BSA_RC_MORE_DATA) {
    block.numBytes = 0;
    rc = tevGetData(handle, &block);
    if (rc == BSA_RC_SUCCESS || rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA) {
      // The last block (18) holds the object's last bytes too.
      if (!WriteAll(f, block)) {
        WriteFailed(block);
        rc = BSA_RC_ABORT_SYSTEM_ERROR;
      }
    } else {
      SM_TRACE(137, "%s: tevGetData returned rc = %d.", kName, rc);
    }
  }
  if (std::fclose(f) != 0 && (rc == BSA_RC_SUCCESS || rc == BSA_RC_NO_MORE_DATA)) {
    WriteFailed(block);
    rc = BSA_RC_ABORT_SYSTEM_ERROR;
  }
  tevEndData(handle);
  *result = rc == BSA_RC_NO_MORE_DATA ? 0 : rc;
  return next;
}

}  // namespace

void zutevDumpFileName(const char* path_name, unsigned long long id, char* out, unsigned size) {
  const char* rest = path_name[0] != '\0' ? path_name + 1 : path_name;
  std::snprintf(out, size, "%s.%" PRId64, rest, static_cast<int64_t>(id));
  for (char* c = out; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/') *c = '_';
  }
}

int zutevDeleteObjects(TypedList* ids) {
  static const char kName[] = "zutevDeleteObjects";
  SM_TRACE(136, "%s: enter", kName);
  int result = 0;
  {
    ApiSession api;
    result = api.Start();
    if (result == 0) {
      api.BeginTxn();
      int32_t status = 0;
      for (void* e = ll_first(ids, &status); e != nullptr; e = ll_next(ids, &status)) {
        UInt64Pair id{};
        tevU64ToUInt64(&id, IdOf(e));
        int rc = tevDeleteObject(api.handle, id);
        if (rc != 0) {
          SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88026), id.high, id.low, rc);
          result = 1;
        }
      }
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, result, result);
  return result;
}

int zutevDumpObjects(TypedList* ids) {
  static const char kName[] = "zutevDumpObjects";
  SM_TRACE(136, "%s: enter", kName);
  int result = 0;
  {
    ApiSession api;
    result = api.Start();
    const TevConfig* cfg = result == 0 ? zarGetConfig() : nullptr;
    void* buffer = nullptr;
    uint32_t buffer_len = 0;
    if (result == 0 && (cfg == nullptr || cfg->xferBufSize <= 0)) {
      result = BSA_RC_ABORT_SYSTEM_ERROR;
    } else if (result == 0) {
      buffer_len = static_cast<uint32_t>(cfg->xferBufSize) * 1024u;
      buffer = std::malloc(buffer_len);
      if (buffer == nullptr) result = BSA_RC_NO_RESOURCES;
    }
    if (buffer != nullptr) {
      api.BeginTxn();
      int32_t status = 0;
      for (void* e = ll_first(ids, &status); e != nullptr; e = ll_next(ids, &status)) {
        if (DumpOne(api.handle, IdOf(e), buffer, buffer_len, &result) == Dump::kStop) break;
      }
      std::free(buffer);
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, result, result);
  return result;
}
