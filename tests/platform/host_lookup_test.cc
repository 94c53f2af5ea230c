#include "platform/host_lookup.h"

#include <arpa/inet.h>

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(HostLookupTest, ResolvesFromTheLocalDatabases) {
  int32_t error = -1;
  struct hostent* h = tvp::HostByName("localhost", &error);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(0, error);
  EXPECT_EQ(AF_INET, h->h_addrtype);
  EXPECT_EQ(4, h->h_length);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), *reinterpret_cast<const uint32_t*>(h->h_addr_list[0]));

  uint32_t loopback = htonl(INADDR_LOOPBACK);
  h = tvp::HostByAddr(&loopback, sizeof loopback, AF_INET, &error);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ("localhost", std::string(h->h_name));

  struct servent* s = tvp::ServiceByName("ssh", "tcp", &error);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(22, ntohs(static_cast<uint16_t>(s->s_port)));
  EXPECT_EQ(nullptr, tvp::ServiceByName("no-such-service-x", "tcp", &error));
  EXPECT_NE(0, error);
  EXPECT_EQ(nullptr, tvp::HostByName(nullptr, &error));
  EXPECT_EQ(87, error);
}

}  // namespace
