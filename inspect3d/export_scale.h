// The export scale inspect3d check suggests: the factor by which a model's
// source coordinates can be multiplied (the scale setting of the exporter
// that wrote the OBJ frames) so that the packed fields hold them as finely as
// they can without wrapping around.
//
// The rule, kept simple so that an exporter's script can compute the same:
//
//   bounds, strict: x and y   c * F < 128 where c > 0,  c * F > -128.125 where c < 0
//                   z         c * F < 128 where c > 0,  c * F > -128.25  where c < 0
//   (exactly the coordinates packs_in_range accepts: trunc(c * 8) within
//   -1024..1023 for x and y, trunc(c * 4) within -512..511 for z)
//
//   F is the largest number m * 10^(e - 2), m a whole number from 100 to 999,
//   that keeps every bound for every coordinate: the largest factor rounded
//   DOWN to three significant digits. Only each axis' smallest and largest
//   coordinate matter. Start from the limit L, the smallest of 128 / largest
//   and bound / smallest over the axes and their nonzero sides, take
//   e = floor(log10(L)) and m = ceil(L / 10^(e - 2)) - 1, then step m down
//   while F breaks a bound and up while the next F keeps them all (from 999
//   the next is 100 of the decade above). F's value is the double nearest to
//   the decimal "<m>e<e-2>", and every comparison is one multiplication.
//
//   There is none when every coordinate is 0, or when one is infinite (read
//   from text like 1e400), which no factor brings into range.
//
// A Python mirror: float(f"{m}e{e - 2}") for F, math.floor(math.log10(L)),
// math.ceil, and the same comparisons in floating point.
#pragma once

#include <string>

struct ExportScale {
  bool found = false;  // false: none (all coordinates 0, or one infinite)
  int mantissa = 0;    // m, 100 to 999
  int exponent = 0;    // e: F = m * 10^(e - 2)
  double factor = 0;   // F as the nearest double

  // F written with exactly its three significant digits: "2.55", "0.0711",
  // "12300"; very large or small ones as "1.25e-07".
  std::string text() const;
};

// The suggested scale for a model whose coordinates on axis a (0 x, 1 y,
// 2 z) lie from low[a] to high[a].
ExportScale suggested_export_scale(const double (&low)[3], const double (&high)[3]);

// The advice check gives on the exporter's scale setting, from the source
// coordinates of all frames converted: where they lie in the stored range,
// how fine a step is against the model's size, and the suggested scale.
struct ExportAdvice {
  double low[3], high[3];   // the smallest and largest source coordinate per axis
  double filled[3];         // (high - low) as a share of the axis' stored range
  double extent = 0;        // the largest of high - low
  bool has_extent = false;  // extent is above 0 and finite
  bool all_zero = false;    // every coordinate is 0
  ExportScale scale;
};

// The advice for coordinates from low[a] to high[a] on axis a. Changes
// nothing in check's result.
ExportAdvice advise_export_scale(const double (&low)[3], const double (&high)[3]);

// The share of the stored range of each packed field one step is of `extent`:
// 1 / scale / extent, x and y alike, then z.
double step_share(int axis, double extent);
