#pragma once
// Number formatting of the text writers. Fixed notation with exactly N decimals
// is correctly rounded from the value's exact binary value (ties to even);
// float32 values are formatted from their own value; −0.0 keeps its sign;
// infinities print "inf" / "-inf" and not-a-number "NaN". The shortest form
// prints the fewest significant digits that read back to the same value, in
// plain decimal without an exponent (1 → "1", 1e-7 → "0.0000001").

#include <string>

namespace vorrel::io {

// Appends the formatted value to `out` (no allocation beyond growing `out`).
void append_fixed(std::string& out, double value, int decimals);
void append_fixed(std::string& out, float value, int decimals);
void append_shortest(std::string& out, double value);
void append_shortest(std::string& out, float value);

std::string format_fixed(double value, int decimals);
std::string format_fixed(float value, int decimals);
std::string format_shortest(double value);
std::string format_shortest(float value);

}  // namespace vorrel::io
