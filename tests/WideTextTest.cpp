// The bounded text helpers at their limits: nothing is written past a buffer
// (the progress tests cover what the formatter writes).
#include <gtest/gtest.h>

#include "base/WideText.h"

TEST(WideText, NothingIsWrittenPastTheCapacity)
{
    wchar_t out[8];
    std::fill(out, out + 8, L'#');
    EXPECT_FALSE(vorlund::formatCount(out, 5, L"ab%ld", 1234));
    EXPECT_EQ(out[0], 0);
    EXPECT_TRUE(vorlund::formatCount(out, 5, L"a%ld", 123));
    EXPECT_STREQ(out, L"a123");
    out[4] = L'#';
    EXPECT_FALSE(vorlund::formatCount(out, 4, L"%ldab", 12)) << "a pattern character past it";
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(out[4], L'#');
    EXPECT_FALSE(vorlund::copyText(out, 5, L"abcde"));
    EXPECT_STREQ(out, L"");
    EXPECT_TRUE(vorlund::copyText(out, 5, L"ab"));
    EXPECT_FALSE(vorlund::appendText(out, 5, L"cde"));
    EXPECT_STREQ(out, L"ab") << "a failed append leaves the text unchanged";
    EXPECT_TRUE(vorlund::appendText(out, 5, L"cd"));
    EXPECT_STREQ(out, L"abcd");
    EXPECT_EQ(out[5], L'#');
}
