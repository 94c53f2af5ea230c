// The socket driver of "soctcp" and "socssl": address resolution over IPv4
// and IPv6, connect with a time-out, listen and accept, socket options,
// data transfer and urgent-data interrupts.
#pragma once

#include <stdint.h>

#include "connect/asf_assoc.h"
#include "platform/api.h"

TV_BEGIN_C

// Driver record (32 bytes; also the driver's export block).
typedef struct TcpRecord {
  int32_t fd;             // 0
  int32_t unused[4];      // 4
  uint32_t option_bits;   // 20: given to accepted sockets (listener)
  void* tls;              // 24: the TLS session of "socssl"
} TcpRecord;

typedef struct TcpHostRecord {
  char name[256];
  uint16_t family;  // 2 or 23
  int32_t length;   // 4 or 16
  unsigned char addr[16];
  uint32_t scope_id;
} TcpHostRecord;

typedef struct TcpServiceRecord {
  char name[129];
  uint16_t port;  // network byte order
  char protocol[4];
} TcpServiceRecord;

int tcp_init(AsfControlBlock* cb, AsfRequest* init, int32_t protocol_id, const char* name);
int tcp_shutdown(AsfControlBlock* cb, AsfRequest* request);
int tcp_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb);
int tcp_listen(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb);
int tcp_accept(AsfDriver* listener, AsfAssociation* assoc, AsfAddressBlock** peer,
               AsfControlBlock* cb);
int tcp_send(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport* t);
int tcp_recv(AsfDriver* d, AsfPacketBuffer** buf, AsfControlBlock* cb, AsfTransport* t);
int tcp_interrupt(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport* t);
int tcp_expedited_buffer(AsfDriver* d, AsfPacketBuffer** buf, AsfControlBlock* cb);
int tcp_close(AsfDriver* d, uint32_t flags, AsfControlBlock* cb);
int tcp_export(AsfDriver* d, struct AsfArena* arena, int32_t* error_pair);
int tcp_import(AsfDriver* d, struct AsfArena* arena, AsfControlBlock* cb);
int tcp_descriptors(AsfDriver* d, AsfTlAttribute* request);
int tcp_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver* d,
                int32_t retry);
int tcp_describe_peer(const AsfAddress* peer, AsfAddressBlock** out, AsfDriver* d,
                      AsfControlBlock* cb);
int tcp_to_native(const AsfAddress* address, void* native);
int tcp_from_native(const void* native, AsfAddress* out, int32_t family);
int tcp_set_options(AsfDriver* d, int fd, uint32_t bits);
int tcp_arm_interrupt(AsfAssociation* assoc, AsfDriver* d);

uint32_t tcp_option_bits(const AsfServerOptions* options);
int tcp_same_host(const char* a, const char* b);
int tcp_same_address(const AsfSockAddr* a, const AsfSockAddr* b);
int tcp_ipv6_disabled(void);
int tcp_address_family(void);
void* tcp_sockaddr_alloc(void);
int tcp_sockaddr_size(void);
int tcp_sockaddr_len(int family);
int tcp_fill_any(void* native, int family, int wildcard, uint16_t port, int size);
int tcp_parse_numeric(const char* text, AsfSockAddr* out);
int tcp_numeric_text(int family, const void* addr, char* text, int size);
int tcp_service_lookup(const char* name, const char* protocol, TcpServiceRecord* out);
int tcp_forward_lookup(const char* name, TcpHostRecord* out, int* error, int family, int flags);
int tcp_reverse_lookup(const void* addr, int length, int family, uint32_t scope_id,
                       TcpHostRecord* out);
int tcp_lookup_host_retry(const char* name, TcpHostRecord* out, void* ignored, int family,
                          int flags);
int tcp_lookup_address(const void* addr, int length, int family, int word, TcpHostRecord* out);

// Connect attempts made by this thread's socket connects (both tries of
// one connect count).
int32_t tcp_connect_attempts(void);

TV_END_C
