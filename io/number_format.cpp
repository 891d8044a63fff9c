#include "io/number_format.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace vorrel::io {
namespace {

// Non-finite values have fixed spellings; returns false for finite ones.
template <class T>
bool append_special(std::string& out, T value) {
  if (std::isnan(value)) {
    out += "NaN";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
  } else {
    return false;
  }
  return true;
}

template <class T>
void append_fixed_impl(std::string& out, T value, int decimals) {
  if (append_special(out, value)) return;
  // The largest float64 in fixed notation has 309 integer digits.
  char buffer[400 + 64];
  if (decimals > 64) decimals = 64;
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  out.append(buffer, result.ptr);
}

// Expands shortest scientific digits "d.ddde±x" into plain decimal, so large
// values print their significant digits followed by zeros rather than the
// exact binary integer.
template <class T>
void append_shortest_impl(std::string& out, T value) {
  if (append_special(out, value)) return;
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  if (text.front() == '-') {
    out += '-';
    text.remove_prefix(1);
  }
  size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exponent);
  // Value = 0.digits × 10^(exponent + 1); the point goes after `point` digits.
  const int point = exponent + 1;
  const int count = static_cast<int>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-point), '0');
    out += digits;
  } else if (point >= count) {
    out += digits;
    out.append(static_cast<size_t>(point - count), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(point));
    out += '.';
    out.append(digits, static_cast<size_t>(point), std::string::npos);
  }
}

}  // namespace

void append_fixed(std::string& out, double value, int decimals) { append_fixed_impl(out, value, decimals); }
void append_fixed(std::string& out, float value, int decimals) { append_fixed_impl(out, value, decimals); }
void append_shortest(std::string& out, double value) { append_shortest_impl(out, value); }
void append_shortest(std::string& out, float value) { append_shortest_impl(out, value); }

std::string format_fixed(double value, int decimals) {
  std::string out;
  append_fixed(out, value, decimals);
  return out;
}

std::string format_fixed(float value, int decimals) {
  std::string out;
  append_fixed(out, value, decimals);
  return out;
}

std::string format_shortest(double value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

std::string format_shortest(float value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

}  // namespace vorrel::io
