// TAPE media: the blocking layer every TAPE transfer goes through, the
// volume label, the read mount of a TAPE volume with its operator protocol
// and the volume change at the end of a TAPE part.
//
// A TAPE medium is written and read in whole blocks of the device's block
// size; the mount's tape buffer holds at most one block (while writing the
// bytes not yet written as a whole block, while reading the bytes read and
// not yet delivered). A volume starts with an 80-byte label, "ZAR VOLID="
// and the volume id in decimal, zero-padded; the first object detail
// header follows it in the same blocked stream, and every header ends with
// its last block padded, so a part's data begins on a block boundary.
//
// The medium: a tape-control step with mode 2 opens the device's name
// read-only (a regular file serves as the tape) when it is not open yet,
// gives the record a buffer of one block, and rewinds. The medium and its
// buffer belong to the record that holds them; tapeReleaseMedium closes
// and frees them (the mount's end does so).
//
// Operator messages go to "/dev/console", or to the file the environment
// setting TEV_OPERATOR_CONSOLE names; the operator wait is 30 seconds, or
// the seconds TEV_OPERATOR_WAIT gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

// The TAPE label: the first bytes of a volume.
enum : int { TEV_TAPE_LABEL_SIZE = 80 };
struct TevTapeLabel {
  char text[TEV_TAPE_LABEL_SIZE + 1];
};

// Takes up to length bytes for the mount's medium: the count taken (fewer
// at the end of the medium, the volume's bytes free then 0), or a negative
// value.
long tape_write(TevMount* mount, const void* data, size_t length);
// Writes the partly filled last block padded with zero bytes. 0 (also
// with nothing buffered), or -1 on a short write.
int tape_FLUSH(TevMount* mount);
// Delivers up to length bytes: the count (fewer at the end of the data),
// or a negative value.
long tape_read(TevMount* mount, void* buffer, size_t length);
// Serves up to length bytes from the tape buffer: the count.
size_t tape_readBuffered(TevMount* mount, void* buffer, size_t length);
// Hands the mount's buffer and fill to the caller and gives the mount a
// fresh one-block buffer. 0; -1 when no buffer could be allocated.
int tape_saveBuffer(TevMount* mount, void** buffer, uint64_t* fill);
// Frees the mount's buffer and puts the given one in its place. 0.
int tape_restoreBuffer(TevMount* mount, void* buffer, uint64_t fill);

// The tape-control step: mode 2 opens the medium (see above) and rewinds;
// other modes do nothing. 0; -1 when the medium cannot be opened or has no
// block size.
int tapeControl(TevMount* mount, int mode);
// Closes the record's medium and frees its buffer (nothing when it has
// none).
void tapeReleaseMedium(TevMount* mount);

// Reads the label of the device's tape and the volume it names into the
// record's volume. 4 label read and its volume found; 3 the tape is empty;
// 2 no label or a bad one; 0 the tape cannot be read, the catalog has no
// such volume, or a null argument.
int readTapeLabel(zarHandle* handle, TevMount* device);
// Mounts the volume on a drive and makes it the current mount, asking the
// operator to mount it when no idle drive holds it. 0; 22; 3; 19.
int readMountTape(zarHandle* handle, TevVolume* volume);
// Stands the current TAPE mount at the header of the detail's part: the
// first header behind the label, or one at a later block boundary. 0 (the
// medium then stands at the part's first data byte); 3 none found before
// the end of the recorded data.
int tapeFindDetailHdr(zarHandle* handle, TevMount* mount, TevObjectDetail* detail);

// Writes the formatted text to the operator console. 0; 8 when the
// console cannot be opened.
int todoOperatorMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Waits for the operator; sets the retry flag. 0.
int todoWait(int* retry);

// The volume change at the end of a TAPE part whose volume is full. 0; 22
// for a null handle or no current mount; 19; the code of a failing unmount
// or write mount.
int tapeVolumeChange(zarHandle* handle);
