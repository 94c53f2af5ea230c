// Directory scans over the platform's wildcard search, and file tests.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "base/os_files.h"
#include "base/thread_state.h"
#include "platform/find_file.h"
#include "platform/last_error.h"

struct OsDirScan {
  std::string pattern;  // held whole: a cut pattern would list another directory
  tvp::FindSearch* search = nullptr;  // null until the first read starts it
};

namespace {

constexpr int32_t kStatusBadArgument = -7;
constexpr int32_t kStatusEmptyPattern = -6;
constexpr int32_t kStatusNoMemory = -2;

thread_local int32_t t_dirstatus = 0;

// The ring of open scans. Its head lives in the client state; a lock keeps
// scans opened and closed on several threads from tearing it.
std::mutex g_ring_mutex;
void* g_fallback_ring = nullptr;

void** RingHead() {
  ClientState* cs = rclientstate();
  return cs != nullptr ? &cs->dir_ring : &g_fallback_ring;
}

void SetStatus(int32_t status, int err) {
  t_dirstatus = status;
  errno = err;
}

}  // namespace

int32_t os_dirstatus(void) { return t_dirstatus; }

OsDirHandle* os_opendir(const char* pattern) {
  SetStatus(0, 0);
  if (pattern == nullptr) {
    t_dirstatus = kStatusBadArgument;
    return nullptr;
  }
  if (*pattern == '\0') {
    t_dirstatus = kStatusEmptyPattern;
    return nullptr;
  }
  auto* handle = new (std::nothrow) OsDirHandle{};
  auto* scan = new (std::nothrow) OsDirScan;
  auto* entry = new (std::nothrow) OsDirEntry{};
  if (handle == nullptr || scan == nullptr || entry == nullptr) {
    delete handle;
    delete scan;
    delete entry;
    return nullptr;
  }
  try {
    scan->pattern = pattern;
  } catch (const std::bad_alloc&) {
    delete handle;
    delete scan;
    delete entry;
    return nullptr;
  }
  handle->scan = scan;
  handle->entry = entry;
  void** head_slot = RingHead();
  std::lock_guard<std::mutex> guard(g_ring_mutex);
  auto* head = static_cast<OsDirHandle*>(*head_slot);
  if (head == nullptr) {
    handle->next = handle->prev = handle;
  } else {
    // Linked in before the head.
    handle->next = head;
    handle->prev = head->prev;
    head->prev->next = handle;
    head->prev = handle;
  }
  *head_slot = head == nullptr ? handle : head;
  return handle;
}

OsDirEntry* os_readdir(OsDirHandle* handle) {
  SetStatus(0, 0);
  if (handle == nullptr || handle->scan == nullptr) {
    t_dirstatus = kStatusBadArgument;
    return nullptr;
  }
  OsDirScan* scan = handle->scan;
  tvp::FindData data;
  int32_t rc;
  if (scan->search == nullptr) {
    rc = tvp::FindFirst(scan->pattern, &scan->search, &data);
  } else {
    rc = tvp::FindNext(scan->search, &data);
  }
  tvp::SetLastError(static_cast<uint32_t>(rc));
  if (rc != 0) {
    SetStatus(rc, os_maperr(static_cast<uint32_t>(rc)));
    return nullptr;
  }
  char* name = strdup(data.name.c_str());
  if (name == nullptr) {
    SetStatus(kStatusNoMemory, ENOMEM);
    return nullptr;
  }
  OsDirEntry* entry = handle->entry;
  free(entry->name);
  entry->name = name;
  entry->name_length = static_cast<int16_t>(data.name.size());
  entry->started = 1;
  return entry;
}

void os_closedir(OsDirHandle* handle) {
  if (handle == nullptr) return;
  {
    void** head_slot = RingHead();
    std::lock_guard<std::mutex> guard(g_ring_mutex);
    if (handle->next == handle) {
      *head_slot = nullptr;
    } else {
      handle->prev->next = handle->next;
      handle->next->prev = handle->prev;
      if (*head_slot == handle) *head_slot = handle->next;
    }
  }
  if (handle->scan != nullptr) {
    tvp::FindClose(handle->scan->search);
    delete handle->scan;
  }
  if (handle->entry != nullptr) {
    free(handle->entry->name);
    delete handle->entry;
  }
  delete handle;
}

namespace {

int32_t CopyFound(int32_t rc, const tvp::FindData& found, OsFindData* data) {
  if (rc == 0 && found.name.size() >= sizeof data->name) rc = 111;  // no room for the name
  tvp::SetLastError(static_cast<uint32_t>(rc));
  if (rc != 0) return rc;
  data->attributes = found.attributes;
  data->size = found.size;
  memcpy(data->name, found.name.c_str(), found.name.size() + 1);
  return 0;
}

}  // namespace

void* os_findfirst(const char* pattern, OsFindData* data) {
  if (pattern == nullptr || data == nullptr) {
    tvp::SetLastError(87);
    return nullptr;
  }
  tvp::FindSearch* search = nullptr;
  tvp::FindData found;
  int32_t rc = CopyFound(tvp::FindFirst(pattern, &search, &found), found, data);
  if (rc != 0) {
    tvp::FindClose(search);
    return nullptr;
  }
  return search;
}

int32_t os_findnext(void* handle, OsFindData* data) {
  if (handle == nullptr || data == nullptr) {
    tvp::SetLastError(6);
    return 0;
  }
  tvp::FindData found;
  int32_t rc = tvp::FindNext(static_cast<tvp::FindSearch*>(handle), &found);
  return CopyFound(rc, found, data) == 0 ? 1 : 0;
}

int32_t os_findclose(void* handle) {
  tvp::FindClose(static_cast<tvp::FindSearch*>(handle));
  return 1;
}

int32_t os_isdir(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

// File names reach the file system in the client code set: the locale
// start-up converts nothing between the two.
int32_t os_access(const char* path, int32_t mode) {
  if (path == nullptr) return -1;
  return access(path, mode);
}

int32_t os_chdir(const char* path) {
  if (path == nullptr) return -1;
  return chdir(path);
}

int32_t os_canread(const char* path) { return os_access(path, R_OK) == 0 ? 1 : 0; }

int32_t os_canread_raw(const char* path) {
  return path != nullptr && access(path, R_OK) == 0 ? 1 : 0;
}
