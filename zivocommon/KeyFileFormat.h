// The key file format of the stand-in key library, version 1.
//
//   offset  size  field
//   0       4     magic "ZVKY"
//   4       2     format version, little-endian: 1
//   6       2     key length in bytes: 16, 24 or 32
//   8       4     flags: 0
//   12      4     creation time, seconds since 1970 (informational)
//   16      n     key bytes
//   16 + n  4     CRC-32 (IEEE 802.3) of every byte before it
//
// A file is a usable key only when its size is exactly 20 + n and every
// field and the checksum agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keyfile {

constexpr std::size_t kHeaderBytes = 16;
constexpr std::size_t kChecksumBytes = 4;
constexpr std::size_t kMaxKeyBytes = 32;
constexpr std::size_t kMaxFileBytes = kHeaderBytes + kMaxKeyBytes + kChecksumBytes;
constexpr std::uint16_t kVersion = 1;

enum class Verdict {
    Usable = 0,
    WrongSize,
    WrongMagic,
    WrongVersion,
    WrongKeyLength,
    WrongChecksum,
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t size);
bool isKeyLength(std::size_t length);

// A complete key file for the given key bytes (16, 24 or 32 of them).
std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& key, std::uint32_t createdAt);

// Checks a whole file; on success `key` holds the key bytes.
Verdict decode(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& key);

} // namespace keyfile
