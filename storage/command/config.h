// The storage manager's configuration: one process-wide record, filled by
// zarLoadConfig from built-in defaults, the server configuration file and
// the storage-manager configuration file under $TARVELONDIR/etc/, and the
// process environment, in that order (a later source wins).
//
// Configuration file format: one "KEY value" per line, the key (case
// matters) followed by "=" or white space; "#" starts a comment anywhere;
// lines of up to 2,047 characters; unknown keys are ignored. Path values
// that begin with "$TARVELONDIR/" are expanded.
#pragma once

#include <cstdint>

// Bits of setFlags: which log keys a configuration file or the environment
// set. The BAR_ bits are set by files only.
enum : int32_t {
  CFG_SET_TEV_ACT_LOG = 0x1,
  CFG_SET_TEV_DEBUG_LOG = 0x2,
  CFG_SET_TEV_DEBUG = 0x4,
  CFG_SET_BAR_ACT_LOG = 0x8,
  CFG_SET_BAR_DEBUG_LOG = 0x10,
  CFG_SET_BAR_DEBUG = 0x20,
};

// Catalog tables in the order of the table paths.
enum { CFG_TABLE_COUNT = 9 };
extern const char* const kConfigTableNames[CFG_TABLE_COUNT];

// Longest catalog directory taken, so that every table path fits.
constexpr int kCatalogDirMax = 960;

struct TevConfig {
  int64_t smId;              // the catalog's unique id (set by the catalog lock code)
  int32_t loaded;            // 1 once loading finished
  int32_t lockTimeout;       // one-second tries for the catalog lock
  int32_t setFlags;          // CFG_SET_* bits
  char* installDir;          // copy of TARVELONDIR
  char* serverConfigPath;    // installDir/etc/ + ZUCONFIG or "zuconfig"
  char* smConfigPath;        // installDir/etc/ + TEV_CONFIG or "tevconfig"
  char actLogPath[1025];
  char debugLogPath[1025];
  int32_t debugLevel;        // 0..9 (a negative setting stays negative); 0: no debug log
  int32_t traceThreshold;    // lowest level written to the debug log, 129..137
  int32_t writeLimit;        // MB written per volume before it counts as full; 0 none
  int32_t exportBufSize;
  int64_t actLogHandle;      // activity log, prefix tag and time stamp
  int64_t actContHandle;     // activity log, continuation tag, no time
  int64_t stderrHandle;      // standard error; -1 when not interactive
  int64_t stderrContHandle;  // standard error, continuation tag
  int64_t debugHandle;       // debug log; -1 while none is open
  int32_t xferBufSize;       // KB per data buffer
  char bsaLibPath[1025];
  char barActLog[1025];
  char barDebugLog[1025];
  int32_t barDebug;
  char rootFileDir[1025];    // directory in front of FILE part names; empty: none
  int32_t childWait;
  char dbsPoolName[25];
  char logPoolName[25];
  char extPoolName[25];
  int32_t dbsPoolId;
  int32_t logPoolId;
  int32_t extPoolId;
  char catalogDir[1025];
  char tablePaths[CFG_TABLE_COUNT][1025];
};

// The record, or null while it is not loaded.
TevConfig* zarGetConfig();

// Loads the record. Returns 0, or 4 (security start-up failed), 88131
// (TARVELONDIR not set or too long for the catalog paths), 88132..88134
// (no memory for the install directory or a configuration path), -1 (a log
// could not be set up for want of memory). With interactive set the
// standard-error handles are opened.
int zarLoadConfig(int interactive);

void zarConfigDefaults(TevConfig* cfg);
// 0, or -1 when the file cannot be opened.
int zarConfigReadFile(TevConfig* cfg, const char* path);
// 1 with the cursor moved to the value when the line holds the key, else 0.
int zarConfigKeyMatch(char** cursor, const char* key, int key_length);
// Rewrites "$TARVELONDIR/rest" in place as the install directory, "/" and
// the rest. 0, -3 (TARVELONDIR not set) or -210 (no separator right after
// the name, or longer than 128 characters); the value is unchanged on a
// failure.
int zarConfigExpandDir(char* value);
int zarConfigFromEnv(TevConfig* cfg);

struct zarHandle;
// Resolves the configured database-space and logical-log pool names to ids.
int zarLoadPoolsFromConfig(zarHandle* handle, TevConfig* cfg);
