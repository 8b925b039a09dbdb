#pragma once
// The escape coding of the printer's USB replies: the printer sends 00 as 1B 30 and 1B as
// 1B 1B; 1B before any other byte stands for that byte. A reply comes in several reads, so
// an escape byte that ends one read is paired with the first byte of the next.
#include <cstdint>
#include <vector>

class UsbReplyDecoder {
public:
    // Decodes length bytes and appends the result to out.
    void feed(const std::uint8_t* data, int length, std::vector<std::uint8_t>& out);
    // The reply is over: an escape still waiting for its partner is given as the byte 1B
    // itself (so nothing the printer sent is lost), and the decoder starts afresh.
    void finish(std::vector<std::uint8_t>& out);
    bool pendingEscape() const { return m_pendingEscape; }

private:
    bool m_pendingEscape = false;
};
