// Appends text and numbers to a fixed wide buffer. What does not fit is cut
// and remembered, so a line is built without the runtime's printf engine.
#pragma once

#include <cstddef>

class LineText {
public:
    // Room for `capacity` characters, the terminating zero not included.
    LineText(wchar_t* buffer, int capacity) : m_buffer(buffer), m_capacity(capacity < 0 ? 0 : capacity) {}

    void put(wchar_t c)
    {
        if (m_length < m_capacity)
            m_buffer[m_length++] = c;
        else
            m_cut = true;
    }
    void put(const wchar_t* text)
    {
        for (; *text != L'\0'; ++text) put(*text);
    }
    void putUnsigned(unsigned long long value, unsigned base = 10, int minDigits = 1)
    {
        wchar_t digits[24];
        int count = 0;
        do {
            const unsigned digit = static_cast<unsigned>(value % base);
            digits[count++] = static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'a' + digit - 10);
            value /= base;
        } while (value != 0 || count < minDigits);
        while (count > 0) put(digits[--count]);
    }
    void putSigned(long long value)
    {
        if (value < 0) put(L'-');
        putUnsigned(value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value));
    }

    // Terminates the text; its length, or -1 when something was cut.
    int finish()
    {
        m_buffer[m_length] = L'\0';
        return m_cut ? -1 : m_length;
    }
    int length() const { return m_length; }
    bool cut() const { return m_cut; }

private:
    wchar_t* m_buffer;
    int m_capacity;
    int m_length = 0;
    bool m_cut = false;
};
