#include "storage/command/typed_list.h"

#include <cstring>

#include "storage/command/sm_util.h"

namespace {

template <typename T>
int CompareNumbers(const void* a, const void* b) {
  T x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  if (x < y) return -1;
  if (x > y) return 1;
  if (x == y) return 0;
  return 1;  // unordered (NaN)
}

int Compare(const TypedList* list, const void* a, const void* b) {
  return ll_compare(a, b, list->type, list->compare);
}

ListNode* NewNode(void* element, int32_t* status) {
  auto* node = static_cast<ListNode*>(sm_zalloc(sizeof(ListNode)));
  if (node == nullptr) {
    *status = LL_NOMEM;
    return nullptr;
  }
  node->element = element;
  return node;
}

bool Ordered(const TypedList* list) { return (list->flags & (LL_UNIQUE | LL_SORTED)) != 0; }

}  // namespace

int ll_compare(const void* a, const void* b, int32_t type, ListCompareFn compare) {
  switch (type) {
    case LL_TYPE_INT32:
    case LL_TYPE_INT32B:
      return CompareNumbers<int32_t>(a, b);
    case LL_TYPE_FLOAT:
      return CompareNumbers<float>(a, b);
    case LL_TYPE_DOUBLE:
    case LL_TYPE_DOUBLEB:
      return CompareNumbers<double>(a, b);
    case LL_TYPE_INT64:
      return CompareNumbers<int64_t>(a, b);
    case LL_TYPE_TEXT: {
      int r = std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
      return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    case LL_TYPE_CUSTOM:
      return compare != nullptr ? compare(a, b) : 0;
    default:
      return 0;
  }
}

TypedList* ll_create(void* first_element, int32_t type, ListDestroyFn destroy,
                     ListCompareFn compare, int32_t flags, int32_t* status) {
  *status = LL_OK;
  auto* list = static_cast<TypedList*>(sm_zalloc(sizeof(TypedList)));
  if (list == nullptr) {
    *status = LL_NOMEM;
    return nullptr;
  }
  list->type = type;
  list->destroy = destroy;
  list->flags = flags;
  list->compare = type == LL_TYPE_CUSTOM ? compare : nullptr;
  if (type == LL_TYPE_CUSTOM && Ordered(list) && compare == nullptr) {
    sm_free(reinterpret_cast<void**>(&list));
    *status = LL_NOCOMPARE;
    return nullptr;
  }
  if (first_element == nullptr) {
    *status = LL_EMPTY;
    return list;
  }
  ListNode* node = NewNode(first_element, status);
  if (node == nullptr) {
    sm_free(reinterpret_cast<void**>(&list));
    return nullptr;
  }
  list->head = list->current = node;
  return list;
}

void* ll_insert(TypedList* list, void* element, int32_t* status) {
  if (list == nullptr) {
    *status = LL_EMPTY;
    return nullptr;
  }
  *status = LL_OK;
  ListNode* node = NewNode(element, status);
  if (node == nullptr) return nullptr;

  if (list->head == nullptr) {
    list->head = list->current = node;
    return element;
  }
  if (!Ordered(list)) {
    ListNode* at = list->current != nullptr ? list->current : list->head;
    node->next = at->next;
    at->next = node;
    list->current = node;
    return element;
  }

  // Find the first element not smaller than the new one, starting from the
  // current node when that lies before the place, else from the head.
  ListNode* prev = nullptr;  // last node passed over
  ListNode* stop;            // first node not smaller, or null at the end
  int c = list->current != nullptr ? Compare(list, list->current->element, element) : 1;
  if (c == 0) {
    prev = list->current;
    stop = list->current;
  } else {
    if (c < 0) {
      prev = list->current;
      stop = list->current->next;
    } else {
      stop = list->head;
    }
    while (stop != nullptr && Compare(list, stop->element, element) < 0) {
      prev = stop;
      stop = stop->next;
    }
  }

  if ((list->flags & LL_UNIQUE) && stop != nullptr && Compare(list, stop->element, element) == 0) {
    list->current = stop;
    sm_free(reinterpret_cast<void**>(&node));
    *status = LL_DUPLICATE;
    return stop->element;
  }
  if (prev == nullptr) {
    node->next = list->head;
    list->head = node;
  } else {
    node->next = prev->next;
    prev->next = node;
  }
  list->current = node;
  return element;
}

void* ll_remove(TypedList* list, void* element, int32_t* status) {
  if (list == nullptr || list->head == nullptr) {
    *status = LL_EMPTY;
    return nullptr;
  }
  if (element == nullptr) {
    if (list->current == nullptr) {
      *status = LL_NOTFOUND;
      return nullptr;
    }
    element = list->current->element;
  }
  ListNode* prev = nullptr;
  ListNode* node = list->head;
  while (node != nullptr && node->element != element) {
    prev = node;
    node = node->next;
  }
  if (node == nullptr) {
    *status = LL_NOTFOUND;
    return nullptr;
  }
  if (prev == nullptr) {
    list->head = node->next;
  } else {
    prev->next = node->next;
  }
  list->current = node->next != nullptr ? node->next : prev;
  sm_free(reinterpret_cast<void**>(&node));
  *status = LL_OK;
  return list->current != nullptr ? list->current->element : nullptr;
}

void* ll_first(TypedList* list, int32_t* status) {
  if (list == nullptr || list->head == nullptr) {
    *status = LL_EMPTY;
    return nullptr;
  }
  *status = LL_OK;
  list->current = list->head;
  return list->current->element;
}

void* ll_next(TypedList* list, int32_t* status) {
  if (list == nullptr || list->head == nullptr) {
    *status = LL_EMPTY;
    return nullptr;
  }
  ListNode* next = list->current != nullptr ? list->current->next : list->head;
  if (next == nullptr) {
    *status = LL_END;
    return nullptr;
  }
  *status = LL_OK;
  list->current = next;
  return next->element;
}

void* ll_last(TypedList* list, int32_t* status) {
  if (list == nullptr || list->head == nullptr) {
    *status = LL_EMPTY;
    return nullptr;
  }
  *status = LL_OK;
  ListNode* node = list->current != nullptr ? list->current : list->head;
  while (node->next != nullptr) node = node->next;
  list->current = node;
  return node->element;
}

void ll_destroy(TypedList** list, int call_destroy, int32_t* status) {
  if (list == nullptr || *list == nullptr) {
    *status = LL_EMPTY;
    return;
  }
  TypedList* l = *list;
  ListNode* node = l->head;
  while (node != nullptr) {
    ListNode* next = node->next;
    if (call_destroy && l->destroy != nullptr) {
      void* element = node->element;
      l->destroy(&element);
    }
    sm_free(reinterpret_cast<void**>(&node));
    node = next;
  }
  sm_free(reinterpret_cast<void**>(list));
  *status = LL_OK;
}
