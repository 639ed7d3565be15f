#pragma once
// The arithmetic rules every handler follows: floating expressions are
// evaluated in double precision from Single values, results stored into a
// Long are rounded half to even, and Long arithmetic never wraps silently.
#include <cstdint>

namespace korvane {

using Single = float;
using Long = std::int32_t;
using Integer = std::int16_t;

// Rounds to the nearest integer, halves to even; raises the overflow error
// outside the signed 32-bit range (NaN included).
Long roundToLong(double value);

// Narrows an evaluated expression to Single; raises the overflow error when
// the value lies beyond Single's range.
Single toSingle(double value);

// Checks the result of one floating expression: NaN is an invalid
// operation, an infinity an overflow. Returns the value unchanged.
double checkedFloat(double value);

// Double division with the floating-point checks: 0/0 is an invalid
// operation, x/0 a division by zero.
double checkedDiv(double dividend, double divisor);

// Long arithmetic that raises the overflow error instead of wrapping.
Long longAdd(Long a, Long b);
Long longSub(Long a, Long b);
Long longMul(Long a, Long b);

} // namespace korvane
