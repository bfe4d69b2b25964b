// The bounded text helpers: the formatter behind the progress texts, and the
// limits of every copy.
#include <gtest/gtest.h>

#include <climits>

#include "common/WideText.h"

TEST(WideText, FormatsCountsLikeTheWideFormatter)
{
    struct Case {
        const wchar_t* pattern;
        int value;
        const wchar_t* out;
    };
    const Case cases[] = {{L"file %ld... Wait", 3, L"file 3... Wait"},
                          {L"%ld", 0, L"0"},
                          {L"(%ld)", -2, L"(-2)"},
                          {L"%ld", INT_MIN, L"-2147483648"},
                          {L"%ld", INT_MAX, L"2147483647"}};
    for (const Case& c : cases) {
        wchar_t out[64];
        ASSERT_TRUE(vorlund::formatCount(out, 64, c.pattern, c.value));
        EXPECT_STREQ(out, c.out);
    }
}

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
