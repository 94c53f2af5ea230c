// Removal of a copy's stored data from its devices: the part files of a
// FILE volume with the directories they leave empty, the drop command of a
// STDIO device, the DELETE of a CLOUD device.
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/command/sm_path.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smcloud.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smvolume.h"

extern char** environ;

namespace {

// Where a CLOUD device keeps a part.
constexpr char kCloudTarget[] = "@obj_name@/@short_name@.@obj_id@.@obj_part@";

// A directory listing that is closed on every way out.
struct Listing {
  explicit Listing(const std::string& path) : dir(opendir(path.c_str())) {}
  ~Listing() {
    if (dir != nullptr) closedir(dir);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  DIR* dir;
};

// The directory path without the separators it ends in ("/" stays).
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

// A path name that climbs out of the directory it starts in.
bool ClimbsOut(std::string_view name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

// Removes the directories of the object's path name below the device
// directory that the removed part left empty, innermost first. Stops at
// the first directory that holds anything or cannot be listed, at "/",
// "\", "." or an empty name, and never removes the device directory
// itself or anything outside it.
void RemoveEmptyDirectories(const char* volume_path, const char* path_name) {
  const std::string device_dir = WithoutTrailingSeparators(volume_path);
  char name[sizeof XbsaObjectDescriptor::pathName];
  stncopy(path_name, name, sizeof name);
  if (ClimbsOut(name)) return;
  for (;;) {
    const std::string_view n(name);
    if (n.empty() || n == "/" || n == "\\" || n == ".") return;
    const std::string dir = std::string(volume_path) + name;
    if (WithoutTrailingSeparators(dir) == device_dir) return;
    {
      Listing listing(dir);
      if (listing.dir == nullptr) return;
      while (const dirent* entry = readdir(listing.dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
          return;
        }
      }
    }
    if (rmdir(dir.c_str()) != 0) {
      SM_TRACE(137, "rmdir('%s') failed with errno %d.", dir.c_str(), errno);
      return;
    }
    sm_dirname(name);
  }
}

// The words of a command line: blanks separate them, double quotes group
// blanks into a word and are themselves dropped.
std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// Runs the device program with the words of the expanded arguments, found
// on PATH, and waits for it. No shell sees the text, so object names
// cannot run commands. The exit status does not matter.
void RunDropCommand(const char* program, const char* arguments) {
  std::vector<std::string> words = SplitWords(arguments);
  words.insert(words.begin(), program);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program, nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    SM_TRACE(137, "Cannot start '%s': errno %d.", program, rc);
    return;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// The device of the volume; false when there is none.
bool FindVolumeDevice(zarHandle* handle, const TevVolume& volume, TevDevice* out) {
  const int rc = zarFindVolumeDevice(handle, &volume, out);
  if (rc == 17) SM_TRACE(136, "ERROR: Cannot find suitable device");
  return rc == 0;
}

// Removes one part from a STDIO or CLOUD device. false ends the removal.
bool DropPart(zarHandle* handle, const TevVolume& volume, const TevObjectDetail& detail) {
  TevDevice device{};
  if (!FindVolumeDevice(handle, volume, &device)) return false;
  const bool stdio = volume.type == DEV_TYPE_STDIO;
  char* target =
      expandStdioArg(stdio ? device.stdioDrop : kCloudTarget, handle->currentObject, &detail);
  if (target == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88430), device.stdioDrop);
    return false;
  }
  if (stdio) {
    SM_TRACE(136, "command = '%s %s'.", device.name, target);
    RunDropCommand(device.name, target);
  } else {
    CloudClientArgs args{};
    args.mode = CLOUD_MODE_DELETE;
    stncopy(device.url, args.url, sizeof args.url);
    stncopy(device.user, args.user, sizeof args.user);
    stncopy(device.password, args.password, sizeof args.password);
    stncopy(device.container, args.container, sizeof args.container);
    stncopy(target, args.targetName, sizeof args.targetName);
    if (device.cloudProvider == 1) {
      SM_TRACE(134, "S3 Type Cloud.");
      cloudS3ClientStart(-1, &args);
    } else {
      SM_TRACE(134, "SWIFT Type Cloud.");
      cloudSwiftClientStart(-1, &args);
    }
  }
  std::free(target);
  return true;
}

// Removes one part from a FILE device. false ends the removal.
bool RemovePartFile(zarHandle* handle, const TevVolume& volume, const TevObjectInfo& info,
                    const TevObjectDetail& detail) {
  std::string name(std::strlen(volume.path) + 1027, '\0');
  if (zarGenFileName(handle, name.data(), static_cast<int>(name.size()), &volume, info.fileName,
                     &detail) != 0) {
    return false;
  }
  if (unlink(name.c_str()) != 0) {
    SM_TRACE(137, "unlink('%s') failed with errno %d.", name.c_str(), errno);
  }
  RemoveEmptyDirectories(volume.path, handle->currentObject->pathName);
  return true;
}

}  // namespace

void zarDeleteCopyData(zarHandle* handle, uint64_t copy_id) {
  if (handle == nullptr) return;
  UInt64Pair pair{};
  tevU64ToUInt64(&pair, copy_id);
  if (handle->currentObject == nullptr) {
    handle->currentObject =
        static_cast<XbsaObjectDescriptor*>(sm_zalloc(sizeof(XbsaObjectDescriptor)));
    if (handle->currentObject == nullptr) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
      return;
    }
  }
  TevObjectInfo info{};
  if (zarGetObjectInformation(handle, copy_id, &info) != 0) return;
  TevObjectDetail detail{};
  detail.copyId = pair;
  detail.partNumber = 1;
  // Part 1, 2, ... until a part is missing: a copy without details loses
  // nothing.
  while (zarGetObjDetail(handle, &detail) == 0) {
    TevVolume volume{};
    volume.volumeId = detail.volumeId;
    if (zarGetVolumeInfo(handle, &volume) != 0) return;
    bool go_on = true;
    switch (volume.type) {
      case DEV_TYPE_FILE:
        go_on = RemovePartFile(handle, volume, info, detail);
        break;
      case DEV_TYPE_STDIO:
      case DEV_TYPE_CLOUD:
        go_on = DropPart(handle, volume, detail);
        break;
      default:
        break;  // tape volumes keep their data
    }
    if (!go_on) return;
    ++detail.partNumber;
  }
}
