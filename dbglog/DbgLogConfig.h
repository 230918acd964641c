// Settings of the diagnostic log, read from DbgLog.ini beside the program.
// Each key is read once, at its first need, and kept for the whole run.
#pragma once

class DbgLogConfig {
public:
    static const wchar_t* iniPath();
    static const wchar_t* logFile();

    static int destination() { return inRange(s_destination.get(L"Destination", 0), 0, 4, 0); }
    static int level() { return inRange(s_level.get(L"Level", 0), 0, 3, 0); }
    static int sourceFileFormat() { return inRange(s_sourceFileFormat.get(L"SourceFileFormat", 0), 0, 1, 0); }
    static int timeDateFormat() { return inRange(s_timeDateFormat.get(L"TimeDateFormat", 1), 0, 3, 1); }
    static bool flush() { return s_flush.get(L"Flush", 1) != 0; }

private:
    // A process-wide slot with its "read" flag; constant-initialised, so the
    // log can be used from any static constructor.
    struct IntSetting {
        bool read;
        int raw;
        int get(const wchar_t* key, int defaultValue)
        {
            if (!read) load(key, defaultValue);
            return raw;
        }
        void load(const wchar_t* key, int defaultValue);
    };

    static int inRange(int value, int low, int high, int otherwise)
    {
        return value >= low && value <= high ? value : otherwise;
    }

    static inline IntSetting s_destination{};
    static inline IntSetting s_level{};
    static inline IntSetting s_sourceFileFormat{};
    static inline IntSetting s_timeDateFormat{};
    static inline IntSetting s_flush{};
};
