#ifndef MAPIO_PNGIMAGE_H
#define MAPIO_PNGIMAGE_H

#include "mapio/GridMap.h"

#include <array>
#include <string>

namespace mapio
{
  // An 8-bit greyscale PNG without alpha: grey values as they are, top row
  // first.  Any other colour type or bit depth is refused rather than
  // converted, so that no cell value is changed on the way in.  Throws
  // MapError.
  GridMap readPng(const std::string& path);
  // The same from the file's bytes; `where` names their source in errors.
  GridMap decodePng(const std::string& bytes, const std::string& where);

  // An 8-bit greyscale PNG of a map whose size agrees and is not empty.
  std::string encodePng(GridMapView map, const std::string& where);

  // For images made on request, where time counts more than size: the same
  // PNG compressed with libpng's fast setting, or, with a palette, an
  // indexed PNG that shows each cell value in its palette colour; with
  // `bottomRowFirst`, the map's last row is the image's top one.
  struct RgbColour
  {
    unsigned char red, green, blue;
  };
  using Palette = std::array<RgbColour, 256>;
  std::string encodeQuickPng(GridMapView map, const Palette* palette, bool bottomRowFirst, const std::string& where);
}

#endif // MAPIO_PNGIMAGE_H
