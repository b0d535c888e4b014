#include "HeadlessBrowser.h"

#include "ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
  const char* const chromium = "/usr/bin/chromium";

  std::string base64Decoded(const std::string& text)
  {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
      const std::size_t value = alphabet.find(c);
      if (value == std::string::npos)
        continue;  // padding
      bits = (bits << 6) | static_cast<unsigned>(value);
      count += 6;
      if (count >= 8) {
        count -= 8;
        bytes.push_back(static_cast<char>((bits >> count) & 0xff));
      }
    }
    return bytes;
  }
}

bool HeadlessBrowser::available()
{
  return access(chromium, X_OK) == 0;
}

HeadlessBrowser::HeadlessBrowser(int width, int height)
  : width_(width), height_(height)
{
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const std::vector<std::string> argv{
      chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--user-data-dir=" + profile_.path(), "--remote-debugging-pipe",
      "--window-size=" + std::to_string(width) + "," + std::to_string(height), "about:blank"};
  const std::string logPath = profile_ / "chromium.log";
  pid_ = spawnProgram(argv, [&] {
    // A group of its own, so that its helper processes go with it.
    setpgid(0, 0);
    // The protocol's pipe is descriptors 3 and 4; moved up first, as a pipe
    // end may already be one of them.
    dup2(fcntl(in[0], F_DUPFD, 10), 3);
    dup2(fcntl(out[1], F_DUPFD, 10), 4);
    const int quiet = ::open(logPath.c_str(), O_WRONLY | O_CREAT, 0600);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
  });
  setpgid(pid_, pid_);
  close(in[0]);
  close(out[1]);
  toBrowser_ = in[1];
  fromBrowser_ = out[0];
  // Answers once it has started, so that no later call waits for that.
  try {
    call("Browser.getVersion", nlohmann::json::object(), false);
  }
  catch (...) {
    stop();
    throw;
  }
}

HeadlessBrowser::~HeadlessBrowser()
{
  stop();
}

void HeadlessBrowser::stop()
{
  close(toBrowser_);
  close(fromBrowser_);
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

void HeadlessBrowser::open(const std::string& url)
{
  const nlohmann::json target = call("Target.createTarget", {{"url", "about:blank"}}, false);
  const nlohmann::json attached =
      call("Target.attachToTarget", {{"targetId", target.at("targetId")}, {"flatten", true}}, false);
  session_ = attached.at("sessionId");
  call("Emulation.setDeviceMetricsOverride",
       {{"width", width_}, {"height", height_}, {"deviceScaleFactor", 1}, {"mobile", false}});
  call("Page.navigate", {{"url", url}});
}

nlohmann::json HeadlessBrowser::evaluate(const std::string& expression)
{
  const nlohmann::json result = call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
  if (result.contains("exceptionDetails") || !result.at("result").contains("value"))
    return nullptr;
  return result.at("result").at("value");
}

std::string HeadlessBrowser::screenshot()
{
  return base64Decoded(call("Page.captureScreenshot", {{"format", "png"}}).at("data"));
}

nlohmann::json HeadlessBrowser::call(const std::string& method, const nlohmann::json& params, bool inPage)
{
  const int id = nextId_++;
  nlohmann::json message{{"id", id}, {"method", method}, {"params", params}};
  if (inPage)
    message["sessionId"] = session_;
  const std::string text = message.dump() + '\0';
  for (std::size_t sent = 0; sent < text.size();) {
    const ssize_t n = write(toBrowser_, text.data() + sent, text.size() - sent);
    if (n <= 0)
      throw std::runtime_error("the browser stopped reading");
    sent += static_cast<std::size_t>(n);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    nlohmann::json reply = nextMessage(deadline);
    if (!reply.contains("id") || reply.at("id") != id)
      continue;  // an event, or the answer to nothing we wait for
    if (reply.contains("error"))
      throw std::runtime_error(method + ": " + reply.at("error").dump());
    return reply.at("result");
  }
}

nlohmann::json HeadlessBrowser::nextMessage(std::chrono::steady_clock::time_point deadline)
{
  for (;;) {
    const std::size_t end = received_.find('\0');
    if (end != std::string::npos) {
      nlohmann::json message = nlohmann::json::parse(received_.substr(0, end));
      received_.erase(0, end + 1);
      return message;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{fromBrowser_, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
      throw std::runtime_error("the browser did not answer in time");
    char buffer[65536];
    const ssize_t n = read(fromBrowser_, buffer, sizeof buffer);
    if (n <= 0)
      throw std::runtime_error("the browser closed its pipe");
    received_.append(buffer, static_cast<std::size_t>(n));
  }
}
