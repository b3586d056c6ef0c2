// Decimal numbers to doubles and back, as std::from_chars and std::to_chars
// read and write them, also where the C++ library has neither for floating
// point (the web build's libc++): there the C library's strtod and snprintf,
// which round the same way, do the work.
#pragma once

#include <charconv>
#include <string>

// std::from_chars(first, last, value, format) for a double, with its result:
// the end of the number read, errc::invalid_argument where none begins at
// `first` (value untouched), errc::result_out_of_range where it overflows or
// underflows to zero (value untouched).
std::from_chars_result decimal_to_double(const char* first, const char* last, double& value,
                                         std::chars_format format = std::chars_format::general);

// The strtod reading itself, which decimal_to_double is where the library
// lacks from_chars; compiled everywhere, so that the tests hold it to
// from_chars.
std::from_chars_result decimal_to_double_by_strtod(const char* first, const char* last, double& value,
                                                   std::chars_format format);

// The shortest text that reads back as `value`, as std::to_chars(value)
// writes it: fixed or scientific notation, whichever is shorter (fixed on a
// tie).
std::string shortest_decimal(double value);

// The snprintf writing itself, which shortest_decimal is where the library
// lacks to_chars; compiled everywhere, so that the tests hold it to to_chars.
std::string shortest_decimal_by_printf(double value);
