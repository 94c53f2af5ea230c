// Host and service look-ups through the re-entrant resolver calls. Each
// result lives in storage of the calling thread and stays valid until that
// thread's next look-up of the same kind. Failures give the resolver's
// numbers of win_errors.h: 11001 host not found, 11002 try again,
// 11003 no recovery, 11004 no data; 8 no memory; 87 bad argument.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <cstdint>

namespace tvp {

struct hostent* HostByName(const char* name, int32_t* error);
struct hostent* HostByAddr(const void* addr, socklen_t len, int type, int32_t* error);
struct servent* ServiceByName(const char* name, const char* proto, int32_t* error);

}  // namespace tvp
