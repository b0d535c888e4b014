#include "WebView.h"

#include "KorventProcess.h"

#include <png.h>

#include <cstring>
#include <stdexcept>

std::vector<std::string> webViewArgs(const std::string& endpoint)
{
  return {"-o", "korvent.http.endpoint:" + endpoint, "-o", "logger.log_level:INFO"};
}

std::string webViewAddress(ChildProcess& component, std::chrono::milliseconds timeout)
{
  return loggedValue(component, R"(web view at https?://([^/\s]+)/)", "web view address", timeout);
}

namespace
{
  DecodedPng decodePng(const std::string& bytes, png_uint_32 format, int channels)
  {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
      throw std::runtime_error(std::string("not a PNG: ") + image.message);
    image.format = format;
    DecodedPng decoded;
    decoded.width = static_cast<int>(image.width);
    decoded.height = static_cast<int>(image.height);
    decoded.pixels.resize(std::size_t(image.width) * image.height * channels);
    if (!png_image_finish_read(&image, nullptr, decoded.pixels.data(), 0, nullptr))
      throw std::runtime_error(std::string("cannot decode PNG: ") + image.message);
    return decoded;
  }
}

DecodedPng decodeGreyPng(const std::string& bytes)
{
  return decodePng(bytes, PNG_FORMAT_GRAY, 1);
}

DecodedPng decodeRgbPng(const std::string& bytes)
{
  return decodePng(bytes, PNG_FORMAT_RGB, 3);
}
