#include "numeric.h"

#include "runtime_error.h"

#include <cmath>
#include <limits>

namespace korvane {

Long roundToLong(double value)
{
    // rint rounds with the current mode, which is round-to-nearest-even.
    const double rounded = std::rint(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
        raiseError(ErrorKind::Overflow);
    return static_cast<Long>(rounded);
}

Single toSingle(double value)
{
    checkedFloat(value);
    const auto narrowed = static_cast<Single>(value);
    if (std::isinf(narrowed))
        raiseError(ErrorKind::Overflow);
    return narrowed;
}

double checkedFloat(double value)
{
    if (std::isnan(value))
        raiseError(ErrorKind::InvalidOperation);
    if (std::isinf(value))
        raiseError(ErrorKind::FloatOverflow);
    return value;
}

double checkedDiv(double dividend, double divisor)
{
    if (divisor == 0.0) {
        if (dividend == 0.0 || std::isnan(dividend))
            raiseError(ErrorKind::InvalidOperation);
        raiseError(ErrorKind::DivisionByZero);
    }
    return checkedFloat(dividend / divisor);
}

Long longAdd(Long a, Long b)
{
    Long result;
    if (__builtin_add_overflow(a, b, &result))
        raiseError(ErrorKind::Overflow);
    return result;
}

Long longSub(Long a, Long b)
{
    Long result;
    if (__builtin_sub_overflow(a, b, &result))
        raiseError(ErrorKind::Overflow);
    return result;
}

Long longMul(Long a, Long b)
{
    Long result;
    if (__builtin_mul_overflow(a, b, &result))
        raiseError(ErrorKind::Overflow);
    return result;
}

} // namespace korvane
