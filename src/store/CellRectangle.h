#ifndef CELLRECTANGLE_H
#define CELLRECTANGLE_H

// A rectangle of cells, in the map's row-major layout.
struct CellRectangle
{
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

#endif // CELLRECTANGLE_H
