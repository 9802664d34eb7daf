#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(Text, Utf8RoundTripThroughUtf16)
{
    const char* samples[] = {"plain", "Dokument für Übersicht.docx", "报告.doc", "emoji \xF0\x9F\x98\x80 x", ""};
    for (const char* s : samples) {
        SCOPED_TRACE(s);
        int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
        ASSERT_GT(n, 0);
        std::u16string w((size_t)n, u'\0');
        ASSERT_EQ(n, MultiByteToWideChar(CP_ACP, 0, s, -1, &w[0], n));
        EXPECT_EQ(u'\0', w[(size_t)n - 1]);
        int m = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string back((size_t)m, '\0');
        ASSERT_EQ(m, WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, &back[0], m, nullptr, nullptr));
        EXPECT_STREQ(s, back.c_str());
    }
    WCHAR w[8];
    ASSERT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "\xF0\x9F\x98\x80", -1, w, 8));  // surrogate pair + 0
    EXPECT_EQ(0xD83D, w[0]);
    EXPECT_EQ(0xDE00, w[1]);
}

TEST(Text, InvalidInputAndShortBuffers)
{
    WCHAR w[8];
    ASSERT_EQ(4, MultiByteToWideChar(CP_ACP, 0, "a\xC3" "b", -1, w, 8));  // truncated sequence
    EXPECT_EQ(0xFFFD, w[1]);
    EXPECT_EQ(u'b', w[2]);
    WCHAR sentinel[3] = {0x1111, 0x1111, 0x1111};
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", -1, sentinel, 2));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(0x1111, sentinel[0]);
    const WCHAR lone[] = {u'a', 0xD800, u'b', 0};
    char out[16];
    ASSERT_EQ(6, WideCharToMultiByte(CP_ACP, 0, lone, -1, out, sizeof out, nullptr, nullptr));
    EXPECT_STREQ("a\xEF\xBF\xBD" "b", out);
}

}  // namespace
