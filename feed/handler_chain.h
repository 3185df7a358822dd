// HandlerChain: the list-building shared by the handler list's node and
// port reads and clears. Handlers are linked in file order through their
// `next_` and `prev_` fields; the chain gives them an index array and
// deletes them all.
//
// Owns nothing itself: the handler list takes over what a chain built (and
// hands a chain's head back to destroy). Host's thread only, like the list.
#pragma once

#include <cstdint>

namespace kw {

template <typename Handler>
class HandlerChain {
 public:
  // Links `handler` after the last one.
  void append(Handler* handler) {
    handler->prev_ = tail_;
    if (tail_ != nullptr) {
      tail_->next_ = handler;
    } else {
      head_ = handler;
    }
    tail_ = handler;
    ++count_;
  }

  Handler* head() const { return head_; }
  uint32_t count() const { return count_; }

  // A new array of the `count` handlers from `head` in chain order, for
  // look-ups by index; the caller frees it with delete[].
  static Handler** indexOf(Handler* head, uint32_t count) {
    Handler** byIndex = new Handler*[count];
    uint32_t j = 0;
    for (Handler* handler = head; handler != nullptr && j < count; handler = handler->next_) {
      byIndex[j++] = handler;
    }
    return byIndex;
  }

  // Deletes every handler from `head` on.
  static void destroy(Handler* head) {
    while (head != nullptr) {
      Handler* next = head->next_;
      delete head;
      head = next;
    }
  }

 private:
  Handler* head_ = nullptr;
  Handler* tail_ = nullptr;
  uint32_t count_ = 0;
};

}  // namespace kw
