#include "setup/SetupReplyParser.h"

namespace {
constexpr std::uint8_t kHeader = 0x37;
constexpr std::uint8_t kIdentifier = 0x27;
constexpr std::uint8_t kSeparator = 0x1F;
constexpr std::uint8_t kTerminator = 0x00;
} // namespace

void SetupReplyParser::reset()
{
    m_header = false;
    m_identifier = 0;
    m_separator = false;
    m_digitCount = 0;
    m_number = 0;
    m_dataLength = 0;
    m_data.fill('\0');
    m_invalid = false;
}

std::optional<SetupReplyParser::Reply> SetupReplyParser::feed(std::uint8_t b)
{
    if (!m_header) {
        if (b == kHeader)
            m_header = true;
        return std::nullopt;
    }
    if (m_identifier == 0) {
        if (b == kIdentifier)
            m_identifier = b;
        return std::nullopt;
    }
    if (!m_separator) {
        if (b == kSeparator) {
            m_separator = true;
            return std::nullopt;
        }
        if (b < '0' || b > '9') {
            m_invalid = true;
        } else if (m_digitCount < 3) {
            m_number = m_number * 10 + (b - '0');
            if (m_number > 255)
                m_invalid = true;
        }
        if (m_digitCount < 255)
            ++m_digitCount;
        return std::nullopt;
    }
    if (b == kTerminator) {
        std::optional<Reply> reply;
        if (m_invalid)
            ++m_dropped;
        else
            reply = Reply{m_number, std::string(m_data.data(), static_cast<std::size_t>(m_dataLength))};
        reset();
        return reply;
    }
    if (m_dataLength < kMaxDataLength)
        m_data[static_cast<std::size_t>(m_dataLength++)] = static_cast<char>(b);
    else
        m_invalid = true;
    return std::nullopt;
}
