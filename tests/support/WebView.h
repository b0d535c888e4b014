#ifndef TESTS_SUPPORT_WEBVIEW_H
#define TESTS_SUPPORT_WEBVIEW_H

#include "ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

// KorventComp arguments that turn the web view on at `endpoint` and log
// the line that tells where it listens.
std::vector<std::string> webViewArgs(const std::string& endpoint = "127.0.0.1:0");

// "host:port" from the component's "web view at http://host:port/" line;
// throws when it does not come within the timeout.
std::string webViewAddress(ChildProcess& component, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A PNG decoded with libpng into 8-bit grey (one octet a pixel) or RGB
// (three); throws when it is not a PNG.
struct DecodedPng
{
  int width = 0;
  int height = 0;
  std::string pixels;
};
DecodedPng decodeGreyPng(const std::string& bytes);
DecodedPng decodeRgbPng(const std::string& bytes);

#endif // TESTS_SUPPORT_WEBVIEW_H
