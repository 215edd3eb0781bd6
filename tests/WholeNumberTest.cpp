// Whole numbers of the command lines, up to the largest range.

#include "cli/WholeNumber.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(WholeNumber, DigitsWithinTheRangeAndNothingElseWhateverTheRange) {
    const struct {
        const char* text;
        unsigned long min, max;
        bool accepted;
        unsigned long value;
    } cases[] = {
        {"3", 1, 4, true, 3},
        {"08", 1, 8, true, 8},
        {"0", 1, 4, false, 0},
        {"5", 1, 4, false, 0},
        {"", 0, 9, false, 0},
        {" 2", 1, 4, false, 0},
        {"2x", 1, 4, false, 0},
        {"-1", 0, 9, false, 0},
        {"+1", 0, 9, false, 0},
        {"7", 0, 0, false, 0},
        {"0", 0, 0, true, 0},
        // At the top of the range a last digit must not wrap the value round to something small.
        {"1844674407370955161", 0, ULONG_MAX / 10, true, ULONG_MAX / 10},
        {"18446744073709551616", 0, ULONG_MAX / 10, false, 0},
        {"18446744073709551615", 0, ULONG_MAX, true, ULONG_MAX},
        {"18446744073709551616", 0, ULONG_MAX, false, 0},
        {"000000000000000000000000000042", 0, ULONG_MAX, true, 42},
    };
    for (const auto& c : cases) {
        unsigned long value = 77;
        EXPECT_EQ(c.accepted, ParseWholeNumber(c.text, c.min, c.max, &value))
            << c.text << " in " << c.min << ".." << c.max;
        EXPECT_EQ(c.accepted ? c.value : 77, value) << c.text;
    }
}

} // namespace
