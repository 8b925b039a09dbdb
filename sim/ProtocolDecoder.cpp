#include "sim/ProtocolDecoder.h"

#include <algorithm>
#include <cassert>

void ProtocolDecoder::begin()
{
    m_frame.clear();
    // Every frame's lead is at least two bytes long: the command byte and what it selects.
    m_need = 2;
    m_inFrame = true;
    m_stop = false;
    started();
}

size_t ProtocolDecoder::feed(const uint8_t* data, size_t size)
{
    size_t i = 0;
    while (i < size && m_inFrame)
        i += collect(data + i, size - i);
    return i;
}

size_t ProtocolDecoder::collect(const uint8_t* data, size_t size)
{
    // complete() always asks for more or ends the frame; anything else would stall the reader.
    assert(m_need > m_frame.size());
    const size_t n = std::min(size, m_need - m_frame.size());
    m_frame.insert(m_frame.end(), data, data + n);
    if (m_frame.size() >= m_need)
        complete();
    return n;
}

std::vector<uint8_t> ProtocolDecoder::takeFrame()
{
    std::vector<uint8_t> frame = std::move(m_frame);
    m_frame.clear();
    m_need = 0;
    m_inFrame = false;
    return frame;
}

bool ProtocolDecoder::takeStop()
{
    const bool stop = m_stop;
    m_stop = false;
    return stop;
}

void ProtocolDecoder::finish()
{
    if (!m_inFrame)
        return;
    emit(SimEvent("incomplete").hex("bytes", m_frame));
    takeFrame();
}

bool ProtocolDecoder::haveParenBody()
{
    if (m_frame.size() < 5) {
        m_need = 5;
        return false;
    }
    // pL pH count the body, at most 65535 bytes: buffered whole, it is small.
    const size_t len = m_frame[3] | (m_frame[4] << 8);
    if (m_frame.size() < 5 + len) {
        m_need = 5 + len;
        return false;
    }
    return true;
}
