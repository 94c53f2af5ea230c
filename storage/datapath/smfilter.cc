// The filter library: control blocks, pipes, filter processes and filter
// threads, block transfer through the pipes, and the library's own trace.
//
// Who closes which pipe end:
//   create_filter  the child's two ends in the parent once a process runs
//   filter thread  the child's two ends (the ends it works on) when its
//                  main function has returned
//   destroy_filter the parent's two ends: first the end of the filter's
//                  direction (the filter sees the end of its input, or its
//                  writes break), then the other, so that neither a process
//                  blocked on its other pipe nor the wait can hang
// A thread never closes an end that the other side may still be using, so
// a descriptor number is never reused under a transfer.
#include "storage/datapath/smfilter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/temp_dir.h"
#include "storage/command/trace_file.h"

extern char** environ;

namespace {

FilterLibState g_state{};
// The calling thread's filter trace; -1 none.
thread_local int64_t t_filter_trace = -1;

constexpr int32_t kTraceCall = 136;
constexpr int32_t kTraceInfo = 135;
constexpr int32_t kTraceData = 133;
constexpr int32_t kTraceFail = 137;

uint32_t ThreadId() { return static_cast<uint32_t>(gettid()); }

void FilterTrace(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FilterTrace(int32_t level, const char* format, ...) {
  if (t_filter_trace < 0) return;
  TraceFile* file = find_trace_file(t_filter_trace);
  if (file == nullptr || level < file->level) return;  // nothing formatted below the threshold
  char text[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  trace_text(t_filter_trace, level, 0, text);
}

void Enter(const char* name) { FilterTrace(kTraceCall, "%s: enter", name); }
int Return(const char* name, int rc) {
  FilterTrace(kTraceCall, "%s: return %d (0x%02x)", name, rc, static_cast<unsigned>(rc));
  return rc;
}
// The transfer calls trace their entry and return only from level 2 on.
bool TraceTransfers() { return g_state.traceLevel >= 2; }

void SetLastError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetLastError(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(g_state.lastError, sizeof g_state.lastError, format, ap);
  va_end(ap);
}

int Direction(int32_t type) {
  return type == FILTER_PROCESS_THREAD_WRITE || type == FILTER_PROCESS_WRITE ||
                 type == FILTER_THREAD_WRITE
             ? 1
             : 2;
}
bool HasProcess(int32_t type) { return type >= 1 && type <= 4; }
bool HasThread(int32_t type) { return type == 1 || type == 2 || type == 5 || type == 6; }

FilterControlBlock* TakenBlock(int32_t filter_id) {
  if (g_state.marker != FILTER_LIB_MARKER || filter_id < 0 || filter_id >= FILTER_MAX) {
    return nullptr;
  }
  FilterControlBlock* cb = &g_state.controlBlocks[filter_id];
  return cb->filterId == filter_id ? cb : nullptr;
}

void ResetBlock(FilterControlBlock* cb) {
  *cb = FilterControlBlock{};
  cb->filterId = -1;
  cb->childInputRead = cb->parentOutputWrite = cb->parentInputRead = cb->childOutputWrite = -1;
}

void ReleaseBlock(FilterControlBlock* cb) {
  ResetBlock(cb);
  --g_state.filtersInUse;
}

// Moves a descriptor above the standard three, so that placing the child's
// ends on 0 and 1 can never overwrite one with the other.
bool AboveStandard(int* fd) {
  if (*fd > STDERR_FILENO) return true;
  int moved = fcntl(*fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return false;
  close(*fd);
  *fd = moved;
  return true;
}

// A close-on-exec pipe of (at best) the given size: read end, write end.
bool MakePipe(size_t size, int32_t* read_end, int32_t* write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  if (!AboveStandard(&fds[0]) || !AboveStandard(&fds[1])) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  // Above the unprivileged limit the kernel refuses, and the pipe would
  // keep its 64 KB: the largest size allowed is asked for then. The
  // transfers loop, so a smaller pipe costs only speed.
  if (size > 0 && size <= 0x7FFFFFFF &&
      fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(size)) < 0 && errno == EPERM) {
    long limit = 0;
    if (FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "re")) {
      if (std::fscanf(f, "%ld", &limit) != 1) limit = 0;
      std::fclose(f);
    }
    if (limit > 0 && static_cast<size_t>(limit) < size) {
      fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(limit));
    }
  }
  *read_end = fds[0];
  *write_end = fds[1];
  return true;
}

// Splits a command line into words: blanks and tabs separate, double
// quotes group (and are removed). False when no word is left.
bool SplitCommandLine(const char* line, std::vector<std::string>* words) {
  std::string word;
  bool in_word = false, quoted = false;
  for (const char* p = line; *p != '\0'; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((*p == ' ' || *p == '\t') && !quoted) {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += *p;
      in_word = true;
    }
  }
  if (in_word) words->push_back(word);
  return !words->empty();
}

// Starts the command line with the child's ends as standard input and
// output, standard error the command's own when tracing, else /dev/null.
// The errno of the failure, or 0 with the process id.
int SpawnProcess(const FilterControlBlock* cb, const std::vector<std::string>& words, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  int rc = posix_spawn_file_actions_init(&actions);
  if (rc != 0) return rc;
  rc = posix_spawnattr_init(&attr);
  if (rc != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return rc;
  }
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&empty);
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, cb->childInputRead, STDIN_FILENO);
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, cb->childOutputWrite, STDOUT_FILENO);
  // Nothing else: a descriptor this process inherited without close-on-exec
  // does not reach the device program either.
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  if (rc == 0 && g_state.traceLevel <= 0) {
    // Never a closed descriptor 2: the child's next open would take it.
    rc = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  if (rc == 0) {
    rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                             POSIX_SPAWN_SETSIGMASK);
  }
  if (rc == 0) rc = posix_spawnattr_setpgroup(&attr, 0);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &empty);
  if (rc == 0) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    rc = posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ);
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

// What create_filter hands to a new filter thread; the thread frees it.
struct FilterThreadStart {
  int32_t filterId;
  int32_t direction;
  FilterMain main;
  void* argument;
};

void TraceStatistics(const FilterControlBlock* cb, const char* who, bool written) {
  if (written) {
    FilterTrace(kTraceInfo,
                "Filter statistics for filter ID (%s) = %d\n"
                "\t\tTotal bytes written to filter = %ld\n"
                "\t\tTotal blocks written to filter = %d\n",
                who, cb->filterId, static_cast<long>(cb->bytesWritten),
                static_cast<int>(cb->blocksWritten));
  } else {
    FilterTrace(kTraceInfo,
                "Filter statistics for filter ID (%s) = %d\n"
                "\t\tTotal bytes read from filter   = %ld\n"
                "\t\tTotal blocks read from filter  = %d",
                who, cb->filterId, static_cast<long>(cb->bytesRead),
                static_cast<int>(cb->blocksRead));
  }
}

void* thread_init_function(void* start_record) {
  auto* start = static_cast<FilterThreadStart*>(start_record);
  FilterControlBlock* cb = &g_state.controlBlocks[start->filterId];
  // The parent waits for the id before it goes on.
  std::atomic_ref<uint32_t> published(cb->threadId);
  published.store(ThreadId());
  published.notify_all();

  char tag[64];
  std::snprintf(tag, sizeof tag, "%d filter TAPEIO", static_cast<int>(ThreadId()));
  reset_filter_trace(tag);
  FilterTrace(kTraceInfo, "%s: process %d will be the device I/O child.", "thread_init_function",
              static_cast<int>(getpid()));
  cb->result = start->main(start->filterId, start->argument);
  // The thread's own ends only; the parent's ends are the parent's.
  close_pipe_end(&cb->childInputRead);
  close_pipe_end(&cb->childOutputWrite);
  if (g_state.traceLevel >= 3) TraceStatistics(cb, "device I/O child", start->direction != 2);
  std::free(start);
  Return("thread_init_function", 0);
  // The thread's trace file is its own; it goes with the thread.
  close_trace_file(t_filter_trace);
  t_filter_trace = -1;
  return nullptr;
}

// One write of the whole block on a pipe end: 0, 109, or -1.
int WriteBlock(const char* name, FilterControlBlock* cb, int32_t fd, const void* data,
               size_t length) {
  const bool traced = TraceTransfers();
  if (traced) Enter(name);
  if (length == 0) return traced ? Return(name, 0) : 0;
  const auto* p = static_cast<const unsigned char*>(data);
  size_t done = 0;
  int err = 0;
  // A write into a pipe ends early only when a signal interrupts it; the
  // rest follows, so the block goes whole.
  while (done < length) {
    ssize_t n = write(fd, p + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      err = n < 0 ? errno : EIO;
      break;
    }
  }
  int rc = 0;
  if (err == EPIPE) {
    FilterTrace(kTraceInfo, "%s: received broken pipe.", name);
    rc = FILTER_BROKEN_PIPE;
  } else if (err != 0) {
    SetLastError("Write failed on parent's output pipe. System error = %d.", err);
    FilterTrace(kTraceFail, "%s: %s.", name, g_state.lastError);
    FilterTrace(kTraceFail, "%s: Error writing to handle/fd %d located at 0x%x.", name,
                static_cast<int>(fd),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(&cb->parentOutputWrite)));
    return traced ? Return(name, -1) : -1;
  }
  cb->bytesWritten += length;
  cb->blocksWritten += 1;
  return traced ? Return(name, rc) : rc;
}

// Reads until the buffer is full or the data ends: 0 with the count, or -1.
int ReadBlock(const char* name, FilterControlBlock* cb, int32_t fd, void* buffer, size_t length,
              size_t* count) {
  const bool traced = TraceTransfers();
  if (traced) Enter(name);
  auto* p = static_cast<unsigned char*>(buffer);
  size_t got = 0;
  if (cb->pushbackCount > 0 && length > 0) {
    size_t n = cb->pushbackCount < length ? cb->pushbackCount : length;
    std::memcpy(p, cb->pushback, n);
    std::memmove(cb->pushback, cb->pushback + n, cb->pushbackCount - n);
    cb->pushbackCount -= static_cast<uint32_t>(n);
    got = n;
  }
  while (got < length) {
    ssize_t n = read(fd, p + got, length - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno == EPIPE) {
      FilterTrace(kTraceData, "%s: received broken pipe.", name);
      break;
    }
    FilterTrace(kTraceData, "%s: Read failed on pipe (handle=%d, System error = %d).", name,
                static_cast<int>(fd), errno);
    return traced ? Return(name, -1) : -1;
  }
  *count = got;
  if (traced) FilterTrace(kTraceData, "%s: read %d bytes", name, static_cast<int>(got));
  cb->bytesRead += got;
  cb->blocksRead += 1;
  return traced ? Return(name, 0) : 0;
}

// The status file of a filter: its recorded result, for the operator.
void WriteStatusFile(const FilterControlBlock* cb) {
  std::string dir = tvp::TempDir();
  if (dir.size() >= 128) return;
  char path[256];
  std::snprintf(path, sizeof path, "%ss3_status.%d.%d", dir.c_str(), static_cast<int>(getpid()),
                static_cast<int>(cb->threadId));
  FilterTrace(kTraceInfo, "Writing status file %s ", path);
  FILE* f = std::fopen(path, "we");
  if (f == nullptr) return;
  std::fprintf(f, "%d", static_cast<int>(cb->result));
  std::fclose(f);
  FilterTrace(kTraceInfo, "WRITING STATUS %d ", static_cast<int>(cb->result));
}

}  // namespace

int filterlib_init() {
  if (g_state.marker == FILTER_LIB_MARKER) return 0;
  Enter("filterlib_init");
  g_state = FilterLibState{};
  g_state.controlBlocks =
      static_cast<FilterControlBlock*>(std::calloc(FILTER_MAX, sizeof(FilterControlBlock)));
  if (g_state.controlBlocks == nullptr) {
    SetLastError("%s: Cannot allocate memory for filter array.", "filterlib_init");
    FilterTrace(kTraceCall, "%s", g_state.lastError);
    return Return("filterlib_init", -1);
  }
  for (int i = 0; i < FILTER_MAX; ++i) ResetBlock(&g_state.controlBlocks[i]);
  // A write into a closed pipe must answer EPIPE, not end the process.
  signal(SIGPIPE, SIG_IGN);
  g_state.marker = FILTER_LIB_MARKER;
  return Return("filterlib_init", 0);
}

int start_filter_trace(const char* path, int32_t level) {
  if (path == nullptr || std::strlen(path) >= sizeof g_state.traceFile) return -1;
  char tag[64];
  std::snprintf(tag, sizeof tag, "%d filter       ", static_cast<int>(ThreadId()));
  if (filterlib_init() != 0) return -1;
  int32_t threshold = 138 - level;
  if (threshold < 129) threshold = 129;
  if (threshold > 137) threshold = 137;
  // Every mount starts the trace again: a thread keeps one open file per
  // path rather than one per mount.
  TraceFile* open = t_filter_trace >= 0 ? find_trace_file(t_filter_trace) : nullptr;
  if (open != nullptr && std::strcmp(open->name, path) == 0) {
    set_trace_level(t_filter_trace, threshold);
  } else if (open_trace_file(path, threshold, &t_filter_trace, tag, 1) != 0) {
    t_filter_trace = -1;
    return -1;
  }
  g_state.traceLevel = level;
  std::snprintf(g_state.traceFile, sizeof g_state.traceFile, "%s", path);
  FilterTrace(kTraceInfo, "start_filter_trace: started filter in '%s', fd/handle = %d", path,
              static_cast<int>(t_filter_trace));
  return 0;
}

int reset_filter_trace(const char* tag) {
  if (filterlib_init() != 0) return -1;
  if (g_state.traceLevel == 0) return 0;
  int32_t threshold = 138 - g_state.traceLevel;
  if (threshold < 129) threshold = 129;
  if (threshold > 137) threshold = 137;
  if (open_trace_file(g_state.traceFile, threshold, &t_filter_trace, tag, 1) != 0) {
    t_filter_trace = -1;
    return -1;
  }
  FilterTrace(kTraceInfo, "reset_filter_trace: Reset filter in '%s', fd/handle = %d",
              g_state.traceFile, static_cast<int>(t_filter_trace));
  return 0;
}

FilterControlBlock* get_empty_filtercb() {
  Enter("get_empty_filtercb");
  if (g_state.filtersInUse >= FILTER_MAX) {
    FilterTrace(kTraceCall, "%s: Amount of filters (%d) exceeded maximum allowed.",
                "get_empty_filtercb", static_cast<int>(g_state.filtersInUse));
    Return("get_empty_filtercb", -1);
    return nullptr;
  }
  for (int i = 0; i < FILTER_MAX; ++i) {
    FilterControlBlock* cb = &g_state.controlBlocks[i];
    if (cb->filterId != -1) continue;
    cb->filterId = i;
    ++g_state.filtersInUse;
    Return("get_empty_filtercb", 0);
    return cb;
  }
  Return("get_empty_filtercb", -1);
  return nullptr;
}

int create_filter(int32_t type, size_t pipe_size, const char* command_line, FilterMain main,
                  void* argument, int32_t* filter_id) {
  static const char kName[] = "create_filter";
  if (filter_id != nullptr) *filter_id = -1;
  if (filterlib_init() != 0) return -1;
  Enter(kName);
  FilterControlBlock* cb = nullptr;
  auto fail = [&](void) {
    FilterTrace(kTraceFail, "%s: %s", kName, g_state.lastError);
    if (cb != nullptr) {
      // Give back what was taken, so a failure costs no filter slot; a
      // process already started sees its pipes close and is reaped.
      close_pipe_end(&cb->childInputRead);
      close_pipe_end(&cb->parentOutputWrite);
      close_pipe_end(&cb->parentInputRead);
      close_pipe_end(&cb->childOutputWrite);
      if (cb->processId > 0) wait_for_filter_exit(cb->filterId);
      ReleaseBlock(cb);
    }
    if (filter_id != nullptr) *filter_id = -1;
    return Return(kName, -1);
  };

  if (filter_id == nullptr || type < 1 || type > 6) {
    SetLastError("Invalid filter request (type %d).", static_cast<int>(type));
    return fail();
  }
  if ((type == 1 || type == 2) && main == nullptr) {
    SetLastError("Main function pointer for TAPE I/O child cannot be NULL.");
    return fail();
  }
  if (HasThread(type) && main == nullptr) {
    SetLastError("Thread creation for reading from filter failed.\n");
    return fail();
  }
  std::vector<std::string> words;
  if (HasProcess(type)) {
    // A longer line would be cut and run another command.
    const char* shown = command_line != nullptr ? command_line : "";
    if (command_line == nullptr || std::strlen(command_line) > FILTER_CMDLINE_MAX ||
        !SplitCommandLine(command_line, &words)) {
      SetLastError("Could not start the filter process '%s'.\n", shown);
      return fail();
    }
  }
  cb = get_empty_filtercb();
  if (cb == nullptr) {
    SetLastError("Cannot get a new filter control block.");
    return fail();
  }
  *filter_id = cb->filterId;
  cb->filterType = type;

  std::fflush(stdout);
  std::fflush(stderr);
  if (!MakePipe(pipe_size, &cb->parentInputRead, &cb->childOutputWrite)) {
    SetLastError("Cannot create the read pipe");
    return fail();
  }
  if (!MakePipe(pipe_size, &cb->childInputRead, &cb->parentOutputWrite)) {
    SetLastError("Cannot create the write pipe");
    return fail();
  }
  FilterTrace(kTraceInfo, "%s: writepipe handles. Read: %d, Write: %d", kName,
              static_cast<int>(cb->childInputRead), static_cast<int>(cb->parentOutputWrite));
  FilterTrace(kTraceInfo, "%s: readpipe  handles. Read: %d, Write: %d", kName,
              static_cast<int>(cb->parentInputRead), static_cast<int>(cb->childOutputWrite));

  if (HasProcess(type)) {
    pid_t pid = 0;
    int err = SpawnProcess(cb, words, &pid);
    if (err != 0) {
      SetLastError("Could not start the filter process '%s'.\n", command_line);
      return fail();
    }
    cb->processId = pid;
    if (close_pipe_end(&cb->childInputRead) != 0) {
      SetLastError("Close failed on read end of parent's output pipe.");
      FilterTrace(kTraceFail, "%s: %s", kName, g_state.lastError);
    }
    if (close_pipe_end(&cb->childOutputWrite) != 0) {
      SetLastError("Close failed on write end of parent's input pipe.");
      FilterTrace(kTraceFail, "%s: %s", kName, g_state.lastError);
    }
  }
  if (HasThread(type)) {
    auto* start = static_cast<FilterThreadStart*>(std::malloc(sizeof(FilterThreadStart)));
    if (start == nullptr) {
      SetLastError("Cannot malloc the argument structure to spawn the child thread.");
      return fail();
    }
    *start = FilterThreadStart{cb->filterId, Direction(type), main, argument};
    if (pthread_create(&cb->threadHandle, nullptr, thread_init_function, start) != 0) {
      std::free(start);
      SetLastError("Thread creation for reading from filter failed.\n");
      return fail();
    }
    cb->hasThread = 1;
    std::atomic_ref<uint32_t>(cb->threadId).wait(0);
  }
  if (type == 1 || type == 2) {
    FilterTrace(kTraceInfo,
                "%s: Process list:\n\tPARENT PID: %d, TID: %d\n\tFILTER TID: %d\n\tTAPEIO PID: "
                "%d, TID: %d",
                kName, static_cast<int>(getpid()), static_cast<int>(ThreadId()),
                static_cast<int>(cb->threadId), static_cast<int>(getpid()),
                static_cast<int>(cb->threadId));
  } else {
    FilterTrace(kTraceInfo, "%s: Process list:\n\tPARENT PID: %d, TID: %d\n\tFILTER TID: %d\n",
                kName, static_cast<int>(getpid()), static_cast<int>(ThreadId()),
                static_cast<int>(cb->threadId));
  }
  return Return(kName, 0);
}

int write_to_filter(int32_t filter_id, const void* data, size_t length) {
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr || (data == nullptr && length > 0)) return -1;
  return WriteBlock("write_to_filter", cb, cb->parentOutputWrite, data, length);
}

int write_to_parent(int32_t filter_id, const void* data, size_t length) {
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr || (data == nullptr && length > 0)) return -1;
  return WriteBlock("write_to_parent", cb, cb->childOutputWrite, data, length);
}

int read_from_filter(int32_t filter_id, void* buffer, size_t length, size_t* count) {
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr || count == nullptr || (buffer == nullptr && length > 0)) return -1;
  return ReadBlock("read_from_filter", cb, cb->parentInputRead, buffer, length, count);
}

int read_from_parent(int32_t filter_id, void* buffer, size_t length, size_t* count) {
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr || count == nullptr || (buffer == nullptr && length > 0)) return -1;
  return ReadBlock("read_from_parent", cb, cb->childInputRead, buffer, length, count);
}

int unread_from_filter(int32_t filter_id, const void* data, size_t length) {
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr || (data == nullptr && length > 0) ||
      length > FILTER_PUSHBACK_MAX - cb->pushbackCount) {
    return -1;
  }
  std::memmove(cb->pushback + length, cb->pushback, cb->pushbackCount);
  std::memcpy(cb->pushback, data, length);
  cb->pushbackCount += static_cast<uint32_t>(length);
  return 0;
}

int close_pipe_end(int32_t* pipe_end) {
  FilterTrace(kTraceInfo, "%s: handle address: 0x%x, handle value = %d, ", "close_pipe_end",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(pipe_end)),
              pipe_end != nullptr ? static_cast<int>(*pipe_end) : -1);
  if (pipe_end == nullptr || *pipe_end == -1) return 0;
  int fd = *pipe_end;
  *pipe_end = -1;
  // A close that a signal interrupts has still released the descriptor.
  if (close(fd) != 0 && errno != EINTR) {
    FilterTrace(kTraceInfo, "%s: Closing the pipe failed, FD=%d, errno = %d", "close_pipe_end", fd,
                errno);
    return -1;
  }
  return 0;
}

void wait_for_filter_exit(int32_t filter_id) {
  Enter("wait_for_filter_exit");
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr) {
    Return("wait_for_filter_exit", 0);
    return;
  }
  int32_t thread_result = 0;
  if (cb->hasThread) {
    int err = pthread_join(cb->threadHandle, nullptr);
    if (err != 0) {
      FilterTrace(kTraceFail, "WaitForSingleObject returned %d , Sytem error = %d\n", -1, err);
    }
    cb->hasThread = 0;
    thread_result = cb->result;
  }
  if (cb->processId > 0) {
    int status = 0;
    pid_t r;
    do {
      r = waitpid(cb->processId, &status, 0);
    } while (r < 0 && errno == EINTR);
    int32_t exit_result = -1;
    if (r == cb->processId) {
      exit_result = WIFEXITED(status) ? WEXITSTATUS(status)
                    : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                          : -1;
    }
    FilterTrace(kTraceInfo, "%s: filter process %d ended with %d", "wait_for_filter_exit",
                static_cast<int>(cb->processId), static_cast<int>(exit_result));
    cb->processId = 0;
    // A failing process outweighs a succeeding thread beside it.
    cb->result = exit_result != 0 ? exit_result : thread_result;
  }
  Return("wait_for_filter_exit", 0);
}

int destroy_filter(int32_t filter_id) {
  static const char kName[] = "destroy_filter";
  Enter(kName);
  FilterControlBlock* cb = TakenBlock(filter_id);
  if (cb == nullptr) return Return(kName, -1);
  const int direction = Direction(cb->filterType);
  if (direction == 1) {
    FilterTrace(kTraceCall, "Closing WRITE[WRITE] pipe.");
    close_pipe_end(&cb->parentOutputWrite);
    close_pipe_end(&cb->parentInputRead);
  } else {
    FilterTrace(kTraceCall, "Closing READ[READ] pipe.");
    close_pipe_end(&cb->parentInputRead);
    close_pipe_end(&cb->parentOutputWrite);
  }
  wait_for_filter_exit(filter_id);
  // The thread has ended; any end it left open is closed here.
  close_pipe_end(&cb->childInputRead);
  close_pipe_end(&cb->childOutputWrite);
  if (g_state.traceLevel >= 3) {
    TraceStatistics(cb, "Parent", direction == 1);
    WriteStatusFile(cb);
  }
  int rc = 0;
  if (direction == 1 && cb->result != 0) {
    FilterTrace(kTraceFail, "%s: filter %d failed with %d", kName, static_cast<int>(filter_id),
                static_cast<int>(cb->result));
    rc = -1;
  }
  ReleaseBlock(cb);
  return Return(kName, rc);
}

FilterControlBlock* get_filtercb(int32_t filter_id) {
  if (filterlib_init() != 0 || filter_id < 0 || filter_id >= FILTER_MAX) return nullptr;
  return &g_state.controlBlocks[filter_id];
}

const char* get_filter_errmsg() { return g_state.lastError; }

const FilterLibState* filter_lib_state() { return &g_state; }
