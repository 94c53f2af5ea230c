// The option parser of the device letter: the command word, the device
// name and the options, checked against the command and the device type
// known when each option is read, then the closing checks of the command.
// Also the size parser behind "-s", "-b" and "--max_part_size".
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/command/zutev.h"
#include "storage/command/zutev_device.h"
#include "storage/datapath/cloud_provider.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/xbsa.h"

const ZutevPriority zarPriorityTable[6] = {
    {0, "TEV_INVALID"}, {1, "READ-ONLY"}, {2, "LOW"},
    {3, "HIGH"},        {4, "HIGHEST"},   {5, "TEV_INVALID"},
};

const char* zutevPriorityName(int32_t code) {
  if (code >= DEV_PRIO_READONLY && code <= DEV_PRIO_HIGHEST) return zarPriorityTable[code].name;
  return nullptr;
}

namespace {

#define DEV_MSG(number, ...) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(number), __VA_ARGS__)
#define DEV_WARN(text) SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, "%s", text)

// A refusal that shows the device usage first: -1.
template <typename... Args>
int UsageRefusal(const char* text, Args... args) {
  zutevUsageDevice();
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, text, args...);
  return -1;
}
int UsageRefusal0(const char* text) {
  zutevUsageDevice();
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", text);
  return -1;
}
#define DEV_USAGE(number, ...) UsageRefusal(SM_MSG(number), __VA_ARGS__)
#define DEV_USAGE0(number) UsageRefusal0(SM_MSG(number))

constexpr int kUrlMin = 10;
constexpr int kUrlMax = 256;
constexpr int kCredentialMax = 128;
constexpr int kContainerMax = 256;

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

// Copies a value known to fit.
template <size_t N>
void Put(char (&field)[N], const char* value) {
  std::snprintf(field, N, "%s", value);
}

// The state of one parse.
struct Parse {
  zarHandle* handle;
  int argc;
  char** argv;
  int32_t code;
  TevDevice* device;
  int32_t flags;
  int i;  // index of the option being read
};

bool Refused(int32_t code, int32_t commands) { return (code & commands) != 0; }

// The value after the option, or null after the usage and 88303.
const char* Value(Parse* p) {
  if (p->i + 1 >= p->argc) {
    DEV_USAGE(88303, p->argv[p->i]);
    return nullptr;
  }
  return p->argv[++p->i];
}

// "-t": the device type.
int TypeOption(Parse* p) {
  const char* option = p->argv[p->i];
  if (Refused(p->code, ZUTEV_SCAN | ZUTEV_PURGE)) return DEV_USAGE(88305, option);
  if (p->flags & ZUTEV_DEV_T) return DEV_USAGE(88302, option);
  if (Value(p) == nullptr) return -1;
  char* value = p->argv[p->i];
  rupshift(value);
  if (Is(value, "FILE")) {
    p->device->type = DEV_TYPE_FILE;
  } else if (Is(value, "STDIO")) {
    p->device->type = DEV_TYPE_STDIO;
  } else if (Is(value, "CLOUD")) {
    p->device->type = DEV_TYPE_CLOUD;
  } else if (Is(value, "TAPE")) {
    DEV_MSG(88181, "TAPE");
    return -1;
  } else {
    DEV_MSG(88018, value);
    return -1;
  }
  p->flags |= ZUTEV_DEV_T;
  return 0;
}

// "-g": the pool.
int PoolOption(Parse* p) {
  const char* option = p->argv[p->i];
  if (Refused(p->code, ZUTEV_SCAN | ZUTEV_PURGE)) return DEV_USAGE(88305, option);
  if (p->flags & ZUTEV_DEV_G) return DEV_USAGE(88302, option);
  if (p->flags & ZUTEV_DEV_D) return DEV_USAGE(88306, "-d, -g");
  const char* name = Value(p);
  if (name == nullptr) return -1;
  TevPool pool{};
  if (zarGetPoolId(p->handle, name, &pool) != 0) {
    DEV_MSG(88017, name);
    return -1;
  }
  p->device->poolId = pool.pool_id;
  p->flags |= ZUTEV_DEV_G;
  return 0;
}

// "-d": every pool.
int AllPoolsOption(Parse* p) {
  const char* option = p->argv[p->i];
  if (p->flags & ZUTEV_DEV_D) return DEV_USAGE(88302, option);
  if (p->flags & ZUTEV_DEV_G) return DEV_USAGE(88306, "-d, -g");
  if (p->code != ZUTEV_DEL) return DEV_USAGE(88305, option);
  p->device->poolId = -1;
  p->flags |= ZUTEV_DEV_D;
  return 0;
}

// "-b", "-s": a size; its failure message names the device.
int SizeOption(Parse* p, int32_t bit, const char* refusal) {
  const char* option = p->argv[p->i];
  if (Refused(p->code, ZUTEV_SCAN | ZUTEV_PURGE)) return DEV_USAGE(88305, option);
  if (p->flags & bit) return DEV_USAGE(88302, option);
  const char* text = Value(p);
  if (text == nullptr) return -1;
  int error = 0;
  int64_t size = zutevParseSize(text, &error);
  if (error != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, refusal, p->device->name);
    return -1;
  }
  if (bit == ZUTEV_DEV_B) {
    p->device->blockSize = size;
  } else {
    UInt64Pair pair{};
    tevU64ToUInt64(&pair, static_cast<uint64_t>(size));
    p->device->mediaSizeHigh = pair.high;
    p->device->mediaSizeLow = pair.low;
  }
  p->flags |= bit;
  return 0;
}

// "-p": a priority name of rows 1 to 4.
int PriorityOption(Parse* p) {
  const char* option = p->argv[p->i];
  if (p->flags & ZUTEV_DEV_P) return DEV_USAGE(88302, option);
  if (Value(p) == nullptr) return -1;
  char* value = p->argv[p->i];
  rupshift(value);
  for (int32_t code = DEV_PRIO_READONLY; code <= DEV_PRIO_HIGHEST; ++code) {
    if (Is(value, zarPriorityTable[code].name)) {
      p->device->priority = zarPriorityTable[code].code;
      p->flags |= ZUTEV_DEV_P;
      return 0;
    }
  }
  return DEV_USAGE(88166, value);
}

// "-l", "-u": a definition file, named in the record's name field for LIST.
int FileOption(Parse* p, int32_t bit) {
  const char* option = p->argv[p->i];
  if (p->flags & bit) return DEV_USAGE(88302, option);
  const char* name = Value(p);
  if (name == nullptr) return -1;
  if (std::strlen(name) > static_cast<size_t>(kZutevDeviceFileNameMax)) {
    DEV_MSG(88307, name, kZutevDeviceFileNameMax);
    return -1;
  }
  if (p->code == ZUTEV_LIST) Put(p->device->name, name);
  p->flags |= bit;
  return 0;
}

int BitOption(Parse* p, int32_t bit) {
  if (p->flags & bit) return DEV_USAGE(88302, p->argv[p->i]);
  p->flags |= bit;
  return 0;
}

// "--read_arg", "--write_arg", "--drop_arg": a STDIO command.
int StdioOption(Parse* p, int32_t bit) {
  if (zutevCheckArgs(p->argc, p->argv, p->i, p->code, p->flags, bit, p->device) != 0) return -1;
  const char* value = p->argv[++p->i];
  if (std::strlen(value) > static_cast<size_t>(kZutevStdioCmdMax)) {
    DEV_MSG(88307, value, kZutevStdioCmdMax);
    return -1;
  }
  TevDevice* d = p->device;
  Put(bit == ZUTEV_DEV_READ_ARG ? d->stdioRead : bit == ZUTEV_DEV_WRITE_ARG ? d->stdioWrite
                                                                             : d->stdioDrop,
      value);
  p->flags |= bit;
  return 0;
}

// "--max_part_size": the largest part of a STDIO or CLOUD device.
int PartSizeOption(Parse* p) {
  if (zutevCheckArgs(p->argc, p->argv, p->i, p->code, p->flags, ZUTEV_DEV_MAX_PART, p->device) !=
      0) {
    return -1;
  }
  const char* text = p->argv[++p->i];
  int error = 0;
  int64_t size = zutevParseSize(text, &error);
  if (error != 0) {
    DEV_MSG(88020, p->device->name);
    return -1;
  }
  p->device->partSize = size;
  p->flags |= ZUTEV_DEV_MAX_PART;
  return 0;
}

// The cloud options: ADD of a CLOUD device only, once each, with a value.
int CloudOption(Parse* p, int32_t bit) {
  const char* option = p->argv[p->i];
  if (p->code != ZUTEV_ADD) return DEV_USAGE(88305, option);
  if (p->flags & bit) return DEV_USAGE(88302, option);
  if (p->device->type != DEV_TYPE_CLOUD) return DEV_USAGE(88309, "-t CLOUD", option);
  const char* value = Value(p);
  if (value == nullptr) return -1;
  const size_t length = std::strlen(value);
  TevDevice* d = p->device;
  switch (bit) {
    case ZUTEV_DEV_PROVIDER: {
      int provider = zarCloudProviderCode(value);
      if (provider == 0) return DEV_USAGE(88310, value, option);
      d->cloudProvider = static_cast<uint32_t>(provider);
      break;
    }
    case ZUTEV_DEV_URL:
      // The length is checked first; the scheme then.
      if (length < static_cast<size_t>(kUrlMin) || length > static_cast<size_t>(kUrlMax)) {
        DEV_MSG(88307, value, kUrlMax);
        return -1;
      }
      if (std::strncmp(value, "https://", 8) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", "Error: URL must start with 'https://'.");
        return -1;
      }
      Put(d->url, value);
      break;
    case ZUTEV_DEV_USER:
    case ZUTEV_DEV_PASSWORD:
      if (length > static_cast<size_t>(kCredentialMax)) {
        DEV_MSG(88307, value, kCredentialMax);
        return -1;
      }
      Put(bit == ZUTEV_DEV_USER ? d->user : d->password, value);
      break;
    default:
      if (length > static_cast<size_t>(kContainerMax)) {
        DEV_MSG(88307, value, kContainerMax);
        return -1;
      }
      Put(d->container, value);
      break;
  }
  p->flags |= bit;
  return 0;
}

struct CloudRequired {
  int32_t bit;
  const char* option;
};
constexpr CloudRequired kCloudRequired[] = {
    {ZUTEV_DEV_PROVIDER, "--provider"}, {ZUTEV_DEV_URL, "--url"},
    {ZUTEV_DEV_USER, "--user"},         {ZUTEV_DEV_PASSWORD, "--password"},
    {ZUTEV_DEV_CONTAINER, "--container"},
};

int ClosingChecks(Parse* p) {
  const int32_t f = p->flags;
  const int32_t code = p->code;
  if (code == ZUTEV_LIST) {
    if ((f & ZUTEV_DEV_U) && (f & ZUTEV_DEV_L)) return DEV_USAGE(88306, "-u, -l");
    if (f == ZUTEV_DEV_U) {
      p->code = ZUTEV_LIST_UNLOAD;
    } else if (f == ZUTEV_DEV_L) {
      p->code = ZUTEV_LIST_LOAD;
    } else if (f == ZUTEV_DEV_XML) {
      p->code = ZUTEV_LIST_XML;
    } else {
      return DEV_USAGE(88305, "");
    }
    return 0;
  }
  if (code == ZUTEV_SCAN || code == ZUTEV_PURGE) return 0;

  if (!(f & ZUTEV_DEV_G) && !(code == ZUTEV_DEL && (f & ZUTEV_DEV_D))) return DEV_USAGE0(88016);
  if (f & ZUTEV_DEV_XML) return DEV_USAGE(88305, "-xml");
  if (code == ZUTEV_DEL) {
    if (f & (ZUTEV_DEV_T | ZUTEV_DEV_S | ZUTEV_DEV_B | ZUTEV_DEV_P)) {
      return DEV_USAGE(88305, "-t, -p, -s, -b");
    }
  } else if (f & ZUTEV_DEV_Y) {
    return DEV_USAGE(88305, "-y");
  }
  if (code == ZUTEV_UPDATE && (f & (ZUTEV_DEV_T | ZUTEV_DEV_B))) return DEV_USAGE(88305, "-t, -b");
  if (code != ZUTEV_ADD) return 0;

  if (!(f & ZUTEV_DEV_T)) return DEV_USAGE0(88014);
  if (f & ZUTEV_DEV_B) return DEV_USAGE(88013, "FILE");
  TevDevice* d = p->device;
  if (d->type != DEV_TYPE_CLOUD) return 0;
  for (const CloudRequired& r : kCloudRequired) {
    if (!(f & r.bit)) return DEV_USAGE(88309, "-t CLOUD", r.option);
  }
  // Part-size advice; it never refuses the command.
  if (!(f & ZUTEV_DEV_MAX_PART)) {
    if (d->cloudProvider == 1) {
      d->partSize = kZutevS3DefaultPartSize;
      DEV_WARN("The S3 client needs you to setup a --max_part_size since you did not set it it "
               "has been set to the default of 25 MB");
    } else {
      DEV_WARN("Most cloud providers have a maximum object size if you do not provide an argument "
               "with --max_part_size and your object exceeds your provider's limit, the backup "
               "will fail");
    }
  } else if (d->cloudProvider == 1 && d->partSize > kZutevS3LargePartSize) {
    DEV_WARN("The S3 client needs to cache in memory --max_part_size bytes setting this to more "
             "than 100 MB could be detrimental on performance.");
  }
  return 0;
}

// UPDATE changes only what its options name: the priority, media size,
// status, session and command columns the catalog rewrites are taken from
// the stored row where no option gave them. (Left at the parser's
// defaults, an UPDATE of the size alone would make a LOW device HIGH, and
// one of the priority alone would clear the size and mark a busy device
// idle.)
void KeepStoredValues(Parse* p) {
  TevDevice* d = p->device;
  TypedList* list = nullptr;
  if (zarGetDeviceList(p->handle, 0, d->poolId, 0, &list) != 0) return;
  int32_t status = 0;
  for (auto* s = static_cast<TevDevice*>(ll_first(list, &status)); s != nullptr;
       s = static_cast<TevDevice*>(ll_next(list, &status))) {
    if (std::strcmp(s->name, d->name) != 0) continue;
    if (!(p->flags & ZUTEV_DEV_P)) d->priority = s->priority;
    if (!(p->flags & ZUTEV_DEV_S)) {
      d->mediaSizeHigh = s->mediaSizeHigh;
      d->mediaSizeLow = s->mediaSizeLow;
    }
    Put(d->readCmd, s->readCmd);
    Put(d->writeCmd, s->writeCmd);
    d->busy = s->busy;
    d->sessionId = s->sessionId;
    d->timestamp = s->timestamp;
    break;
  }
  ll_destroy(&list, 1, &status);
}

int ParseDevice(Parse* p) {
  char** argv = p->argv;
  p->code = zutevCommandCode(argv[0]);
  constexpr int32_t kAccepted =
      ZUTEV_ADD | ZUTEV_DEL | ZUTEV_UPDATE | ZUTEV_LIST | ZUTEV_SCAN | ZUTEV_PURGE;
  if (p->code == -1 || (p->code & kAccepted) == 0) return DEV_USAGE(88301, argv[0]);
  if (p->code == ZUTEV_LIST && p->argc == 1) return 0;

  TevDevice* d = p->device;
  int first = 1;
  if (p->code != ZUTEV_LIST) {
    if (p->argc < 2) return DEV_USAGE(88303, argv[0]);
    *d = TevDevice{};
    d->type = DEV_TYPE_FILE;
    d->priority = DEV_PRIO_HIGH;
    if (std::strlen(argv[1]) > static_cast<size_t>(kZutevDeviceNameMax)) {
      DEV_MSG(88165, kZutevDeviceNameMax);
      return -1;
    }
    // The name keeps its case: a FILE device's name is its directory.
    Put(d->name, argv[1]);
    first = 2;
  }

  for (p->i = first; p->i < p->argc; ++p->i) {
    const char* a = argv[p->i];
    int rc;
    if (Is(a, "-t")) {
      rc = TypeOption(p);
    } else if (Is(a, "-g")) {
      rc = PoolOption(p);
    } else if (Is(a, "-d")) {
      rc = AllPoolsOption(p);
    } else if (Is(a, "-b")) {
      rc = SizeOption(p, ZUTEV_DEV_B, SM_MSG(88019));
    } else if (Is(a, "-s")) {
      rc = SizeOption(p, ZUTEV_DEV_S, SM_MSG(88020));
    } else if (Is(a, "-p")) {
      rc = PriorityOption(p);
    } else if (Is(a, "-l")) {
      rc = FileOption(p, ZUTEV_DEV_L);
    } else if (Is(a, "-u")) {
      rc = FileOption(p, ZUTEV_DEV_U);
    } else if (Is(a, "-xml")) {
      rc = BitOption(p, ZUTEV_DEV_XML);
    } else if (Is(a, "-y")) {
      rc = BitOption(p, ZUTEV_DEV_Y);
    } else if (Is(a, "--read_arg")) {
      rc = StdioOption(p, ZUTEV_DEV_READ_ARG);
    } else if (Is(a, "--write_arg")) {
      rc = StdioOption(p, ZUTEV_DEV_WRITE_ARG);
    } else if (Is(a, "--drop_arg")) {
      rc = StdioOption(p, ZUTEV_DEV_DROP_ARG);
    } else if (Is(a, "--max_part_size")) {
      rc = PartSizeOption(p);
    } else if (Is(a, "--provider")) {
      rc = CloudOption(p, ZUTEV_DEV_PROVIDER);
    } else if (Is(a, "--url")) {
      rc = CloudOption(p, ZUTEV_DEV_URL);
    } else if (Is(a, "--user")) {
      rc = CloudOption(p, ZUTEV_DEV_USER);
    } else if (Is(a, "--password")) {
      rc = CloudOption(p, ZUTEV_DEV_PASSWORD);
    } else if (Is(a, "--container")) {
      rc = CloudOption(p, ZUTEV_DEV_CONTAINER);
    } else {
      rc = DEV_USAGE(88305, a);
    }
    if (rc != 0) return -1;
  }
  if (ClosingChecks(p) != 0) return -1;
  if (p->code == ZUTEV_UPDATE) KeepStoredValues(p);
  return (p->flags & ZUTEV_DEV_Y) ? 2 : 0;
}

}  // namespace

int zutevCheckArgs(int argc, char** argv, int index, int32_t code, int32_t flags, int32_t bit,
                   const TevDevice* device) {
  const char* option = argv[index];
  const bool has_value = index + 1 < argc;
  if (bit == ZUTEV_DEV_MAX_PART && device->type == DEV_TYPE_CLOUD) {
    return has_value ? 0 : DEV_USAGE(88303, option);
  }
  if (device->type != DEV_TYPE_STDIO) return DEV_USAGE(88309, option, "-t STDIO");
  if (code != ZUTEV_ADD) return DEV_USAGE(88305, option);
  if (flags & bit) return DEV_USAGE(88302, option);
  if (!has_value) return DEV_USAGE(88303, option);
  return 0;
}

int zutevProcDeviceArgs(zarHandle* handle, int argc, char** argv, int32_t* code,
                        TevDevice* device, int32_t* flags, char* /*spare*/) {
  static const char kName[] = "zutevProcDeviceArgs";
  SM_TRACE(136, "%s: enter", kName);
  Parse p{handle, argc, argv, 0, device, 0, 0};
  int rc = ParseDevice(&p);
  *code = p.code;
  *flags = p.flags;
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}

int64_t zutevParseSize(const char* text, int* error) {
  *error = 0;
  if (text == nullptr) {
    *error = 1;
    return 0;
  }
  const char* s = text;
  while (*s != '\0' && sm_is_blank(*s)) ++s;
  if (*s == '\0') {
    *error = 1;
    return 0;
  }
  // Up to the next white space only digits and "." except in the text's
  // last two places, which may hold the unit; positions count from the
  // first non-blank character.
  const size_t length = std::strlen(s);
  for (size_t pos = 1; s[pos - 1] != '\0' && !sm_is_blank(s[pos - 1]); ++pos) {
    const char c = s[pos - 1];
    if (pos + 2 < length && !((c >= '0' && c <= '9') || c == '.')) {
      *error = 1;
      return 0;
    }
  }
  char* end = nullptr;
  const double number = std::strtod(s, &end);
  // Signs, "nan", "inf" and a bare unit letter get through the places
  // above; a size needs at least one digit and a finite, positive product.
  bool digit = false;
  for (const char* c = s; c < end; ++c) digit = digit || (*c >= '0' && *c <= '9');
  if (!digit) {
    *error = 1;
    return 0;
  }
  const char* u = end;
  while (*u != '\0' && sm_is_blank(*u)) ++u;
  double unit;
  switch (*u) {
    case '\0': unit = 1024.0; break;
    case 'b': case 'B': unit = 1.0; break;
    case 'k': case 'K': unit = 1024.0; break;
    case 'm': case 'M': unit = 1048576.0; break;
    case 'g': case 'G': unit = 1073741824.0; break;
    case 't': case 'T': unit = 1099511627776.0; break;
    case 'p': case 'P': unit = 1125899906842624.0; break;
    default:
      *error = 1;
      return 0;
  }
  const double product = number * unit;
  // Products of 2^63 and more have no signed 64-bit value.
  if (!std::isfinite(product) || product < 0 || product >= 9223372036854775808.0) {
    *error = 1;
    return 0;
  }
  return static_cast<int64_t>(product);
}
