// TAPE media: the blocking layer every TAPE transfer goes through, the
// read mount of a TAPE volume and the volume change at the end of a TAPE
// part. The mounts, the header code and the reads call these; until TAPE
// media are served, every transfer and mount fails, so a TAPE part is
// neither written nor read.
#pragma once

#include <cstddef>

#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

// Takes up to length bytes for the mount's medium: the count taken (fewer
// at the end of the medium), or a negative value.
long tape_write(TevMount* mount, const void* data, size_t length);
// Writes the partly filled last block. 0, or -1 on a short write.
int tape_FLUSH(TevMount* mount);
// Delivers up to length bytes: the count (fewer at the end of the data), or
// a negative value.
long tape_read(TevMount* mount, void* buffer, size_t length);
// Mounts the volume on a drive and makes it the current mount. 0; 22; 3;
// 19.
int readMountTape(zarHandle* handle, TevVolume* volume);
// The volume change at the end of a TAPE part whose volume is full. 0; 22
// for a null handle or no current mount; 19; the code of a failing unmount
// or write mount.
int tapeVolumeChange(zarHandle* handle);
