// Host and machine names, with the machine's TCP/IP domain.
#include <netdb.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/os_files.h"
#include "platform/accounts.h"
#include "platform/host_lookup.h"
#include "platform/last_error.h"
#include "platform/registry.h"

namespace {

constexpr uint32_t kDomainMax = 256;
constexpr size_t kHostNameSize = 1025;

// The REG_SZ value "Domain" of the TCP/IP parameters, read once; empty
// when missing or of another type.
const std::string& TcpipDomain() {
  static const std::string domain = [] {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                      0, KEY_READ, &key) != 0) {
      return std::string();
    }
    char value[kDomainMax + 1] = {};
    uint32_t size = kDomainMax, type = 0;
    bool ok = RegQueryValueExA(key, "Domain", nullptr, &type,
                               reinterpret_cast<unsigned char*>(value), &size) == 0 &&
              type == REG_SZ;
    RegCloseKey(key);
    return ok ? std::string(value, strnlen(value, size)) : std::string();
  }();
  return domain;
}

// Appends "." and the domain to a name without a dot, when the whole fits
// in `size` bytes with its terminator.
void AppendDomain(char* name, size_t size) {
  const std::string& domain = TcpipDomain();
  if (domain.empty() || strchr(name, '.') != nullptr) return;
  size_t len = strlen(name);
  if (len + 1 + domain.size() + 1 > size) return;
  name[len] = '.';
  memcpy(name + len + 1, domain.c_str(), domain.size() + 1);
}

char g_computer_name[18];

struct HostCopy {
  struct hostent entry;
  char name[kHostNameSize];
};
thread_local HostCopy t_host;

void SetSocketError(int32_t error) {
  tvp::SetLastSocketError(error);
  errno = error;
}

}  // namespace

char* os_computername(void) {
  std::string name = tvp::ComputerName();
  if (name.empty()) return nullptr;
  memcpy(g_computer_name, name.c_str(), name.size() + 1);
  return g_computer_name;
}

int32_t os_hostname(char* buf, int32_t size) {
  if (buf == nullptr || size <= 0) {
    errno = EFAULT;
    return -1;
  }
  if (gethostname(buf, static_cast<size_t>(size)) != 0 || memchr(buf, '\0', static_cast<size_t>(size)) == nullptr) {
    std::string name = tvp::ComputerName();
    if (name.empty() || name.size() >= static_cast<size_t>(size)) {
      buf[0] = '\0';
      errno = EFAULT;
      return -1;
    }
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    memcpy(buf, name.c_str(), name.size() + 1);
    return 0;
  }
  AppendDomain(buf, static_cast<size_t>(size));
  return 0;
}

struct hostent* os_gethostbyname(const char* name) {
  int32_t error = 0;
  struct hostent* h = tvp::HostByName(name, &error);
  if (h == nullptr) SetSocketError(error);
  return h;
}

struct servent* os_getservbyname(const char* name, const char* proto) {
  int32_t error = 0;
  struct servent* s = tvp::ServiceByName(name, proto, &error);
  if (s == nullptr) SetSocketError(error);
  return s;
}

struct hostent* os_gethostbyaddr(const char* addr, int32_t len, int32_t type) {
  int32_t error = 0;
  struct hostent* h =
      tvp::HostByAddr(addr, len < 0 ? 0 : static_cast<socklen_t>(len), type, &error);
  if (h == nullptr) {
    SetSocketError(error);
    return nullptr;
  }
  t_host.entry = *h;
  size_t n = strnlen(h->h_name, sizeof t_host.name - 1);
  memcpy(t_host.name, h->h_name, n);
  t_host.name[n] = '\0';
  AppendDomain(t_host.name, sizeof t_host.name);
  t_host.entry.h_name = t_host.name;
  return &t_host.entry;
}
