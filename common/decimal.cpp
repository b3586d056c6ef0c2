#include "decimal.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length of the decimal number from_chars reads at `first`: an optional
// '-', digits with at most one '.', at least one digit, then for the general
// format an exponent 'e' or 'E', an optional sign and digits, taken only when
// whole; 0 where no number begins. "inf" and "nan" are left to the caller.
size_t number_length(const char* first, const char* last, std::chars_format format) {
  const char* p = first;
  if (p < last && *p == '-') ++p;
  size_t digits = 0;
  while (p < last && is_digit(*p)) ++p, ++digits;
  if (p < last && *p == '.') {
    ++p;
    while (p < last && is_digit(*p)) ++p, ++digits;
  }
  if (digits == 0) return 0;
  if (format != std::chars_format::fixed && p < last && (*p == 'e' || *p == 'E')) {
    const char* exponent = p + 1;
    if (exponent < last && (*exponent == '+' || *exponent == '-')) ++exponent;
    if (exponent < last && is_digit(*exponent)) {
      p = exponent;
      while (p < last && is_digit(*p)) ++p;
    }
  }
  return static_cast<size_t>(p - first);
}

// "inf", "infinity" and "nan" in any case, after an optional '-': the length
// read, 0 where it is none of them.
size_t special_length(const char* first, const char* last) {
  const char* p = first;
  if (p < last && *p == '-') ++p;
  for (const char* word : {"infinity", "inf", "nan"}) {
    const size_t length = std::strlen(word);
    if (static_cast<size_t>(last - p) >= length && strncasecmp(p, word, length) == 0)
      return static_cast<size_t>(p - first) + length;
  }
  return 0;
}

}  // namespace

std::from_chars_result decimal_to_double_by_strtod(const char* first, const char* last, double& value,
                                                   std::chars_format format) {
  size_t length = number_length(first, last, format);
  if (length == 0) length = special_length(first, last);
  if (length == 0) return {first, std::errc::invalid_argument};
  const std::string copy(first, length);  // strtod needs its 0, and reads nothing past the number
  errno = 0;
  const double read = std::strtod(copy.c_str(), nullptr);
  // strtod also says ERANGE of a result that is merely subnormal, which
  // from_chars gives as it is.
  const bool underflow = errno == ERANGE && read == 0;
  const bool overflow = errno == ERANGE && std::isinf(read);
  if (underflow || overflow) return {first + length, std::errc::result_out_of_range};
  value = read;
  return {first + length, std::errc()};
}

std::from_chars_result decimal_to_double(const char* first, const char* last, double& value,
                                         std::chars_format format) {
#if defined(__cpp_lib_to_chars)
  return std::from_chars(first, last, value, format);
#else
  return decimal_to_double_by_strtod(first, last, value, format);
#endif
}

std::string shortest_decimal_by_printf(double value) {
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  // The fewest significant digits that read back as the value.
  char scientific[40];
  for (int precision = 0; precision < 17; ++precision) {
    std::snprintf(scientific, sizeof scientific, "%.*e", precision, value);
    if (std::strtod(scientific, nullptr) == value) break;
  }
  // "-d.ddde-07": sign, digits, exponent.
  const bool negative = scientific[0] == '-';
  std::string digits;
  const char* p = scientific + (negative ? 1 : 0);
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits += *p;
  }
  const int exponent = std::atoi(p + 1);
  const int count = static_cast<int>(digits.size());
  std::string fixed = negative ? "-" : "";
  if (exponent >= count - 1) {
    fixed += digits + std::string(static_cast<size_t>(exponent - count + 1), '0');
  } else if (exponent < 0) {
    fixed += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else {
    fixed += digits.substr(0, static_cast<size_t>(exponent + 1)) + "." + digits.substr(static_cast<size_t>(exponent + 1));
  }
  const std::string shortest_scientific = scientific;
  return fixed.size() <= shortest_scientific.size() ? fixed : shortest_scientific;
}

std::string shortest_decimal(double value) {
#if defined(__cpp_lib_to_chars)
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
#else
  return shortest_decimal_by_printf(value);
#endif
}
