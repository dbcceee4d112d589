#pragma once

// SHA-256 (FIPS 180-4) of bytes in memory or of a whole file, as lower-case hex.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256
{
public:
    // The processor's SHA extensions are used where it has them, unless
    // portableOnly (so that the tests check both ways).
    explicit Sha256(bool portableOnly = false);
    void update(const void* bytes, std::size_t count);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string finishHex();

private:
    void compress(const std::uint8_t* blocks, std::size_t count);

    std::array<std::uint32_t, 8> state;
    std::array<std::uint8_t, 64> pending {};
    std::size_t pendingCount = 0;
    std::uint64_t totalBytes = 0;
    bool hardware = false;
};

std::string sha256Hex(const void* bytes, std::size_t count);

// False with error set when the file cannot be read.
bool sha256OfFile(const std::string& path, std::string& hex, std::string& error);
