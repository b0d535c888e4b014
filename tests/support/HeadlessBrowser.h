#ifndef TESTS_SUPPORT_HEADLESSBROWSER_H
#define TESTS_SUPPORT_HEADLESSBROWSER_H

#include "TemporaryFolder.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <sys/types.h>

// Debian's headless Chromium with a fresh profile, driven over the
// DevTools protocol on a pipe (no port to find, nothing on the network),
// showing one page at a fixed viewport size.  The destructor kills it and
// every process it started, also when a test fails.
class HeadlessBrowser
{
public:
  HeadlessBrowser(int width, int height);
  ~HeadlessBrowser();
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  // Whether Chromium is installed.
  static bool available();

  void open(const std::string& url);
  // The value of a JavaScript expression in the page (JSON null when it
  // threw or is undefined).
  nlohmann::json evaluate(const std::string& expression);
  // PNG of the viewport.
  std::string screenshot();

private:
  nlohmann::json call(const std::string& method, const nlohmann::json& params, bool inPage = true);
  nlohmann::json nextMessage(std::chrono::steady_clock::time_point deadline);
  void stop();

  TemporaryFolder profile_;
  int width_;
  int height_;
  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::string received_;
  int nextId_ = 1;
  std::string session_;
};

#endif // TESTS_SUPPORT_HEADLESSBROWSER_H
