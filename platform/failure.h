// Failure: the outcome of an operating-system step that may fail, with the
// reason when it did: what was being done ("join 239.1.2.3 on port 5000")
// and why ("No such device", from errno, or a reason of our own such as
// "not an IPv4 address"). An empty Failure means success.
//
// Every platform function that can fail returns one (or fills one), so the
// caller can log, show or ignore the reason, but never loses it.
//
// Owns its text. A value type: any thread may use its own copy.
#pragma once

#include <string>
#include <string_view>

namespace kw {

class Failure {
 public:
  // Success.
  Failure() = default;

  // A failure of `context` because of `reason`: "context: reason".
  static Failure because(std::string_view context, std::string_view reason);
  // A failure of `context` with the reason errno `error` gives
  // ("context: No such device").
  static Failure fromErrno(std::string_view context, int error);

  bool ok() const { return text_.empty(); }
  explicit operator bool() const { return !ok(); }  // true when it failed
  // "context: reason"; empty on success.
  const std::string& text() const { return text_; }
  const char* c_str() const { return text_.c_str(); }

 private:
  std::string text_;
};

// The text of errno `error` ("No such device"), thread-safe.
std::string errnoText(int error);

}  // namespace kw
