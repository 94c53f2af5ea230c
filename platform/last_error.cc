#include "platform/last_error.h"

namespace tvp {

namespace {
thread_local uint32_t t_last_error = 0;
thread_local int t_last_socket_error = 0;
}  // namespace

uint32_t LastError() { return t_last_error; }
void SetLastError(uint32_t code) { t_last_error = code; }
int LastSocketError() { return t_last_socket_error; }
void SetLastSocketError(int code) { t_last_socket_error = code; }

}  // namespace tvp
