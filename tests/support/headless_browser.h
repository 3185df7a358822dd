// HeadlessBrowser: headless Chromium driven through its DevTools protocol
// on a pair of pipes (--remote-debugging-pipe: commands on its descriptor
// 3, answers and events on 4, each message a JSON text ended by a NUL), so
// that a test can load a page, wait until the page's own script has drawn
// what it should, look at it with JavaScript, click, and take a screenshot.
// JavaScript dialogs (alert) are counted and dismissed.
//
// Owns the browser process (closed, then killed if need be, when the
// object goes) and its profile folder's use (the folder belongs to the
// caller). One thread only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace kw_test {

class HeadlessBrowser {
 public:
  static constexpr const char* kChromium = "/usr/bin/chromium";

  HeadlessBrowser() = default;
  ~HeadlessBrowser();
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  // Starts the browser with a fresh profile in `profileDir` and a window
  // of width x height, and opens a blank page; false with the reason.
  bool start(const std::string& profileDir, int width, int height, std::string* why);
  // Loads `url` in the page.
  bool open(const std::string& url, std::string* why);
  // The value of `expression` in the page (awaited when it is a promise);
  // null with the reason when it threw or the browser did not answer.
  nlohmann::json evaluate(const std::string& expression, std::string* why = nullptr);
  // Evaluates `expression` every 100 ms until it is true; false at the
  // time-out.
  bool waitFor(const std::string& expression, std::chrono::milliseconds timeout);
  // A PNG of the window at `path`.
  bool screenshot(const std::string& path, std::string* why);
  // JavaScript dialogs the page opened so far (each was dismissed).
  int dialogs() const { return dialogs_; }

 private:
  // Sends a command (to the page's session when `page`); its result, or
  // null with the reason.
  nlohmann::json call(const std::string& method, const nlohmann::json& params, bool page,
                      std::string* why);
  // Reads one message within `timeout`; false when none came.
  bool receive(nlohmann::json* message, std::chrono::milliseconds timeout);
  void onEvent(const nlohmann::json& message);

  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::string buffer_;
  std::string session_;
  int nextId_ = 1;
  int dialogs_ = 0;
};

}  // namespace kw_test
