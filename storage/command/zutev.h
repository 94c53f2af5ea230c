// The zutev command: its entry, the option-letter dispatch and the small
// operations every command uses (usage texts, the yes/no prompt, the
// command-word table).
#pragma once

#include <cstdint>

struct zarHandle;
struct TevConfig;

// Command codes of the command words; a device LIST becomes one of the
// three LIST codes below in the device option parser.
enum : int32_t {
  ZUTEV_ADD = 0x1,
  ZUTEV_DEL = 0x2,
  ZUTEV_UPDATE = 0x4,
  ZUTEV_MOVE = 0x8,
  ZUTEV_COPY = 0x10,
  ZUTEV_CHECK = 0x20,
  ZUTEV_EXPORT = 0x40,
  ZUTEV_IMPORT = 0x80,
  ZUTEV_LIST = 0x200,
  ZUTEV_LIST_XML = 0x400,
  ZUTEV_FREE = 0x800,
  ZUTEV_LIST_UNLOAD = 0x1000,
  ZUTEV_LIST_LOAD = 0x2000,
  ZUTEV_DUMP = 0x4000,
  ZUTEV_INIT = 0x8000,
  ZUTEV_DETAIL = 0x10000,
  ZUTEV_UNLOCK = 0x20000,
  ZUTEV_SCAN = 0x40000,
  ZUTEV_PURGE = 0x80000,
};

// Option flags of the catalog letter (the object and pool letters use
// only the -y bit).
enum : int32_t {
  ZUTEV_OPT_D = 0x1,
  ZUTEV_OPT_N = 0x40,
  ZUTEV_OPT_Y = 0x80,
  ZUTEV_OPT_L = 0x100,
};

// The program name in the letter usages and the closing message.
inline constexpr char kZutevName[] = "zutev";
// Bytes of the joined command line written to the activity log.
inline constexpr int kZutevCmdLineSize = 2048;
// Arguments this long or longer end the joined command line.
inline constexpr int kZutevCmdLineArgMax = 1024;
// Longest pool name.
inline constexpr int kZutevPoolNameMax = 24;

// The pool record handed to the pool commands.
struct ZutevPoolRecord {
  int32_t pool_id;
  char name[25];
};

// Usage texts on standard error: 87000 with the program path as typed, and
// 87002..87005 for the catalog, device, object and pool letters.
void zutevUsage(const char* program);
void zutevUsageCatalog();
void zutevUsageDevice();
void zutevUsageObject();
void zutevUsagePool();

// Writes the question unchanged to standard error and reads one answer of
// at most 80 bytes from standard input: 1 for an answer that starts with
// "y" or "Y", else 0 (end of input and errors included).
int zutevConfirm(const char* question);

// The code of a command word, or -1. The word is upper-cased in place.
int32_t zutevCommandCode(char* word);

// The whole command: start-up, dispatch and end. Returns the command's
// result (not yet cut to an exit status).
int zutevMain(int argc, char** argv);

// Everything after the configuration load: the joined command line, the
// dispatch and the closing message. cfg is what zarGetConfig returned;
// null gives result 3.
int zutevRunLoaded(int argc, char** argv, TevConfig* cfg);

// The process exit status of a result: its low 8 bits, except that a
// non-zero result whose low 8 bits are 0 becomes 1.
int zutevExitStatus(int result);

// Joins the arguments, each followed by one blank, into out (size bytes,
// always terminated): joining stops before the first argument of
// kZutevCmdLineArgMax characters or more, and the text is cut where the
// buffer ends.
void zutevJoinCommandLine(int argc, char** argv, char* out, int size);
