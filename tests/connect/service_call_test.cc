// The service call: request records, validation, initialisation, the
// association state table and its refusals.
#include <cstring>

#include "tests/connect/connect_fixture.h"

namespace {

using connect_test::EnsureLayer;
using connect_test::InitLayer;

// A bare association of the kind in the given state, named by cb.
AsfAssociation* NewAssociation(AsfControlBlock* cb, int32_t kind, int32_t state) {
  AsfAssociation* a = asf_assoc_new(cb, kind, nullptr);
  if (a == nullptr) return nullptr;
  a->state->kind = kind;
  a->state->state = state;
  cb->assoc = a;
  cb->mode = 1;
  return a;
}

// Runs first in this program: nothing has initialised the layer yet.
TEST(ServiceCallTest, RequestsBeforeInitAreRefused) {
  ASSERT_EQ(asf_global_get(), nullptr);
  AsfControlBlock cb{};
  AsfRequest r;
  asf_request_init(ASF_RESPOND, &r);
  EXPECT_EQ(asf_service_request(&cb, &r), -1);
  EXPECT_EQ(cb.error, -25547);
  EXPECT_STRNE(cb.file, "");
  EXPECT_NE(cb.line, 0);
}

TEST(ServiceCallTest, RequestInitZeroesExactlyTheBody) {
  // type, body bytes zeroed (-1: refused and left as it was)
  const struct { int type; int size; } cases[] = {
      {0, 112}, {1, 88},  {2, 56},  {3, 144}, {4, 88},  {5, 72},  {6, 24},  {7, 24},
      {8, 16},  {9, 24},  {10, 16}, {11, 16}, {12, 16}, {13, 16}, {14, 24}, {15, 24},
      {16, 16}, {17, 16}, {18, -1}, {19, -1}, {20, 56}, {21, 88}, {22, 88}, {23, -1},
  };
  for (const auto& c : cases) {
    unsigned char raw[sizeof(AsfRequest) + 16];
    std::memset(raw, 0xA5, sizeof raw);
    auto* r = reinterpret_cast<AsfRequest*>(raw);
    int rc = asf_request_init(c.type, r);
    const unsigned char* body = raw + 8;
    if (c.size < 0) {
      EXPECT_EQ(rc, -1) << c.type;
      for (size_t i = 0; i < sizeof raw; ++i) ASSERT_EQ(raw[i], 0xA5) << c.type << " byte " << i;
      continue;
    }
    EXPECT_EQ(rc, 0) << c.type;
    EXPECT_EQ(r->type, c.type);
    for (int i = 0; i < c.size; ++i) ASSERT_EQ(body[i], 0) << c.type << " byte " << i;
    for (size_t i = 8 + static_cast<size_t>(c.size); i < sizeof raw; ++i) {
      ASSERT_EQ(raw[i], 0xA5) << "guard byte " << i << " of type " << c.type;
    }
  }
}

TEST(ServiceCallTest, ValidationOfTheCall) {
  AsfRequest r;
  asf_request_init(ASF_SEND, &r);
  EXPECT_EQ(asf_service_request(nullptr, &r), -1);

  AsfControlBlock cb{};
  EXPECT_EQ(asf_service_request(&cb, nullptr), -1);
  EXPECT_EQ(cb.error, -25563);
  EXPECT_STREQ(cb.file, "asfapi.cc");
  EXPECT_GT(cb.line, 0);

  AsfControlBlock cb2{};
  r.type = 23;
  EXPECT_EQ(asf_service_request(&cb2, &r), -1);
  EXPECT_EQ(cb2.error, -25551);
}

TEST(ServiceCallTest, InitThenSimpleRequests) {
  AsfControlBlock cb{};
  ASSERT_EQ(InitLayer(&cb), 0) << cb.error << " " << cb.file << ":" << cb.line;
  EXPECT_EQ(cb.error, 0);
  EXPECT_EQ(cb.assoc, nullptr);
  ASSERT_NE(asf_global_get(), nullptr);

  AsfRequest r;
  r.type = 18;
  AsfControlBlock c18{};
  EXPECT_EQ(asf_service_request(&c18, &r), -1);
  EXPECT_EQ(c18.error, -25546);

  // An asynchronous reserved request runs synchronously and succeeds.
  asf_request_init(14, &r);
  AsfControlBlock c14{};
  c14.mode = 2;
  EXPECT_EQ(asf_service_request(&c14, &r), 0);
  EXPECT_EQ(c14.error, 0);
  EXPECT_EQ(c14.mode, 1);

  asf_request_init(ASF_ATTRIBUTE, &r);
  int32_t* setting = nullptr;
  r.body.attribute.code = 4;
  r.body.attribute.value = &setting;
  AsfControlBlock c4{};
  EXPECT_EQ(asf_service_request(&c4, &r), 0);
  ASSERT_NE(setting, nullptr);
  EXPECT_EQ(*setting, 10);

  // An interrupt keeps its asynchronous mode (and fails: no association).
  asf_request_init(ASF_INTERRUPT, &r);
  AsfControlBlock c8{};
  c8.mode = 2;
  EXPECT_EQ(asf_service_request(&c8, &r), -1);
  EXPECT_EQ(c8.mode, 2);
  EXPECT_EQ(c8.error, -25546);
}

// The consulted rows of the association state table, as the layer's
// documentation gives them: next state, or -1 for refused.
constexpr int kR = -1;
const struct { int type; int next[9]; } kTable[] = {
    {3, {2, kR, kR, kR, kR, kR, kR, kR, kR}},  {4, {2, kR, kR, kR, kR, kR, kR, kR, kR}},
    {5, {kR, kR, 1, kR, kR, kR, kR, kR, kR}},  {6, {kR, 1, 2, kR, kR, kR, kR, kR, kR}},
    {7, {kR, 1, 2, kR, kR, kR, kR, kR, kR}},   {8, {kR, 1, kR, kR, kR, kR, kR, kR, kR}},
    {9, {kR, 5, kR, kR, kR, kR, kR, kR, kR}},  {10, {kR, 4, 4, 4, kR, 4, kR, kR, 4}},
    {21, {2, kR, 2, kR, kR, kR, kR, kR, kR}},  {22, {2, kR, kR, kR, kR, kR, kR, kR, kR}},
};

TEST(ServiceCallTest, StateTableCells) {
  for (const auto& row : kTable) {
    for (int s = 0; s < 9; ++s) {
      const AsfStateCell* cell = asf_state_cell(row.type, s);
      ASSERT_NE(cell, nullptr);
      if (row.next[s] == kR) {
        EXPECT_EQ(cell->verdict, -1) << row.type << "/" << s;
        int expected = (s == 7 && (row.type == 9 || row.type == 10)) ? 8 : s;
        EXPECT_EQ(cell->next, expected) << row.type << "/" << s;
      } else {
        EXPECT_EQ(cell->verdict, 0) << row.type << "/" << s;
        EXPECT_EQ(cell->next, row.next[s]) << row.type << "/" << s;
      }
    }
  }
  // Rows that are never consulted allow everything and change nothing.
  for (int s = 0; s < 9; ++s) {
    EXPECT_EQ(asf_state_cell(12, s)->verdict, 0);
    EXPECT_EQ(asf_state_cell(12, s)->next, s);
  }
}

// Every refused cell of types 5 to 10, through the service call on a
// live association: -25598, and the state the table leaves.
TEST(ServiceCallTest, RefusedRequestsThroughTheCall) {
  EnsureLayer();
  for (const auto& row : kTable) {
    if (row.type < 5 || row.type > 10) continue;
    for (int s = 0; s < 9; ++s) {
      if (row.next[s] != kR) continue;
      AsfControlBlock cb{};
      AsfAssociation* a = NewAssociation(&cb, ASF_INITIATOR, s);
      ASSERT_NE(a, nullptr);
      AsfRequest r;
      asf_request_init(row.type, &r);
      EXPECT_EQ(asf_service_request(&cb, &r), -1) << row.type << "/" << s;
      EXPECT_EQ(cb.error, -25598) << row.type << "/" << s;
      ASSERT_EQ(cb.assoc, a);
      int expected = (s == 7 && (row.type == 9 || row.type == 10)) ? 8 : s;
      EXPECT_EQ(a->state->state, expected) << row.type << "/" << s;
      for (const AsfPendingSlot& slot : a->state->slots) EXPECT_EQ(slot.busy, 0);
      asf_assoc_destroy(a);
    }
  }
}

// Accepts reset the listener's state first, so any state is accepted on.
TEST(ServiceCallTest, AcceptsResetTheStateFirst) {
  EnsureLayer();
  for (int type : {ASF_ACCEPT, ASF_ACCEPT_SHARED}) {
    for (int s : {1, 5, 7, 8}) {
      AsfControlBlock cb{};
      AsfAssociation* a = NewAssociation(&cb, ASF_LISTENER, s);
      AsfRequest r;
      asf_request_init(type, &r);
      // The table lets it through; the accept itself is not available.
      EXPECT_EQ(asf_service_request(&cb, &r), -1);
      EXPECT_EQ(cb.error, -25546);
      EXPECT_EQ(a->state->state, 2) << type << "/" << s;
      asf_assoc_destroy(a);
    }
  }
}

TEST(ServiceCallTest, AttributesOnAnAssociation) {
  EnsureLayer();
  AsfControlBlock cb{};
  AsfAssociation* a = NewAssociation(&cb, ASF_INITIATOR, 0);
  AsfRequest r;
  asf_request_init(ASF_ATTRIBUTE, &r);
  uint32_t threaded = 0x10;
  r.body.attribute.code = 264;
  r.body.attribute.value = &threaded;
  ASSERT_EQ(asf_service_request(&cb, &r), 0);
  uint32_t* flags = nullptr;
  r.body.attribute.code = 8;
  r.body.attribute.value = &flags;
  ASSERT_EQ(asf_service_request(&cb, &r), 0);
  ASSERT_EQ(flags, &a->flags);
  EXPECT_EQ(*flags & 0x10u, 0x10u);
  // A threaded association still takes requests (its mutex is re-entrant).
  unsigned char area[2] = {7, 7};
  r.body.attribute.code = 272;
  r.body.attribute.value = area;
  ASSERT_EQ(asf_service_request(&cb, &r), 0);
  EXPECT_EQ(area[0], 0);
  EXPECT_EQ(area[1], 0);
  EXPECT_EQ(a->user, area);
  asf_assoc_destroy(a);
}

TEST(ServiceCallTest, GetBufferWithoutTransportFails) {
  EnsureLayer();
  AsfControlBlock cb{};
  AsfAssociation* a = NewAssociation(&cb, ASF_INITIATOR, 0);
  AsfRequest r;
  asf_request_init(ASF_GETBUFFER, &r);
  EXPECT_EQ(asf_service_request(&cb, &r), -1);
  EXPECT_EQ(cb.error, -25546);
  EXPECT_EQ(a->state->slots[ASF_SLOT_OUT].busy, 0);
  asf_assoc_destroy(a);
}

TEST(ServiceCallTest, IdleAbortAtOnceIsPerformedAndReadsAbortive) {
  EnsureLayer();
  AsfControlBlock cb{};
  unsigned char area[2] = {0, 0};
  AsfAssociation* a = asf_assoc_new(&cb, ASF_INITIATOR, nullptr);
  a->state->kind = ASF_INITIATOR;
  a->state->state = ASF_ST_ESTABLISHED;
  a->user = area;
  cb.assoc = a;
  AsfGlobal* g = asf_global_get();
  int32_t before = g->client_count;
  ASSERT_EQ(asf_list_insert(g->mutex, &g->clients, &g->client_count, a), 0);
  AsfRequest r;
  asf_request_init(ASF_ASSOCABORT, &r);
  r.body.flags.flags = 0x18000;
  EXPECT_EQ(asf_service_request(&cb, &r), 0);
  EXPECT_EQ(r.body.flags.flags, 0x8000u);
  EXPECT_EQ(cb.assoc, nullptr);  // performed in state 7 and freed
  EXPECT_EQ(g->client_count, before);
}

}  // namespace
