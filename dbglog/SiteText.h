// Compile-time texts for log sites: the source file as a wide Windows path
// and the " (Qualified::name)" text of the enclosing function.
#pragma once

#include <cstddef>

namespace dbglog {

template <std::size_t N>
struct WideText {
    wchar_t text[N];
};

// The build may hand "/" separators; log records use Windows separators.
template <std::size_t N>
constexpr WideText<N> sourceText(const char (&file)[N])
{
    WideText<N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        const char c = file[i];
        out.text[i] = c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return out;
}

// Accepts both MSVC's __FUNCTION__ ("ImportDlg::_dialogProc") and GCC's
// __PRETTY_FUNCTION__ ("static INT_PTR ImportDlg::_dialogProc(HWND, ...)"):
// the name ends at the parameter list and starts after the return type.
template <std::size_t N>
constexpr WideText<N + 3> functionText(const char (&signature)[N])
{
    std::size_t end = 0;
    int depth = 0;
    while (end + 1 < N) {
        const char c = signature[end];
        if (c == '<') ++depth;
        else if (c == '>') --depth;
        else if (c == '(' && depth == 0) break;
        ++end;
    }
    std::size_t begin = end;
    depth = 0;
    while (begin > 0) {
        const char c = signature[begin - 1];
        if (c == '>') ++depth;
        else if (c == '<') --depth;
        else if (depth == 0 && (c == ' ' || c == '*' || c == '&')) break;
        --begin;
    }
    WideText<N + 3> out{};
    std::size_t k = 0;
    out.text[k++] = L' ';
    out.text[k++] = L'(';
    for (std::size_t i = begin; i < end; ++i)
        out.text[k++] = static_cast<wchar_t>(static_cast<unsigned char>(signature[i]));
    out.text[k++] = L')';
    out.text[k] = L'\0';
    return out;
}

} // namespace dbglog

#if defined(_MSC_VER)
#define DBGLOG_FUNCTION_SIGNATURE_ __FUNCTION__
#else
#define DBGLOG_FUNCTION_SIGNATURE_ __PRETTY_FUNCTION__
#endif
