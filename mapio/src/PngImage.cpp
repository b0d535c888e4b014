#include "mapio/PngImage.h"

#include "mapio/FileBytes.h"
#include "mapio/MapError.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace mapio
{
  namespace
  {
    // libpng reports errors by longjmp.  Everything that a longjmp may
    // skip lives in this plain struct, never in a C++ object, and the
    // function that calls setjmp holds nothing that needs destroying.
    struct PngRead
    {
      const char* input = nullptr;      // the whole file
      std::size_t inputSize = 0;
      std::size_t inputAt = 0;
      png_uint_32 width = 0;
      png_uint_32 height = 0;
      int bitDepth = 0;
      int colourType = 0;
      unsigned char* pixels = nullptr;  // malloc'ed, width * height
      png_bytep* rows = nullptr;        // malloc'ed row pointers into pixels
      char message[256] = {};
    };

    void onPngError(png_structp png, png_const_charp message)
    {
      PngRead* read = static_cast<PngRead*>(png_get_error_ptr(png));
      std::snprintf(read->message, sizeof read->message, "%s", message);
      png_longjmp(png, 1);
    }

    void onPngWarning(png_structp, png_const_charp)
    {
    }

    void readPngInput(png_structp png, png_bytep out, png_size_t length)
    {
      PngRead* read = static_cast<PngRead*>(png_get_io_ptr(png));
      if (read->inputSize - read->inputAt < length)
        png_error(png, "file ends early");
      std::memcpy(out, read->input + read->inputAt, length);
      read->inputAt += length;
    }

    enum class PngOutcome { Read, Unsupported, Failed };

    PngOutcome readPngPixels(PngRead* read)
    {
      png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, read, onPngError, onPngWarning);
      if (!png)
        return PngOutcome::Failed;
      png_infop info = png_create_info_struct(png);
      if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return PngOutcome::Failed;
      }
      if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return PngOutcome::Failed;
      }
      png_set_read_fn(png, read, readPngInput);
      png_read_info(png, info);
      read->width = png_get_image_width(png, info);
      read->height = png_get_image_height(png, info);
      read->bitDepth = png_get_bit_depth(png, info);
      read->colourType = png_get_color_type(png, info);
      const png_uint_32 limit = std::numeric_limits<short>::max();
      if (read->colourType != PNG_COLOR_TYPE_GRAY || read->bitDepth != 8 ||
          read->width > limit || read->height > limit) {
        png_destroy_read_struct(&png, &info, nullptr);
        return PngOutcome::Unsupported;
      }
      // Deflate packs at most 1032 bytes into one: rows (with their filter
      // byte) that the input cannot hold are refused before they are allocated.
      if ((std::uint64_t(read->width) + 1) * read->height > std::uint64_t(1032) * read->inputSize)
        png_error(png, "image data ends early");
      read->pixels = static_cast<unsigned char*>(std::malloc(std::size_t(read->width) * read->height));
      read->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * read->height));
      if (!read->pixels || !read->rows)
        png_error(png, "out of memory");
      for (png_uint_32 row = 0; row < read->height; ++row)
        read->rows[row] = read->pixels + std::size_t(row) * read->width;
      png_read_image(png, read->rows);
      png_read_end(png, nullptr);
      png_destroy_read_struct(&png, &info, nullptr);
      return PngOutcome::Read;
    }

    std::string describe(int colourType, int bitDepth)
    {
      const char* kind = "";
      switch (colourType) {
        case PNG_COLOR_TYPE_GRAY: kind = "greyscale"; break;
        case PNG_COLOR_TYPE_GRAY_ALPHA: kind = "greyscale with alpha"; break;
        case PNG_COLOR_TYPE_PALETTE: kind = "palette"; break;
        case PNG_COLOR_TYPE_RGB: kind = "RGB"; break;
        case PNG_COLOR_TYPE_RGB_ALPHA: kind = "RGBA"; break;
        default: kind = "unknown colour type"; break;
      }
      return std::to_string(bitDepth) + "-bit " + kind;
    }
  }

  GridMap readPng(const std::string& path)
  {
    return decodePng(readFileBytes(path), path);
  }

  GridMap decodePng(const std::string& bytes, const std::string& where)
  {
    PngRead read;
    read.input = bytes.data();
    read.inputSize = bytes.size();
    const PngOutcome outcome = readPngPixels(&read);
    GridMap map;
    if (outcome == PngOutcome::Read) {
      map.width = static_cast<short>(read.width);
      map.height = static_cast<short>(read.height);
      map.cells.assign(reinterpret_cast<const char*>(read.pixels), std::size_t(read.width) * read.height);
    }
    std::free(read.pixels);
    std::free(read.rows);
    if (outcome == PngOutcome::Unsupported) {
      if (read.width > static_cast<png_uint_32>(std::numeric_limits<short>::max()) ||
          read.height > static_cast<png_uint_32>(std::numeric_limits<short>::max()))
        throw MapError("PNG of " + std::to_string(read.width) + " x " + std::to_string(read.height) +
                       " pixels: width and height must not exceed 32767", where);
      throw MapError("unsupported PNG: " + describe(read.colourType, read.bitDepth) +
                     "; only 8-bit greyscale without alpha is read", where);
    }
    if (outcome == PngOutcome::Failed)
      throw MapError(std::string("not a readable PNG: ") +
                     (read.message[0] ? read.message : "libpng could not start"), where);
    return map;
  }

  namespace
  {
    // A negative row stride has libpng read the rows from the last one up.
    std::string writePng(GridMapView map, png_uint_32 format, png_uint_32 flags, const Palette* palette,
                         png_int_32 rowStride, const std::string& where)
    {
      png_image image;
      std::memset(&image, 0, sizeof image);
      image.version = PNG_IMAGE_VERSION;
      image.width = static_cast<png_uint_32>(map.width);
      image.height = static_cast<png_uint_32>(map.height);
      image.format = format;
      image.flags = flags;
      image.colormap_entries = palette ? 256 : 0;
      const void* colours = palette ? palette->data() : nullptr;
      png_alloc_size_t size = 0;
      if (!png_image_write_to_memory(&image, nullptr, &size, 0, map.cells.data(), rowStride, colours))
        throw MapError(std::string("cannot encode PNG: ") + image.message, where);
      std::string bytes(size, '\0');
      if (!png_image_write_to_memory(&image, &bytes[0], &size, 0, map.cells.data(), rowStride, colours))
        throw MapError(std::string("cannot encode PNG: ") + image.message, where);
      bytes.resize(size);
      return bytes;
    }
  }

  std::string encodePng(GridMapView map, const std::string& where)
  {
    return writePng(map, PNG_FORMAT_GRAY, 0, nullptr, 0, where);
  }

  std::string encodeQuickPng(GridMapView map, const Palette* palette, bool bottomRowFirst, const std::string& where)
  {
    static_assert(sizeof(RgbColour) == 3, "libpng reads the palette as packed RGB triples");
    const png_int_32 rowStride = bottomRowFirst ? -static_cast<png_int_32>(map.width) : 0;
    return writePng(map, palette ? PNG_FORMAT_RGB_COLORMAP : PNG_FORMAT_GRAY, PNG_IMAGE_FLAG_FAST, palette, rowStride,
                    where);
  }
}
