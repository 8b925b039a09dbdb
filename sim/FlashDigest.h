#pragma once
// A digest of the bytes written into a flash area, so that a test can tell that the right
// bytes arrived in the right order from the right place of an image, not merely the right
// count and 16-bit sum. FNV-1a 64: simple enough for a test to compute on its own side.
#include <cstdint>
#include <cstdio>
#include <string>

class FlashDigest {
public:
    void add(const uint8_t* data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            m_hash ^= data[i];
            m_hash *= 0x100000001B3ULL;
        }
    }
    // "fnv64-" and 16 lower-case hex digits.
    std::string text() const
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "fnv64-%016llx", static_cast<unsigned long long>(m_hash));
        return buf;
    }

private:
    uint64_t m_hash = 0xCBF29CE484222325ULL;
};
