// TypedList: the storage manager's singly linked list of owned element
// pointers. Every collection built at run time (handles, mounts, query
// results, object ids, a thread's trace files) is one of these.
//
// The element type code decides how two elements compare; the flags decide
// whether inserts keep the list ordered (ascending) and whether equal
// elements are refused. Every operation reports a ListStatus through its
// last argument and never fails on a null list. A list has no lock: each
// list is used by one thread.
#pragma once

#include <cstdint>

// Status codes reported by every list operation.
enum ListStatus : int32_t {
  LL_OK = 0,
  LL_NOMEM = 1,
  LL_NOCOMPARE = 2,   // ordered list of type 4 without a compare function
  LL_NOTFOUND = 3,
  LL_DUPLICATE = 4,   // equal element already in a unique list
  LL_EMPTY = 5,       // empty list, or no list at all
  LL_END = 7,         // ll_next past the last element
};

// Element type codes.
enum : int32_t {
  LL_TYPE_INT32 = 0,   // also 5
  LL_TYPE_FLOAT = 1,
  LL_TYPE_DOUBLE = 2,  // also 7
  LL_TYPE_TEXT = 3,
  LL_TYPE_CUSTOM = 4,  // the list's compare function
  LL_TYPE_INT32B = 5,
  LL_TYPE_INT64 = 6,
  LL_TYPE_DOUBLEB = 7,
};

// Flags; either bit makes inserts ordered.
enum : int32_t {
  LL_UNIQUE = 0x1,
  LL_SORTED = 0x2,
};

// The destroy callback receives the address of a variable holding the
// element (sm_free fits).
typedef void (*ListDestroyFn)(void** element);
// Compare function of type 4 lists: (element in the list, new element) ->
// negative, zero or positive, taken as it is.
typedef int (*ListCompareFn)(const void* a, const void* b);

struct ListNode {
  void* element;
  ListNode* next;
};

struct TypedList {
  int32_t type;
  ListDestroyFn destroy;
  ListCompareFn compare;  // used only for type 4
  int32_t flags;
  ListNode* head;
  ListNode* current;
};

// Makes a list, holding first_element when it is not null. Without a first
// element the empty list is returned with status 5.
TypedList* ll_create(void* first_element, int32_t type, ListDestroyFn destroy,
                     ListCompareFn compare, int32_t flags, int32_t* status);

// Inserts an element. Unordered lists insert after the current node; ordered
// lists keep ascending order (an element equal to the current one goes right
// after it, otherwise before the first equal one). In a unique list an equal
// element is refused: status 4, the element already there becomes current
// and is returned. Otherwise the new node becomes current.
void* ll_insert(TypedList* list, void* element, int32_t* status);

// Unlinks the node holding exactly this element pointer (null: the current
// element); the element itself is left alone. The successor (or, for the
// last node, the predecessor) becomes current and is returned.
void* ll_remove(TypedList* list, void* element, int32_t* status);

void* ll_first(TypedList* list, int32_t* status);
// Status 7 and null at the end; the current node stays where it was.
void* ll_next(TypedList* list, int32_t* status);
// Walks from the current node to the last.
void* ll_last(TypedList* list, int32_t* status);

// -1 when a is smaller than b, 0 when equal, 1 when greater (see the type
// codes above; an unordered float comparison gives 1).
int ll_compare(const void* a, const void* b, int32_t type, ListCompareFn compare);

// Frees every node and the list; with call_destroy set each element is first
// handed to the destroy callback. The variable becomes null.
void ll_destroy(TypedList** list, int call_destroy, int32_t* status);
