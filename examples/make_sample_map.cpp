// Writes a sample map, a small floor plan as a map YAML with its PGM image.
//   make_sample_map [path.yaml]     (default: sample.yaml)
#include "mapio/MapError.h"
#include "mapio/MapFile.h"

#include <iostream>

namespace
{
  // Grey values as map images draw them.
  constexpr char freeGrey = static_cast<char>(254);
  constexpr char wallGrey = 0;
  constexpr char unknownGrey = static_cast<char>(205);

  class Canvas
  {
  public:
    Canvas(short width, short height)
    {
      map_.width = width;
      map_.height = height;
      map_.cells.assign(static_cast<std::size_t>(width) * height, unknownGrey);
    }

    void fill(int left, int top, int right, int bottom, char grey)
    {
      for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
          map_.cells[static_cast<std::size_t>(y) * map_.width + x] = grey;
    }

    // A room: walls two cells thick around free floor.
    void room(int left, int top, int right, int bottom)
    {
      fill(left, top, right, bottom, wallGrey);
      fill(left + 2, top + 2, right - 2, bottom - 2, freeGrey);
    }

    const mapio::GridMap& map() const { return map_; }

  private:
    mapio::GridMap map_;
  };
}

int main(int argc, char** argv)
{
  const std::string path = argc > 1 ? argv[1] : "sample.yaml";
  Canvas plan(240, 160);
  plan.room(10, 10, 130, 100);    // hall
  plan.room(128, 10, 230, 70);    // office
  plan.room(128, 68, 230, 150);   // lab
  plan.fill(128, 30, 130, 50, freeGrey);   // door hall -> office
  plan.fill(128, 80, 130, 95, freeGrey);   // door hall -> lab
  plan.fill(160, 68, 180, 70, freeGrey);   // door office -> lab
  plan.fill(40, 40, 60, 55, wallGrey);     // a table
  plan.fill(170, 100, 200, 106, wallGrey); // a bench
  plan.fill(60, 98, 80, 100, freeGrey);    // way out, to the unknown

  mapio::MapWriteOptions options;
  options.metadata.resolution = 0.05;
  options.metadata.origin = {-6.0, -4.0, 0.0};
  try {
    const mapio::MapWriteResult written = mapio::writeMapFile(path, plan.map(), options);
    std::cout << "wrote " << path << " and " << written.imagePath << std::endl;
  }
  catch (const mapio::MapError& error) {
    std::cerr << "make_sample_map: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
