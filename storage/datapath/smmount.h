// Mounts: the medium a session has in use for the current part of the
// current object. A mount is a device record (TevMount is TevDevice)
// copied into the handle's mount list; the handle's current mount points
// at one of them. A FILE mount holds the part file's descriptor; STDIO and
// CLOUD mounts use the handle's filter; TAPE mounts the tape layer.
//
// Write: zarVolumeWriteMount opens the medium of the object's next part and
// writes its header; the part's data follows (zarWriteData); the unmount
// puts the part's size into the header and the detail row.
// Read: zarVolumeReadMount opens the handle's current part and checks its
// header; readZAR until it answers 0; zarUnmountVolume; the next part.
//
// Mounts run while their caller holds the catalog lock.
#pragma once

#include <cstddef>

#include "storage/catalog/smc_dev.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/volume_records.h"

// Part files are made with this mode (directories with 0770).
enum : int { TEV_PART_FILE_MODE = 0660 };

// Mounts the medium of the current object's next part on an idle device of
// the handle's write pool, HIGHEST devices first, then HIGH, then LOW
// (READ-ONLY devices never), and writes the part's header. A device whose
// mount fails with 3 ends the search with 3; one failing otherwise is
// passed over. 0 with a new current mount; 6 null handle; 5 a mount is
// current, or no transaction is open; 22 no current object; 19 no usable
// device (message 88035 with the pool name) or the device list cannot be
// read; 3; a code of the object information.
int zarVolumeWriteMount(zarHandle* handle);
// The write mounts of a FILE, STDIO and CLOUD device: the medium opened on
// the device record and the header written. 0, or a code (see the .cc).
int writemountfile(zarHandle* handle, TevDevice* device, TevObjectInfo* info);
int writeMountStdio(zarHandle* handle, TevDevice* device, TevObjectInfo* info);
int writeMountCloudStdio(zarHandle* handle, TevDevice* device, TevObjectInfo* info);

// A copy of the device record, busy, in the mount list; null for a null
// argument or no memory.
TevMount* addMountList(zarHandle* handle, TevDevice* device);
// Ends a mount (file closed, filter ended, tape rows idle) and takes it out
// of the list, freeing it. 0; 3 when a writing filter failed (the part is
// not stored); -1 for a null argument or a list failure.
int removeMountList(zarHandle* handle, TevMount* mount);
// Ends the current mount. 0 when nothing is mounted any more; 22 null
// handle; 3 when the part's size could not be recorded or its medium did
// not end cleanly.
int zarUnmountVolume(zarHandle* handle);

// Mounts the handle's current part of its current object and checks the
// part's header. 0; 6 null handle; 19 the object is being written; 17 no
// such part; 3 the header does not match (the medium is unmounted) or the
// medium cannot be opened; other codes of the catalog reads.
int zarVolumeReadMount(zarHandle* handle);
int readMountFile(zarHandle* handle, TevVolume* volume, const char* file_name,
                  TevObjectDetail* detail);
int readMountStdio(zarHandle* handle, TevVolume* volume, TevObjectInfo* info,
                   TevObjectDetail* detail);
// Reads the next bytes of the current part into the block, never more than
// the object's bytes still due: the count (0 at the end of the part), or a
// negative value.
long readZAR(zarHandle* handle, XbsaDataBlock* block);

// The object writer: writes one block of the current object's data to the
// current mount and counts it (object, part and volume bytes; the header
// of the part is to be rewritten). When the handle's write limit is not 0
// and the part has reached it, the part ends and the next one is mounted
// before the block is written (under the catalog lock, which the caller
// must not hold).
// 0; 22 null argument; 5 nothing mounted; 3 the medium failed; 109 the
// cloud client of a CLOUD part has ended (it refused or failed the
// upload); the code of the unmount or of the next mount.
int zarWriteData(zarHandle* handle, const void* data, size_t length);
