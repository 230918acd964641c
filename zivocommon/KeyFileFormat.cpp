#include "KeyFileFormat.h"

#include <cstring>

namespace keyfile {

namespace {

const std::uint8_t kMagic[4] = {'Z', 'V', 'K', 'Y'};

std::uint16_t read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t read32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

} // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool isKeyLength(std::size_t length)
{
    return length == 16 || length == 24 || length == 32;
}

std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& key, std::uint32_t createdAt)
{
    std::vector<std::uint8_t> out(kMagic, kMagic + 4);
    put16(out, kVersion);
    put16(out, static_cast<std::uint16_t>(key.size()));
    put32(out, 0);
    put32(out, createdAt);
    out.insert(out.end(), key.begin(), key.end());
    put32(out, crc32(out.data(), out.size()));
    return out;
}

Verdict decode(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& key)
{
    if (size < kHeaderBytes + kChecksumBytes || size > kMaxFileBytes) return Verdict::WrongSize;
    if (std::memcmp(data, kMagic, 4) != 0) return Verdict::WrongMagic;
    if (read16(data + 4) != kVersion) return Verdict::WrongVersion;
    const std::size_t length = read16(data + 6);
    if (!isKeyLength(length) || read32(data + 8) != 0) return Verdict::WrongKeyLength;
    if (size != kHeaderBytes + length + kChecksumBytes) return Verdict::WrongSize;
    if (read32(data + kHeaderBytes + length) != crc32(data, kHeaderBytes + length)) return Verdict::WrongChecksum;
    key.assign(data + kHeaderBytes, data + kHeaderBytes + length);
    return Verdict::Usable;
}

} // namespace keyfile
