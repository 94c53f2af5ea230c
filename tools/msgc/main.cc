// msgc: the message compiler. Compiles message sources into a message file
// and dumps a message file back as source.
//
//   msgc [-o FILE] [--form short|long|auto] [--charset NAME] SOURCE...
//   msgc --check SOURCE...
//   msgc --dump FILE [--charset NAME]
//
// Exit status: 0 done, 1 refused (reasons on standard error), 2 bad usage.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/msgc/source_text.h"
#include "tools/msgc/vqm_file.h"

namespace {

constexpr size_t kMaxInput = 64u << 20;  // a message file or source is far smaller

int Usage() {
  std::fputs(
      "usage: msgc [-o FILE] [--form short|long|auto] [--charset NAME] SOURCE...\n"
      "       msgc --check SOURCE...\n"
      "       msgc --dump FILE [--charset NAME]\n",
      stderr);
  return 2;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

bool ReadFile(const std::string& path, std::string* out, std::string* error) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = path + ": " + std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    if (out->size() + static_cast<size_t>(n) > kMaxInput) {
      *error = path + ": larger than " + std::to_string(kMaxInput) + " bytes";
      return false;
    }
    out->append(buf, static_cast<size_t>(n));
  }
  return true;
}

// Writes the file through a temporary beside it and renames it into place,
// so that a failure never leaves a half-written message file.
bool WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes,
                     std::string* error) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    *error = tmp + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = tmp + ": " + std::strerror(errno);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
    *error = tmp + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = path + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

void PrintErrors(const std::vector<std::string>& errors) {
  for (const std::string& e : errors) std::fprintf(stderr, "msgc: %s\n", e.c_str());
}

bool ParseCharset(const std::string& v, msgc::Charset* c) {
  if (v == "ISO-8859-1" || v == "8859-1" || v == "latin1") *c = msgc::Charset::kLatin1;
  else if (v == "UTF-8" || v == "utf8") *c = msgc::Charset::kUtf8;
  else return false;
  return true;
}

int Dump(const std::string& path, msgc::Charset charset) {
  std::string data, error;
  if (!ReadFile(path, &data, &error)) {
    std::fprintf(stderr, "msgc: %s\n", error.c_str());
    return 1;
  }
  msgc::Catalog cat;
  msgc::Form form;
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  if (!msgc::ReadVqm(bytes, &form, &cat.messages, &error)) {
    std::fprintf(stderr, "msgc: %s: not a valid message file: %s\n", path.c_str(),
                 error.c_str());
    return 1;
  }
  size_t slash = path.rfind('/');
  cat.output = slash == std::string::npos ? path : path.substr(slash + 1);
  cat.form = form == msgc::Form::kShort ? msgc::FormChoice::kShort : msgc::FormChoice::kLong;
  cat.charset = charset;
  std::vector<std::string> warnings;
  std::string text = msgc::WriteSource(cat, &warnings);
  for (const std::string& w : warnings)
    std::fprintf(stderr, "msgc: %s: warning: %s\n", path.c_str(), w.c_str());
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout)) {
    std::fprintf(stderr, "msgc: cannot write the dump: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out, dump;
  bool check = false;
  msgc::Catalog cat;
  bool charset_given = false;
  std::vector<std::string> sources;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "-o") {
      if (!value(&out)) return Usage();
    } else if (a == "--dump") {
      if (!value(&dump)) return Usage();
    } else if (a == "--check") {
      check = true;
    } else if (a == "--form") {
      if (!value(&v)) return Usage();
      if (v == "short") cat.form = msgc::FormChoice::kShort;
      else if (v == "long") cat.form = msgc::FormChoice::kLong;
      else if (v == "auto") cat.form = msgc::FormChoice::kAuto;
      else return Usage();
    } else if (a == "--charset") {
      if (!value(&v) || !ParseCharset(v, &cat.charset)) return Usage();
      charset_given = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      sources.push_back(a);
    }
  }
  if (!dump.empty()) {
    if (!sources.empty() || check || !out.empty()) return Usage();
    return Dump(dump, charset_given ? cat.charset : msgc::Charset::kLatin1);
  }
  if (sources.empty()) return Usage();

  // Command-line choices hold over the sources' directives.
  const msgc::FormChoice cli_form = cat.form;
  const msgc::Charset cli_charset = cat.charset;
  cat.form = msgc::FormChoice::kUnset;
  cat.charset = cli_charset;
  std::vector<std::string> errors;
  for (const std::string& src : sources) {
    std::string text, error;
    if (!ReadFile(src, &text, &error)) {
      errors.push_back(error);
      continue;
    }
    msgc::ParseSource(text, src, &cat, &errors);
  }
  if (cli_form != msgc::FormChoice::kUnset) cat.form = cli_form;
  std::vector<uint8_t> bytes;
  if (errors.empty()) msgc::BuildVqm(cat, &bytes, &errors);
  if (!errors.empty()) {
    PrintErrors(errors);
    return 1;
  }
  if (check) return 0;
  if (out.empty()) out = cat.output;
  if (out.empty()) {
    std::fputs("msgc: no output file: give -o or @output\n", stderr);
    return 2;
  }
  std::string error;
  if (!WriteFileAtomic(out, bytes, &error)) {
    std::fprintf(stderr, "msgc: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
