#ifndef BENCH_OCCUPANCYGRID_H
#define BENCH_OCCUPANCYGRID_H

#include <cstddef>
#include <cstdint>
#include <vector>

// A made-up occupancy grid that looks and compresses like a mapped
// building: outside the building's outline unknown (255); inside, free
// floor (0) divided into rooms along corridors by walls (100) two or three
// cells thick with door gaps; and a little sensor noise: about 0.5 % of the
// floor occupied or unknown at random, as a real scan leaves it.
// Row-major, `width` x `height` cells, one octet each.
std::vector<uint8_t> occupancyGrid(std::size_t width, std::size_t height, unsigned seed = 1);

struct CellMix
{
  double free, occupied, unknown;  // fractions of all cells
};
CellMix cellMix(const std::vector<uint8_t>& cells);

#endif // BENCH_OCCUPANCYGRID_H
