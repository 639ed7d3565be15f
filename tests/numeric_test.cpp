#include "platform/numeric.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace korvane {
namespace {

using test::kindRaisedBy;

TEST(RoundToLong, RoundsHalvesToEven)
{
    const struct {
        double in;
        Long out;
    } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {1502.5, 1502}, {1503.5, 1504},
        {1507.5, 1508}, {1522.5, 1522}, {0.49999999, 0}, {2.5000001, 3}, {-3000.0, -3000}};
    for (const auto& c : cases)
        EXPECT_EQ(roundToLong(c.in), c.out) << c.in;
}

TEST(RoundToLong, AcceptsTheWholeLongRangeAndNoMore)
{
    EXPECT_EQ(roundToLong(2147483647.0), 2147483647);
    EXPECT_EQ(roundToLong(2147483647.4), 2147483647);
    EXPECT_EQ(roundToLong(-2147483648.0), std::numeric_limits<Long>::min());
    EXPECT_EQ(roundToLong(-2147483648.5), std::numeric_limits<Long>::min()); // even
    EXPECT_EQ(kindRaisedBy([] { roundToLong(2147483647.5); }), ErrorKind::Overflow); // even is 2^31
    EXPECT_EQ(kindRaisedBy([] { roundToLong(-2147483649.0); }), ErrorKind::Overflow);
    EXPECT_EQ(kindRaisedBy([] { roundToLong(std::nan("")); }), ErrorKind::Overflow);
    EXPECT_EQ(kindRaisedBy([] { roundToLong(INFINITY); }), ErrorKind::Overflow);
}

TEST(LongArithmetic, RaisesOverflowInsteadOfWrapping)
{
    EXPECT_EQ(longMul(15, 143165576), 2147483640);
    EXPECT_EQ(kindRaisedBy([] { longMul(15, 143165577); }), ErrorKind::Overflow);
    EXPECT_EQ(kindRaisedBy([] { longMul(15, -143165578); }), ErrorKind::Overflow);
    EXPECT_EQ(longSub(-2147483647, 1), std::numeric_limits<Long>::min());
    EXPECT_EQ(kindRaisedBy([] { longSub(std::numeric_limits<Long>::min(), 1); }), ErrorKind::Overflow);
    EXPECT_EQ(kindRaisedBy([] { longAdd(2147483647, 1); }), ErrorKind::Overflow);
}

TEST(FloatChecks, TellInvalidOperationFromDivisionByZeroAndOverflow)
{
    EXPECT_EQ(checkedDiv(1, 4), 0.25);
    EXPECT_EQ(kindRaisedBy([] { checkedDiv(0, 0); }), ErrorKind::InvalidOperation);
    EXPECT_EQ(kindRaisedBy([] { checkedDiv(5, 0); }), ErrorKind::DivisionByZero);
    EXPECT_EQ(kindRaisedBy([] { checkedDiv(-5, 0); }), ErrorKind::DivisionByZero);
    EXPECT_EQ(kindRaisedBy([] { checkedDiv(1e300, 1e-300); }), ErrorKind::FloatOverflow);
    EXPECT_EQ(kindRaisedBy([] { checkedFloat(std::nan("")); }), ErrorKind::InvalidOperation);
    EXPECT_EQ(checkedDiv(1e-300, 1e300), 0.0); // underflow passes
}

TEST(ToSingle, RoundsToSinglePrecisionAndRaisesBeyondItsRange)
{
    EXPECT_EQ(toSingle(9000.0 * 800 / 9015 * 15), 11980.033203125f);
    EXPECT_EQ(toSingle(10500.0 * 800 / 14985 * 15), 8408.408203125f);
    EXPECT_EQ(kindRaisedBy([] { toSingle(1e39); }), ErrorKind::Overflow);
}

} // namespace
} // namespace korvane
