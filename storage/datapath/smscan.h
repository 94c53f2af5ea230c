// Device SCAN and PURGE: bringing the catalog and the parts stored on a
// FILE device back into line.
//
// SCAN walks the device's directory tree (entries in name order, so the
// parts of an object come part 1 first) and registers again every part
// whose object row or detail row is missing, from the object detail header
// at the start of its file; a part found on another volume than its header
// names gets the scanned volume's id in its header. Files that fail a check
// are reported and left as they are. PURGE walks the detail rows of the
// device's volume and removes from the catalog every object one of whose
// part files is gone, and every detail row whose object row is gone.
//
// Both run in the caller's session and transaction state: they neither
// take the catalog lock nor begin or end a transaction.
#pragma once

#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

// Scans the FILE device of that path. 17 when no volume has the path;
// 88002 no memory; else the result of zarDevicePathScan. The handle's
// current object is used for the scan and is cleared afterwards.
int zarDeviceScan(zarHandle* handle, const char* device_path);
// Scans one directory of the device and every directory below it. 3 when
// the directory cannot be listed; 88002; else the code of the last catalog
// step taken in this directory (0 when none failed).
int zarDevicePathScan(zarHandle* handle, TevVolume* volume, const char* directory);
// Removes from the catalog the objects of the device's volume whose part
// files are gone, and the detail rows without an object row. 0; the code
// of zarFindDeviceVolume; 19; -1; 88002; the code of a failing step.
int zarDevicePurge(zarHandle* handle, const char* device_path);
