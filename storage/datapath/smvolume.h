// Volumes: the medium each device writes to, one row per volume in the
// catalog's volume table (layout in storage/catalog/smc_vol.h), read into
// and written from TevVolume records (volume_records.h).
//
// A volume row stores its status as a letter and its device type by name:
//   letter read as   "I" 1, "B" 2, "L" 3, any other 0
//   code written as  1 "I", 2 "B", 3 "L", any other "X"
#pragma once

#include "storage/catalog/smc_dev.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

// The volume whose id the record holds, into the record. 0; 22 null
// argument; 19 the row cannot be found or read.
int zarGetVolumeInfo(zarHandle* handle, TevVolume* volume);
// Writes the record. A record with a volume id changes only that row's
// label, timestamp and status letter (19 when it cannot be found or
// rewritten); a record with volume id 0 becomes a new row with a new id
// from the serial table, transaction mark 1 and the handle's session id,
// and the record takes the id (3 when it cannot be written). 22 null
// argument.
int zarPutVolumeInfo(zarHandle* handle, TevVolume* volume);
// The volume of a device path, into the record. 0; 22; 17 no volume of
// that path; 3 another failure.
int zarFindDeviceVolume(zarHandle* handle, const char* path, TevVolume* volume);
// The device of the volume's pool that holds the volume: the one named by
// the volume path and of the volume's type, into the record. 0; 17 none
// (the caller reports it); the device list's code.
int zarFindVolumeDevice(zarHandle* handle, const TevVolume* volume, TevDevice* device);
// A new volume row for the device ("TEV_DISK_VOL", idle, path = the
// device's name), into the record. The result of zarPutVolumeInfo.
int zarVolumeMakeNew(zarHandle* handle, const TevDevice* device, TevVolume* volume);

// The status code of a stored letter, and the letter of a status code.
int32_t zarVolumeStatusCode(char letter);
char zarVolumeStatusLetter(int32_t code);
