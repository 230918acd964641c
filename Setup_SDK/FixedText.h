// Joining texts in fixed, zero-filled buffers. A text that would not fit is
// refused whole: the buffer is never written past and never holds a path cut
// into another one.
#pragma once

#include <cstddef>
#include <cwchar>

// Appends `text`; false, with the buffer unchanged, when the result and its
// terminator would not fit into `capacity` characters.
inline bool appendText(wchar_t* buffer, std::size_t capacity, const wchar_t* text)
{
    const std::size_t used = wcsnlen(buffer, capacity);
    const std::size_t extra = wcslen(text);
    if (used >= capacity || extra >= capacity - used) return false;
    wmemcpy(buffer + used, text, extra + 1);
    return true;
}

template <std::size_t N>
bool appendText(wchar_t (&buffer)[N], const wchar_t* text)
{
    return appendText(buffer, N, text);
}

// Clears the buffer, then appends each text in turn.
template <std::size_t N, class... Texts>
bool joinText(wchar_t (&buffer)[N], const Texts*... texts)
{
    wmemset(buffer, L'\0', N);
    const bool whole = (appendText(buffer, N, texts) && ...);
    if (!whole) wmemset(buffer, L'\0', N);
    return whole;
}
