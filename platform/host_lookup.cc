#include "platform/host_lookup.h"

#include <cerrno>
#include <vector>

#include "platform/win_errors.h"

namespace tvp {

namespace {

constexpr size_t kMaxBuffer = 1u << 20;

int32_t FromHerrno(int herr) {
  switch (herr) {
    case HOST_NOT_FOUND:
      return tvwin::kHostNotFound;
    case TRY_AGAIN:
      return tvwin::kTryAgain;
    case NO_RECOVERY:
      return tvwin::kNoRecovery;
    case NO_DATA:
      return tvwin::kNoData;
    default:
      return tvwin::kNoRecovery;
  }
}

struct HostSlot {
  struct hostent entry;
  std::vector<char> buf = std::vector<char>(1024);
};

// Runs a host look-up into `slot`, growing its buffer while the resolver
// asks for more room.
template <typename Call>
struct hostent* HostLookup(HostSlot* slot, Call call, int32_t* error) {
  for (;;) {
    struct hostent* found = nullptr;
    int herr = 0;
    int rc = call(&slot->entry, slot->buf.data(), slot->buf.size(), &found, &herr);
    if (rc == ERANGE && slot->buf.size() < kMaxBuffer) {
      slot->buf.resize(slot->buf.size() * 2);
      continue;
    }
    if (rc == 0 && found != nullptr) {
      if (error != nullptr) *error = 0;
      return found;
    }
    if (error != nullptr) *error = rc == ERANGE ? tvwin::kNotEnoughMemory : FromHerrno(herr);
    return nullptr;
  }
}

}  // namespace

struct hostent* HostByName(const char* name, int32_t* error) {
  if (name == nullptr) {
    if (error != nullptr) *error = tvwin::kInvalidParameter;
    return nullptr;
  }
  thread_local HostSlot slot;
  return HostLookup(
      &slot,
      [name](struct hostent* h, char* buf, size_t len, struct hostent** found, int* herr) {
        return gethostbyname_r(name, h, buf, len, found, herr);
      },
      error);
}

struct hostent* HostByAddr(const void* addr, socklen_t len, int type, int32_t* error) {
  if (addr == nullptr) {
    if (error != nullptr) *error = tvwin::kInvalidParameter;
    return nullptr;
  }
  thread_local HostSlot slot;
  return HostLookup(
      &slot,
      [=](struct hostent* h, char* buf, size_t size, struct hostent** found, int* herr) {
        return gethostbyaddr_r(addr, len, type, h, buf, size, found, herr);
      },
      error);
}

struct servent* ServiceByName(const char* name, const char* proto, int32_t* error) {
  if (name == nullptr) {
    if (error != nullptr) *error = tvwin::kInvalidParameter;
    return nullptr;
  }
  thread_local struct servent entry;
  thread_local std::vector<char> buf(1024);
  for (;;) {
    struct servent* found = nullptr;
    int rc = getservbyname_r(name, proto, &entry, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < kMaxBuffer) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc == 0 && found != nullptr) {
      if (error != nullptr) *error = 0;
      return found;
    }
    if (error != nullptr) *error = rc == ERANGE ? tvwin::kNotEnoughMemory : tvwin::kNoData;
    return nullptr;
  }
}

}  // namespace tvp
