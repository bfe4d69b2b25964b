// Bounded text helpers: the formatter behind the progress texts, and the
// limits of every copy.
#include <gtest/gtest.h>

#include <climits>

#include "common/WideText.h"

TEST(WideText, FormatsCountsLikeTheWideFormatter)
{
    wchar_t out[64];
    const wchar_t* pattern = L"Installing CAB file %ld... Please Wait...";
    ASSERT_TRUE(formatCount(out, 64, pattern, 3));
    EXPECT_STREQ(out, L"Installing CAB file 3... Please Wait...");
    ASSERT_TRUE(formatCount(out, 64, pattern, 0));
    EXPECT_STREQ(out, L"Installing CAB file 0... Please Wait...");
    ASSERT_TRUE(formatCount(out, 64, pattern, -2));
    EXPECT_STREQ(out, L"Installing CAB file -2... Please Wait...");
    ASSERT_TRUE(formatCount(out, 64, L"%ld", INT_MIN));
    EXPECT_STREQ(out, L"-2147483648");
    ASSERT_TRUE(formatCount(out, 64, L"%ld", INT_MAX));
    EXPECT_STREQ(out, L"2147483647");
}

TEST(WideText, NothingIsWrittenPastTheCapacity)
{
    wchar_t out[8];
    for (wchar_t& c : out)
        c = L'#';
    EXPECT_FALSE(formatCount(out, 5, L"ab%ld", 1234));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[5], L'#');
    EXPECT_TRUE(formatCount(out, 5, L"a%ld", 123));
    EXPECT_STREQ(out, L"a123");

    EXPECT_TRUE(copyText(out, 5, L"abcd"));
    EXPECT_FALSE(copyText(out, 5, L"abcde"));
    EXPECT_STREQ(out, L"");
    EXPECT_TRUE(copyText(out, 5, L"ab"));
    EXPECT_FALSE(appendText(out, 5, L"cde"));
    EXPECT_STREQ(out, L"ab") << "a failed append leaves the text unchanged";
    EXPECT_TRUE(appendText(out, 5, L"cd"));
    EXPECT_STREQ(out, L"abcd");
    EXPECT_EQ(out[5], L'#');
}

TEST(WideText, CabExtensionTestIgnoresCaseOnly)
{
    EXPECT_TRUE(endsWithIgnoringCase(L"a.CaB", L".cab"));
    EXPECT_TRUE(endsWithIgnoringCase(L".cab", L".cab"));
    EXPECT_FALSE(endsWithIgnoringCase(L"a.cabinet", L".cab"));
    EXPECT_FALSE(endsWithIgnoringCase(L"cab", L".cab"));
    EXPECT_FALSE(endsWithIgnoringCase(L"a.cab ", L".cab"));
    EXPECT_TRUE(textEqual(L"MSWCELOAD", L"MSWCELOAD"));
    EXPECT_FALSE(textEqual(L"MSWCELOAD", L"mswceload"));
    EXPECT_FALSE(textEqual(L"MSWCELOAD", L"MSWCELOAD2"));
}
