#include "runtime/core/internal/core.h"

#include <gtest/gtest.h>

#include <string>

TEST(StringWorkspace, GrowsByTheMarginRuleAndNeverShrinks) {
    // The runner's workspace is fresh: 16 bytes.
    String_End();
    String_Init();
    ASSERT_EQ(String_Capacity(), 16u);
    const size_t mark = String_Position();
    ASSERT_EQ(mark, 0u);

    // 10 bytes end 6 bytes before the capacity: no growth.
    ASSERT_TRUE(String_Append(L"abcde", 5));
    EXPECT_EQ(String_Capacity(), 16u);
    // Ending at 12, exactly 4 bytes before the capacity, grows to 12 + 16384.
    ASSERT_TRUE(String_Append(L"f", 1));
    EXPECT_EQ(String_Capacity(), 12u + 16384u);
    EXPECT_EQ(std::wstring(String_At(mark)), L"abcdef");

    RtStringOwner copied(String_Finish(mark));
    EXPECT_STREQ(copied.get(), L"abcdef");
    EXPECT_EQ(String_Position(), mark);
    EXPECT_EQ(String_Capacity(), 12u + 16384u) << "the buffer never shrinks";

    // A large piece grows straight to its end plus 16 KiB.
    const std::wstring big(20000, L'x');
    ASSERT_TRUE(String_Append(big.c_str(), big.size()));
    EXPECT_EQ(String_Capacity(), 40000u + 16384u);
    RtStringOwner big_copy(String_Finish(mark));
    EXPECT_EQ(std::wstring(big_copy.get()), big);
}

TEST(StringWorkspace, ExpressionsNestAtTheCallersPosition) {
    const size_t outer = String_Position();
    ASSERT_TRUE(String_Append(L"outer-", 6));
    // A string result built inside an expression leaves the outer piece alone.
    RtStringOwner inner(String_Concat(L"in", L"ner"));
    EXPECT_STREQ(inner.get(), L"inner");
    EXPECT_EQ(String_Position(), outer + 12);
    ASSERT_TRUE(String_Append(inner.get(), 5));
    RtStringOwner whole(String_Finish(outer));
    EXPECT_STREQ(whole.get(), L"outer-inner");
    EXPECT_EQ(String_Position(), outer);

    RtStringOwner empty(String_Concat(nullptr, nullptr));
    EXPECT_STREQ(empty.get(), L"");
    EXPECT_EQ(String_Length(nullptr), 0u);
}

TEST(StringFind, FollowsItsPositionRules) {
    EXPECT_EQ(String_Find(nullptr, L"a", 1), 0);
    EXPECT_EQ(String_Find(L"abc", nullptr, 1), 0);
    EXPECT_EQ(String_Find(L"", L"a", 1), 0);
    EXPECT_EQ(String_Find(L"abc", L"", 1), 0);

    EXPECT_EQ(String_Find(L"Opération réussie", L"ussi", 0), 13);
    EXPECT_EQ(String_Find(L"ussi", L"ussi", -5), 1) << "a start below 1 counts as 1";
    EXPECT_EQ(String_Find(L"abcabc", L"abc", 2), 4);
    EXPECT_EQ(String_Find(L"abcabc", L"abc", 4), 4);
    EXPECT_EQ(String_Find(L"abcabc", L"abc", 5), 0);
    EXPECT_EQ(String_Find(L"abc", L"c", 3), 3);
    EXPECT_EQ(String_Find(L"abc", L"c", 4), 0) << "a start past the end finds nothing";
    EXPECT_EQ(String_Find(L"abc", L"c", INT32_MAX), 0);
    EXPECT_EQ(String_Find(L"USSI Ussi uSsi", L"ussi", 1), 0) << "the search is case-sensitive";
    EXPECT_EQ(String_Find(L"us\rsi", L"ussi", 1), 0);
}

TEST(StringNumbers, WritesDecimalsAfterThePrefixAndStopsAtTheEnd) {
    wchar_t text[64];
    String_Numbers(text, 64, L"WindowClass_", {0});
    EXPECT_STREQ(text, L"WindowClass_0");
    String_Numbers(text, 64, L"", {13100, -1, INT64_MAX, INT64_MIN});
    EXPECT_STREQ(text, L"13100:-1:9223372036854775807:-9223372036854775808");
    String_Numbers(text, 8, L"Tavi_", {123456});
    EXPECT_STREQ(text, L"Tavi_12") << "cut at the buffer's end, still terminated";
}
