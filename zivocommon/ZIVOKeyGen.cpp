// Writes key files in the stand-in library's format, for the demo and tests:
//   ZIVOKeyGen <file> [key length 16|24|32] [seed]
// The same seed gives the same key.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "KeyFileFormat.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        (void)std::fprintf(stderr, "usage: ZIVOKeyGen <file> [16|24|32] [seed]\n");
        return 2;
    }
    const std::size_t length = argc > 2 ? static_cast<std::size_t>(_wtoi(argv[2])) : 32;
    if (!keyfile::isKeyLength(length)) {
        (void)std::fprintf(stderr, "key length must be 16, 24 or 32\n");
        return 2;
    }
    std::uint32_t state = argc > 3 ? static_cast<std::uint32_t>(_wtoi(argv[3])) : static_cast<std::uint32_t>(std::time(nullptr));
    std::vector<std::uint8_t> key(length);
    for (auto& byte : key) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    const std::vector<std::uint8_t> file = keyfile::encode(key, static_cast<std::uint32_t>(std::time(nullptr)));
    FILE* out = _wfopen(argv[1], L"wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size()) {
        (void)std::fprintf(stderr, "cannot write the key file\n");
        if (out) (void)std::fclose(out);
        return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
