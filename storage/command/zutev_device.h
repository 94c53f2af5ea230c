// The device commands of zutev: the option parser of the -D letter with its
// size parser and priority table, the device lists (text and XML), the
// device definition files, and the object detail report.
#pragma once

#include <cstdint>

#include "storage/catalog/smc_dev.h"

struct zarHandle;
struct TypedList;
struct TevPool;

// Device option bits collected by zutevProcDeviceArgs.
enum : int32_t {
  ZUTEV_DEV_D = 0x1,
  ZUTEV_DEV_T = 0x2,
  ZUTEV_DEV_G = 0x4,
  ZUTEV_DEV_S = 0x8,
  ZUTEV_DEV_B = 0x10,
  ZUTEV_DEV_P = 0x20,
  ZUTEV_DEV_Y = 0x80,
  ZUTEV_DEV_L = 0x100,
  ZUTEV_DEV_XML = 0x400,
  ZUTEV_DEV_U = 0x800,
  ZUTEV_DEV_PROVIDER = 0x1000,
  ZUTEV_DEV_READ_ARG = 0x2000,
  ZUTEV_DEV_WRITE_ARG = 0x4000,
  ZUTEV_DEV_DROP_ARG = 0x8000,
  ZUTEV_DEV_MAX_PART = 0x10000,
  ZUTEV_DEV_USER = 0x20000,
  ZUTEV_DEV_PASSWORD = 0x40000,
  ZUTEV_DEV_URL = 0x80000,
  ZUTEV_DEV_CONTAINER = 0x100000,
};

// Longest device name on the command line (a definition file takes names
// shorter than this), STDIO command, and definition file name.
inline constexpr int kZutevDeviceNameMax = 120;
inline constexpr int kZutevStdioCmdMax = 128;
inline constexpr int kZutevDeviceFileNameMax = 120;
// Part size of an S3 device added without one, and the part size above
// which the S3 client's memory use is worth a warning.
inline constexpr int64_t kZutevS3DefaultPartSize = 26214400;
inline constexpr int64_t kZutevS3LargePartSize = 104857600;

struct ZutevPriority {
  int32_t code;
  char name[12];
};
// {0 "TEV_INVALID"}, {1 "READ-ONLY"}, {2 "LOW"}, {3 "HIGH"}, {4 "HIGHEST"},
// {5 "TEV_INVALID"}; names are looked up among rows 1 to 4.
extern const ZutevPriority zarPriorityTable[6];
// The name of a priority code, or null for a code outside 1 to 4.
const char* zutevPriorityName(int32_t code);

// Parses the arguments of the -D letter from the command word on: the
// command code, the device record and the option bits. 0 accepted, 2
// accepted with "-y", -1 refused (its messages are written).
int zutevProcDeviceArgs(zarHandle* handle, int argc, char** argv, int32_t* code,
                        TevDevice* device, int32_t* flags, char* spare);
// The checks common to the STDIO options and "--max_part_size" for the
// option at argv[index]: 0, or -1 after its messages.
int zutevCheckArgs(int argc, char** argv, int index, int32_t code, int32_t flags, int32_t bit,
                   const TevDevice* device);
// A size such as "100", "1.5K", "200 MB" or "4G" as a byte count; no unit
// means kilobytes. *error is 1 (and the result 0) when the text is no size.
int64_t zutevParseSize(const char* text, int* error);

// The device list of every pool on standard output, as text or as XML: 0,
// or -1 when the pool list cannot be had.
int zutevListDevices(zarHandle* handle, int xml);
int zutevListPoolDevices(zarHandle* handle, const TevPool* pool, int xml);
int zutevListDeviceLine(const TevDevice* device, const TevPool* pool, int xml);
// Writes every device into the definition file whose name the record's
// name field holds: 0; -1 when the file cannot be created or written; the
// device list's code.
int zutevUnloadDeviceFile(zarHandle* handle, TevDevice* device);
// Adds or changes the devices of the definition file whose name the
// record's name field holds: 0, -1, or the result of the last add.
int zutevLoadDeviceFile(zarHandle* handle, TevDevice* device);

// The object detail report of the listed object ids: the code that ended
// the last object's part list (17 when complete), or a failure's code.
int zutevReportObjectDetail(zarHandle* handle, TypedList* ids);
