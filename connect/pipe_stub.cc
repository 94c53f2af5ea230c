// The pipe ("ipcpip") and named-pipe ("ipcnmp") drivers' tables: start and
// stop do nothing; every other operation answers -25592 until the drivers
// themselves are built.
#include "connect/driver.h"
#include "connect/asfutil.h"

namespace {

int InitNoop(AsfControlBlock*, AsfRequest*, int32_t, const char*) { return 0; }
int ShutdownNoop(AsfControlBlock*, AsfRequest*) { return 0; }
int Connect(AsfDriver*, AsfTransportRequest*, AsfControlBlock* cb) { return drv_unsupported(cb); }
int Listen(AsfDriver*, AsfTransportRequest*, int32_t, AsfControlBlock* cb) {
  return drv_unsupported(cb);
}
int Accept(AsfDriver*, AsfAssociation*, AsfAddressBlock**, AsfControlBlock* cb) {
  return drv_unsupported(cb);
}
int Data(AsfDriver*, AsfPacketBuffer*, AsfControlBlock* cb, AsfTransport*) {
  return drv_unsupported(cb);
}
int Recv(AsfDriver*, AsfPacketBuffer**, AsfControlBlock* cb, AsfTransport*) {
  return drv_unsupported(cb);
}
int Expedited(AsfDriver*, AsfPacketBuffer**, AsfControlBlock* cb) { return drv_unsupported(cb); }
int Close(AsfDriver* d, uint32_t, AsfControlBlock* cb) { return drv_free_buffers(d, cb); }
int Export(AsfDriver*, AsfArena*, int32_t* pair) {
  if (pair != nullptr) pair[0] = -25592;
  return -1;
}
int Import(AsfDriver*, AsfArena*, AsfControlBlock* cb) { return drv_unsupported(cb); }
int Descriptors(AsfDriver*, AsfTlAttribute*) { return -1; }
int Wait(AsfDriver*, int32_t, AsfControlBlock* cb, AsfTransport*) { return drv_unsupported(cb); }
int Resolve(const char*, AsfAddress*, AsfControlBlock* cb, AsfDriver*, int32_t) {
  return drv_unsupported(cb);
}
int Describe(const AsfAddress*, AsfAddressBlock**, AsfDriver*, AsfControlBlock* cb) {
  return drv_unsupported(cb);
}
int Reserved() { return 0; }
int ToNative(const AsfAddress*, void*) { return -1; }
int FromNative(const void*, AsfAddress*, int32_t) { return -1; }
int Options(AsfDriver*, int, uint32_t) { return 0; }
int Arm(AsfAssociation*, AsfDriver*) { return -1; }

const AsfDriverOps kPipeOps = {InitNoop, ShutdownNoop, Connect, Listen, Accept, Data, Recv, Data,
                               Expedited, Close, Export, Import, Descriptors, Wait, Resolve,
                               Describe, nullptr, nullptr, nullptr, nullptr, Arm, nullptr};
const AsfDriverOps kNamedPipeOps = {InitNoop, ShutdownNoop, Connect, Listen, Accept, Data, Recv,
                                    Data, Expedited, Close, Export, Import, Descriptors, Wait,
                                    Resolve, Describe, Reserved, ToNative, FromNative, Options,
                                    Arm, Reserved};

}  // namespace

TV_BEGIN_C

const AsfDriverOps* pipe_ops(void) { return &kPipeOps; }
const AsfDriverOps* namedpipe_ops(void) { return &kNamedPipeOps; }

int pipe_init(AsfControlBlock* cb, AsfRequest* r, int32_t id, const char* name) {
  return InitNoop(cb, r, id, name);
}
int pipe_shutdown(AsfControlBlock* cb, AsfRequest* r) { return ShutdownNoop(cb, r); }
int pipe_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb) {
  return Connect(d, tr, cb);
}
int pipe_listen(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb) {
  return Listen(d, tr, mode, cb);
}
int pipe_import(AsfDriver* d, AsfArena* arena, AsfControlBlock* cb) { return Import(d, arena, cb); }
int pipe_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver* d, int32_t r) {
  return Resolve(text, out, cb, d, r);
}
int pipe_describe_peer(const AsfAddress* peer, AsfAddressBlock** out, AsfDriver* d,
                       AsfControlBlock* cb) {
  return Describe(peer, out, d, cb);
}

TV_END_C
