#include "platform/find_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include "platform/win_errors.h"

namespace tvp {

struct FindSearch {
  std::vector<FindData> entries;
  size_t next = 0;
};

namespace {

// The name pattern as an fnmatch pattern: only '*' and '?' are wildcards,
// so '[' and ']' are escaped to match themselves.
std::string ToFnmatch(std::string_view name_pattern) {
  if (name_pattern == "*.*") return "*";  // every name, with or without a dot
  std::string out;
  for (char c : name_pattern) {
    if (c == '[' || c == ']' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

int32_t OpenDirError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return tvwin::kPathNotFound;
    case EACCES:
    case EPERM:
      return tvwin::kAccessDenied;
    case ENOMEM:
      return tvwin::kNotEnoughMemory;
    case ENAMETOOLONG:
      return tvwin::kPathNotFound;
    default:
      return tvwin::kAccessDenied;
  }
}

}  // namespace

int32_t FindFirst(std::string_view pattern, FindSearch** search, FindData* data) {
  if (search == nullptr || data == nullptr || pattern.empty()) return tvwin::kInvalidParameter;
  *search = nullptr;
  size_t sep = pattern.find_last_of("/\\");
  std::string dir;
  std::string_view name_pattern = pattern;
  if (sep != std::string_view::npos) {
    dir = std::string(pattern.substr(0, sep));
    if (dir.empty()) dir = "/";
    name_pattern = pattern.substr(sep + 1);
    for (char& c : dir) {
      if (c == '\\') c = '/';
    }
  } else {
    dir = ".";
  }
  if (name_pattern.empty()) return tvwin::kFileNotFound;
  std::string fn_pattern = ToFnmatch(name_pattern);

  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return OpenDirError(errno);
  DIR* d = fdopendir(dfd);
  if (d == nullptr) {
    int err = errno;
    close(dfd);
    return OpenDirError(err);
  }
  auto found = std::unique_ptr<FindSearch>(new (std::nothrow) FindSearch);
  if (!found) {
    closedir(d);
    return tvwin::kNotEnoughMemory;
  }
  errno = 0;
  while (struct dirent* e = readdir(d)) {
    if (fnmatch(fn_pattern.c_str(), e->d_name, 0) != 0) continue;
    FindData entry;
    entry.name = e->d_name;
    struct stat st;
    if (fstatat(dfd, e->d_name, &st, 0) == 0 || fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.attributes = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeNormal;
      entry.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    } else {
      entry.attributes = kFileAttributeNormal;
    }
    found->entries.push_back(std::move(entry));
  }
  int read_err = errno;
  closedir(d);
  if (read_err != 0) return OpenDirError(read_err);
  if (found->entries.empty()) return tvwin::kFileNotFound;
  std::sort(found->entries.begin(), found->entries.end(),
            [](const FindData& a, const FindData& b) { return a.name < b.name; });
  *data = found->entries[0];
  found->next = 1;
  *search = found.release();
  return tvwin::kOk;
}

int32_t FindNext(FindSearch* search, FindData* data) {
  if (search == nullptr || data == nullptr) return tvwin::kInvalidHandle;
  if (search->next >= search->entries.size()) return tvwin::kNoMoreFiles;
  *data = search->entries[search->next++];
  return tvwin::kOk;
}

void FindClose(FindSearch* search) { delete search; }

}  // namespace tvp
