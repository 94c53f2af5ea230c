// Device lists (text for a person, XML for a script) and device definition
// files, which move the devices of a catalog into a text file and back.
//
// Device definition file: one block per device, each led by an empty line:
//   DEVICE=<name>           starts a block; the name shorter than 120
//   TYPE=<FILE|TAPE|...>    only FILE and TAPE are loaded (case counts)
//   POOL=<pool name>
//   BLOCKSIZE=<decimal>
//   SIZE=<decimal>          media size in bytes, the full unsigned 64-bit
//                           count; a negative number (written by older
//                           versions as the signed low 32-bit word) is read
//                           as that unsigned word
//   PRIORITY=<READ-ONLY|LOW|HIGH|HIGHEST>
// The reader takes the keys in any order with the key syntax of the
// configuration files; "#" starts a comment; lines hold at most 511
// characters; lines count from 0, empty and comment lines too.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/msgfile.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/command/zutev.h"
#include "storage/command/zutev_device.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/xbsa.h"

namespace {

constexpr int kLineMax = 511;

// "&", "<", ">", '"' and "'" as entities, so that any name gives a
// well-formed attribute.
std::string XmlEscape(const char* text) {
  std::string out;
  for (const char* c = text; *c != '\0'; ++c) {
    switch (*c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += *c; break;
    }
  }
  return out;
}

uint64_t MediaBytes(const TevDevice& d) {
  UInt64Pair pair{d.mediaSizeHigh, d.mediaSizeLow};
  uint64_t bytes = 0;
  tevUInt64ToU64(&bytes, &pair);
  return bytes;
}

}  // namespace

int zutevListDeviceLine(const TevDevice* device, const TevPool* pool, int xml) {
  if (device == nullptr) return -1;
  const char* priority = zutevPriorityName(device->priority);
  if (priority == nullptr) priority = "Unknown";
  char block[32] = "--";
  if (device->blockSize != 0) std::snprintf(block, sizeof block, "%" PRId64, device->blockSize);
  char media[32] = "--";
  UInt64Pair pair{device->mediaSizeHigh, device->mediaSizeLow};
  if (pair.high != 0 || pair.low != 0) {
    uint32_t mb = 0;
    tevUInt64ToMBytes(&mb, &pair);
    std::snprintf(media, sizeof media, "%u", mb);
  }
  const char* type = zarDeviceTypeName(device->type);
  if (xml) {
    std::printf("\t<POOL name=\"%s\" type=\"%s\" PRIORITY=\"%s\" MEDIA_SIZE=\"%s\" "
                "MEDIA_SIZE_UNITS=\"MB\" DEVICE_NAME=\"%s\"/>\n",
                XmlEscape(pool->pool_name).c_str(), XmlEscape(type).c_str(),
                XmlEscape(priority).c_str(), media, XmlEscape(device->name).c_str());
  } else {
    std::printf("%-7s%-9s%6s/%-9s %-14s%s\n", type, priority, block, media, pool->pool_name,
                device->name);
  }
  return 0;
}

int zutevListPoolDevices(zarHandle* handle, const TevPool* pool, int xml) {
  TypedList* devices = nullptr;
  if (zarGetDeviceList(handle, 0, pool->pool_id, 0, &devices) != 0) {
    SM_TRACE(137, "zarGetDeviceList error");
    return -1;
  }
  int32_t status = 0;
  for (auto* d = static_cast<TevDevice*>(ll_first(devices, &status)); d != nullptr;
       d = static_cast<TevDevice*>(ll_next(devices, &status))) {
    zutevListDeviceLine(d, pool, xml);
  }
  if (!xml) std::fputs("\n", stdout);
  ll_destroy(&devices, 1, &status);
  return 0;
}

int zutevListDevices(zarHandle* handle, int xml) {
  if (xml) {
    std::fputs("<TEV_DEVICE_LIST version=\"1.0\">\n", stdout);
  } else {
    std::printf(SM_MSG(87012), SM_MSG(87014));
  }
  TypedList* pools = nullptr;
  if (zarGetPoolList(handle, &pools) != 0) {
    std::fflush(stdout);
    return -1;
  }
  if (!xml) std::printf("%s\n", SM_MSG(87015));
  int32_t status = 0;
  for (auto* pool = static_cast<TevPool*>(ll_first(pools, &status)); pool != nullptr;
       pool = static_cast<TevPool*>(ll_next(pools, &status))) {
    zutevListPoolDevices(handle, pool, xml);
  }
  std::fputs(xml ? "</TEV_DEVICE_LIST>\n" : "\n", stdout);
  std::fflush(stdout);
  ll_destroy(&pools, 1, &status);
  return 0;
}

int zutevUnloadDeviceFile(zarHandle* handle, TevDevice* record) {
  FILE* f = std::fopen(record->name, "we");
  if (f == nullptr) return -1;
  TypedList* devices = nullptr;
  int rc = zarGetDeviceList(handle, 0, 0, 0, &devices);
  if (rc != 0) {
    SM_TRACE(137, "zarGetDeviceList error");
    std::fclose(f);
    return rc;
  }
  int32_t status = 0;
  bool written = true;
  for (auto* d = static_cast<TevDevice*>(ll_first(devices, &status)); d != nullptr;
       d = static_cast<TevDevice*>(ll_next(devices, &status))) {
    TevPool pool{};
    zarGetPoolName(handle, d->poolId, &pool);
    const char* priority = zutevPriorityName(d->priority);
    if (priority == nullptr) priority = zarPriorityTable[0].name;
    written = std::fprintf(f, "\n%s=%s\n%s=%s\n%s=%s\n%s=%" PRId64 "\n%s=%" PRIu64 "\n%s=%s\n",
                           "DEVICE", d->name, "TYPE", zarDeviceTypeName(d->type), "POOL",
                           pool.pool_name, "BLOCKSIZE", d->blockSize, "SIZE", MediaBytes(*d),
                           "PRIORITY", priority) > 0 &&
              written;
  }
  ll_destroy(&devices, 1, &status);
  // A file that could not be written whole is a failure, not a device list.
  if (std::fclose(f) != 0 || !written) return -1;
  return 0;
}

namespace {

// One block of a definition file being gathered.
struct Block {
  TevDevice device;
  bool pending = false;
  bool has_type = false;
  bool has_priority = false;
};

void StartBlock(Block* b) {
  b->device = TevDevice{};
  b->pending = false;
  b->has_type = false;
  b->has_priority = false;
}

// A device that exists keeps its state in use (busy flag, session,
// timestamp, command columns) when the file changes it.
void KeepState(zarHandle* handle, TevDevice* d) {
  TypedList* list = nullptr;
  if (zarGetDeviceList(handle, 0, d->poolId, 0, &list) != 0) return;
  int32_t status = 0;
  for (auto* s = static_cast<TevDevice*>(ll_first(list, &status)); s != nullptr;
       s = static_cast<TevDevice*>(ll_next(list, &status))) {
    if (std::strcmp(s->name, d->name) != 0) continue;
    std::memcpy(d->readCmd, s->readCmd, sizeof d->readCmd);
    std::memcpy(d->writeCmd, s->writeCmd, sizeof d->writeCmd);
    d->busy = s->busy;
    d->sessionId = s->sessionId;
    d->timestamp = s->timestamp;
    break;
  }
  ll_destroy(&list, 1, &status);
}

// Completes a pending block and adds or changes its device: the result of
// zarAddModDevice, or 0 when nothing was pending.
int FinishBlock(zarHandle* handle, Block* b) {
  if (!b->pending) return 0;
  if (!b->has_type) b->device.type = DEV_TYPE_FILE;
  if (!b->has_priority && !b->has_type) b->device.priority = DEV_PRIO_HIGH;
  KeepState(handle, &b->device);
  return zarAddModDevice(handle, &b->device);
}

void BlockError(int line) { SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88167), line); }

// SIZE: the full 64-bit count, or an older file's signed low word.
void TakeSize(TevDevice* d, const char* value) {
  uint64_t bytes;
  const char* v = value;
  while (sm_is_blank(*v)) ++v;
  if (*v == '-') {
    bytes = static_cast<uint32_t>(std::strtoll(v, nullptr, 10));
  } else {
    bytes = std::strtoull(v, nullptr, 10);
  }
  UInt64Pair pair{};
  tevU64ToUInt64(&pair, bytes);
  d->mediaSizeHigh = pair.high;
  d->mediaSizeLow = pair.low;
}

bool Key(char* line, const char* key, char** value) {
  char* cursor = line;
  if (!zarConfigKeyMatch(&cursor, key, static_cast<int>(std::strlen(key)))) return false;
  *value = cursor;
  return true;
}

}  // namespace

int zutevLoadDeviceFile(zarHandle* handle, TevDevice* record) {
  FILE* f = std::fopen(record->name, "re");
  if (f == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88023), record->name);
    return -1;
  }
  Block b;
  StartBlock(&b);
  char line[kLineMax + 2];
  int number = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    ++number;
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] != '\n' && length == sizeof line - 1) {
      // A longer line: the rest of it is no line of its own.
      int c;
      while ((c = std::fgetc(f)) != EOF && c != '\n') {
      }
    }
    if (char* hash = std::strchr(line, '#')) *hash = '\0';
    sm_trim_trailing(line);
    char* value = nullptr;
    if (Key(line, "DEVICE", &value)) {
      if (FinishBlock(handle, &b) == -1) {
        std::fclose(f);
        return -1;
      }
      StartBlock(&b);
      if (std::strlen(value) >= static_cast<size_t>(kZutevDeviceNameMax)) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88165), kZutevDeviceNameMax);
        BlockError(number);
        continue;
      }
      std::snprintf(b.device.name, sizeof b.device.name, "%s", value);
      b.pending = true;
    } else if (Key(line, "BLOCKSIZE", &value)) {
      b.device.blockSize = std::strtoll(value, nullptr, 10);
    } else if (Key(line, "SIZE", &value)) {
      TakeSize(&b.device, value);
    } else if (Key(line, "PRIORITY", &value)) {
      const char* name = nullptr;
      for (int32_t code = DEV_PRIO_READONLY; code <= DEV_PRIO_HIGHEST; ++code) {
        if (std::strcmp(value, zarPriorityTable[code].name) == 0) {
          b.device.priority = code;
          name = value;
        }
      }
      if (name == nullptr) {
        zutevUsageDevice();
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88166), value);
        BlockError(number);
        b.pending = false;
      } else {
        b.has_priority = true;
      }
    } else if (Key(line, "TYPE", &value)) {
      if (std::strcmp(value, "TAPE") == 0) {
        b.device.type = DEV_TYPE_TAPE;
        b.device.priority = DEV_PRIO_LOW;
        b.has_type = true;
      } else if (std::strcmp(value, "FILE") == 0) {
        b.device.type = DEV_TYPE_FILE;
        b.device.priority = DEV_PRIO_HIGH;
        b.has_type = true;
      } else {
        SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(88164), value);
        BlockError(number);
        b.pending = false;
      }
    } else if (Key(line, "POOL", &value)) {
      TevPool pool{};
      if (zarGetPoolId(handle, value, &pool) != 0) {
        SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(88163), value);
        BlockError(number);
        b.pending = false;
      } else {
        b.device.poolId = pool.pool_id;
      }
    }
  }
  std::fclose(f);
  return FinishBlock(handle, &b);
}
