// The message of a log line from the site's printf-style format.
#pragma once

#include <cstdarg>

// Formats into `room` units (terminator included): the length, or -1 when
// the message had to be cut (it is then terminated at room - 1), as the
// runtime's _vsnwprintf_s with _TRUNCATE does. Formats that use only %s
// (wide text), %d, %u, %x and %% are written here; anything else goes to
// the runtime, so the text is the same either way.
int formatMessage(wchar_t* buffer, int room, const wchar_t* format, va_list args);
