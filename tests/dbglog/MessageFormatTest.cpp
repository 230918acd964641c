// The log formats its common messages by hand: the text must be the
// runtime's, whole or cut, for every conversion it takes over.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cwchar>
#include <string>

#include "MessageFormat.h"

namespace {

struct Formatted {
    int result;
    std::wstring text;
    bool operator==(const Formatted& other) const { return result == other.result && text == other.text; }
};

Formatted ours(int room, const wchar_t* format, ...)
{
    wchar_t buffer[600];
    wmemset(buffer, L'#', 600);
    va_list args;
    va_start(args, format);
    const int result = formatMessage(buffer, room, format, args);
    va_end(args);
    return {result, buffer};
}

Formatted runtime(int room, const wchar_t* format, ...)
{
    wchar_t buffer[600];
    wmemset(buffer, L'#', 600);
    va_list args;
    va_start(args, format);
    const int result = _vsnwprintf_s(buffer, static_cast<size_t>(room), _TRUNCATE, format, args);
    va_end(args);
    return {result, buffer};
}

std::string show(const Formatted& f)
{
    std::string text;
    for (wchar_t c : f.text) text += c < 128 ? static_cast<char>(c) : '?';
    return std::to_string(f.result) + " \"" + text + "\"";
}

} // namespace

#define EXPECT_SAME_TEXT(room, ...) \
    EXPECT_EQ(show(runtime(room, __VA_ARGS__)), show(ours(room, __VA_ARGS__))) << "room " << (room)

TEST(MessageFormat, PlainConversionsGiveTheRuntimesText)
{
    EXPECT_SAME_TEXT(512, L"Error Code: 0x%x", 0x80004005u);
    EXPECT_SAME_TEXT(512, L"Error Code: 0x%x", 0u);
    EXPECT_SAME_TEXT(512, L"Error Code: 0x%x", 0xFFFFFFFFu);
    EXPECT_SAME_TEXT(512, L"ASSERT( %s )", L"NULL != s_pThis");
    EXPECT_SAME_TEXT(512, L"%s = %s", L"value", L"100% sure %s %d");
    EXPECT_SAME_TEXT(512, L"%d %d %d %u", 0, -1, INT_MIN, 4294967295u);
    EXPECT_SAME_TEXT(512, L"%d", INT_MAX);
    EXPECT_SAME_TEXT(512, L"100%% done, %s", static_cast<const wchar_t*>(nullptr));
    EXPECT_SAME_TEXT(512, L"");
    EXPECT_SAME_TEXT(512, L"A\u00e9\u0100 %s", L"\U0001F600");
}

TEST(MessageFormat, CutMessagesAreTheRuntimes)
{
    for (int room = 1; room <= 40; ++room) {
        EXPECT_SAME_TEXT(room, L"%s = %s", L"strRootKeyPath.c_str()", L"C:\\Users\\demo\\ZIVORoot.key");
        EXPECT_SAME_TEXT(room, L"Error Code: 0x%x", 0x80070002u);
        EXPECT_SAME_TEXT(room, L"%d and %d", -123456, 7890);
    }
}

TEST(MessageFormat, OtherFormatsGoToTheRuntime)
{
    EXPECT_SAME_TEXT(512, L"%08x|%-5d|%.3s|%5s", 0x2Au, 7, L"abcdef", L"ab");
    EXPECT_SAME_TEXT(512, L"%lu %lld %c", 5ul, -5ll, L'z');
    EXPECT_SAME_TEXT(512, L"trailing %");
    EXPECT_SAME_TEXT(8, L"%08x and more", 0x2Au);
}
