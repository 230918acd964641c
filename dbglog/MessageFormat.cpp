#include "MessageFormat.h"

#include <cwchar>

#include "LineText.h"

namespace {

// True when every conversion is one of %s, %d, %u, %x and %%, with no flags,
// width, precision or size.
bool isPlainFormat(const wchar_t* format)
{
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (*p != L'%') continue;
        ++p;
        if (*p != L's' && *p != L'd' && *p != L'u' && *p != L'x' && *p != L'%') return false;
    }
    return true;
}

} // namespace

int formatMessage(wchar_t* buffer, int room, const wchar_t* format, va_list args)
{
    if (room <= 0) return -1;
    if (!isPlainFormat(format)) {
        buffer[0] = L'\0';
        return _vsnwprintf_s(buffer, static_cast<size_t>(room), _TRUNCATE, format, args);
    }
    LineText text(buffer, room - 1);
    for (const wchar_t* p = format; *p != L'\0' && !text.cut(); ++p) {
        if (*p != L'%') {
            text.put(*p);
            continue;
        }
        switch (*++p) {
        case L's': {
            const wchar_t* value = va_arg(args, const wchar_t*);
            text.put(value != nullptr ? value : L"(null)");
            break;
        }
        case L'd':
            text.putSigned(va_arg(args, int));
            break;
        case L'u':
            text.putUnsigned(va_arg(args, unsigned));
            break;
        case L'x':
            text.putUnsigned(va_arg(args, unsigned), 16);
            break;
        default:
            text.put(L'%');
            break;
        }
    }
    return text.finish();
}
