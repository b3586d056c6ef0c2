#include "export_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "decimal.h"
#include "vertex_animation.h"

namespace {

// The strict bounds of axis `axis`: a scaled coordinate must lie above
// `below` and under `above`. From the field's width and scale: x and y
// -128.125 and 128, z -128.25 and 128.
struct Bounds {
  double below, above;
};

Bounds bounds_of(int axis) {
  const PackedField& field = kPackedFields[axis];
  const double half_range = static_cast<double>(1u << (field.bits - 1));
  return {-(half_range + 1) / field.scale, half_range / field.scale};
}

double value_of(int mantissa, int exponent) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%de%d", mantissa, exponent - 2);
  double value = 0;
  decimal_to_double(text, text + length, value);
  return value;
}

bool keeps_bounds(const double (&low)[3], const double (&high)[3], double factor) {
  for (int axis = 0; axis < 3; ++axis) {
    const Bounds bounds = bounds_of(axis);
    if (high[axis] > 0 && !(high[axis] * factor < bounds.above)) return false;
    if (low[axis] < 0 && !(low[axis] * factor > bounds.below)) return false;
  }
  return true;
}

void step_down(ExportScale& scale) {
  if (--scale.mantissa < 100) {
    scale.mantissa = 999;
    --scale.exponent;
  }
}

ExportScale stepped_up(ExportScale scale) {
  if (++scale.mantissa > 999) {
    scale.mantissa = 100;
    ++scale.exponent;
  }
  scale.factor = value_of(scale.mantissa, scale.exponent);
  return scale;
}

}  // namespace

ExportScale suggested_export_scale(const double (&low)[3], const double (&high)[3]) {
  ExportScale scale;
  double limit = std::numeric_limits<double>::infinity();
  for (int axis = 0; axis < 3; ++axis) {
    const Bounds bounds = bounds_of(axis);
    if (high[axis] > 0) limit = std::fmin(limit, bounds.above / high[axis]);
    if (low[axis] < 0) limit = std::fmin(limit, bounds.below / low[axis]);
  }
  if (limit == std::numeric_limits<double>::infinity()) return scale;  // all 0
  if (!(limit > 0)) return scale;                                      // a coordinate is infinite
  limit = std::fmin(limit, std::numeric_limits<double>::max());        // coordinates near 0 overflow it

  scale.exponent = static_cast<int>(std::floor(std::log10(limit)));
  scale.mantissa = static_cast<int>(std::ceil(limit / std::pow(10.0, scale.exponent - 2))) - 1;
  // The estimate is off by a step at most where log10 or the division round;
  // the comparisons decide.
  if (scale.mantissa > 999) scale.mantissa = 999;
  if (scale.mantissa < 100) scale.mantissa = 100;
  scale.factor = value_of(scale.mantissa, scale.exponent);
  for (int steps = 0; steps < 100 && !keeps_bounds(low, high, scale.factor); ++steps) {
    step_down(scale);
    scale.factor = value_of(scale.mantissa, scale.exponent);
  }
  for (int steps = 0; steps < 100; ++steps) {
    const ExportScale next = stepped_up(scale);
    if (!keeps_bounds(low, high, next.factor)) break;
    scale = next;
  }
  scale.found = keeps_bounds(low, high, scale.factor);
  return scale;
}

std::string ExportScale::text() const {
  const std::string digits = std::to_string(mantissa);
  if (exponent >= 2 && exponent <= 14) return digits + std::string(exponent - 2, '0');
  if (exponent >= 0 && exponent < 2)
    return digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
  if (exponent < 0 && exponent >= -6) return "0." + std::string(-exponent - 1, '0') + digits;
  char text[32];
  std::snprintf(text, sizeof text, "%c.%se%+03d", digits[0], digits.substr(1).c_str(), exponent);
  return text;
}

ExportAdvice advise_export_scale(const double (&low)[3], const double (&high)[3]) {
  ExportAdvice advice;
  for (int axis = 0; axis < 3; ++axis) {
    // The stored range: -128 to 127.875 in x and y, to 127.75 in z.
    const PackedField& field = kPackedFields[axis];
    const double half_range = static_cast<double>(1u << (field.bits - 1));
    const double range = (2 * half_range - 1) / field.scale;
    advice.low[axis] = low[axis];
    advice.high[axis] = high[axis];
    advice.filled[axis] = (high[axis] - low[axis]) / range;
    advice.extent = std::max(advice.extent, high[axis] - low[axis]);
  }
  advice.has_extent = advice.extent > 0 && std::isfinite(advice.extent);
  advice.all_zero = low[0] == 0 && low[1] == 0 && low[2] == 0 && high[0] == 0 && high[1] == 0 && high[2] == 0;
  advice.scale = suggested_export_scale(low, high);
  return advice;
}

double step_share(int axis, double extent) { return 1 / kPackedFields[axis].scale / extent; }
