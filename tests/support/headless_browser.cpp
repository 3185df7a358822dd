#include "tests/support/headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace kw_test {

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr auto kAnswerTime = std::chrono::seconds(20);

// The standard base64 alphabet, for the screenshot's bytes.
std::string fromBase64(const std::string& text) {
  std::string out;
  int bits = 0, value = 0;
  for (const char c : text) {
    int d;
    if (c >= 'A' && c <= 'Z')
      d = c - 'A';
    else if (c >= 'a' && c <= 'z')
      d = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      d = c - '0' + 52;
    else if (c == '+')
      d = 62;
    else if (c == '/')
      d = 63;
    else
      continue;
    value = (value << 6) | d;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((value >> bits) & 0xff));
    }
  }
  return out;
}

}  // namespace

HeadlessBrowser::~HeadlessBrowser() {
  if (pid_ > 0) {
    std::string ignored;
    if (toBrowser_ >= 0) call("Browser.close", Json::object(), false, &ignored);
    int status = 0;
    for (int i = 0; i < 50 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (toBrowser_ >= 0) close(toBrowser_);
  if (fromBrowser_ >= 0) close(fromBrowser_);
}

bool HeadlessBrowser::start(const std::string& profileDir, int width, int height,
                            std::string* why) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    *why = "no pipes for the browser";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 3);
  posix_spawn_file_actions_adddup2(&actions, out[1], 4);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const std::string log = profileDir + ".log";
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::vector<std::string> args = {
      "chromium",
      "--headless",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-background-networking",
      "--disable-component-update",
      "--no-first-run",
      "--hide-scrollbars",
      "--remote-debugging-pipe",
      "--user-data-dir=" + profileDir,
      "--window-size=" + std::to_string(width) + "," + std::to_string(height),
      "about:blank"};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, kChromium, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  toBrowser_ = in[1];
  fromBrowser_ = out[0];
  if (spawned != 0) {
    pid_ = -1;
    *why = std::string("cannot start ") + kChromium;
    return false;
  }
  const Json target = call("Target.createTarget", {{"url", "about:blank"}}, false, why);
  if (target.is_null()) return false;
  const Json attached = call("Target.attachToTarget",
                             {{"targetId", target["targetId"]}, {"flatten", true}}, false, why);
  if (attached.is_null()) return false;
  session_ = attached["sessionId"];
  return !call("Page.enable", Json::object(), true, why).is_null() &&
         !call("Runtime.enable", Json::object(), true, why).is_null();
}

bool HeadlessBrowser::open(const std::string& url, std::string* why) {
  const Json result = call("Page.navigate", {{"url", url}}, true, why);
  if (result.is_null()) return false;
  if (result.contains("errorText")) {
    *why = "cannot load " + url + ": " + result["errorText"].get<std::string>();
    return false;
  }
  return true;
}

Json HeadlessBrowser::evaluate(const std::string& expression, std::string* why) {
  std::string ignored;
  if (why == nullptr) why = &ignored;
  const Json result = call(
      "Runtime.evaluate",
      {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, true, why);
  if (result.is_null()) return nullptr;
  if (result.contains("exceptionDetails")) {
    *why = result["exceptionDetails"].dump();
    return nullptr;
  }
  return result["result"].value("value", Json());
}

bool HeadlessBrowser::waitFor(const std::string& expression, std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  while (Clock::now() < until) {
    if (evaluate("Boolean(" + expression + ")") == Json(true)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool HeadlessBrowser::screenshot(const std::string& path, std::string* why) {
  const Json shot = call("Page.captureScreenshot", {{"format", "png"}}, true, why);
  if (shot.is_null()) return false;
  std::ofstream file(path, std::ios::binary);
  file << fromBase64(shot["data"].get<std::string>());
  return static_cast<bool>(file);
}

Json HeadlessBrowser::call(const std::string& method, const Json& params, bool page,
                           std::string* why) {
  if (pid_ <= 0) {
    *why = "the browser does not run";
    return nullptr;
  }
  const int id = nextId_++;
  Json message = {{"id", id}, {"method", method}, {"params", params}};
  if (page) message["sessionId"] = session_;
  const std::string text = message.dump() + '\0';
  for (size_t sent = 0; sent < text.size();) {
    const ssize_t n = write(toBrowser_, text.data() + sent, text.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = "the browser's pipe closed";
      return nullptr;
    }
    sent += static_cast<size_t>(n);
  }
  const auto until = Clock::now() + kAnswerTime;
  Json reply;
  while (Clock::now() < until) {
    if (!receive(&reply,
                 std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())))
      break;
    if (reply.contains("method")) {
      onEvent(reply);
      continue;
    }
    if (reply.value("id", -1) != id) continue;
    if (reply.contains("error")) {
      *why = method + ": " + reply["error"].dump();
      return nullptr;
    }
    return reply.value("result", Json::object());
  }
  *why = method + ": no answer from the browser";
  return nullptr;
}

bool HeadlessBrowser::receive(Json* message, std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  for (;;) {
    const size_t end = buffer_.find('\0');
    if (end != std::string::npos) {
      *message = Json::parse(buffer_.substr(0, end), nullptr, false);
      buffer_.erase(0, end + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fromBrowser_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    const ssize_t n = read(fromBrowser_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

void HeadlessBrowser::onEvent(const Json& message) {
  if (message["method"] == "Page.javascriptDialogOpening") {
    ++dialogs_;
    // Answered without waiting for the reply: the dialog blocks the page.
    const Json reply = {{"id", nextId_++},
                        {"method", "Page.handleJavaScriptDialog"},
                        {"params", {{"accept", true}}},
                        {"sessionId", session_}};
    const std::string text = reply.dump() + '\0';
    if (write(toBrowser_, text.data(), text.size()) < 0) {
    }
  }
}

}  // namespace kw_test
