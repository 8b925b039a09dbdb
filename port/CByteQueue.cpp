#include "port/CByteQueue.h"

#include <cstring>

CByteQueue::CByteQueue()
{
    std::memset(m_data, 0, sizeof m_data);
}

CByteQueue::~CByteQueue() = default;

void CByteQueue::Push(std::uint8_t byte)
{
    int tail = m_tail.load(std::memory_order_relaxed);
    m_data[tail] = byte;
    m_tail.store((tail + 1) % kSize, std::memory_order_release);
}

bool CByteQueue::TryPush(std::uint8_t byte)
{
    int tail = m_tail.load(std::memory_order_relaxed);
    int next = (tail + 1) % kSize;
    if (next == m_head.load(std::memory_order_acquire))
        return false;
    m_data[tail] = byte;
    m_tail.store(next, std::memory_order_release);
    return true;
}

std::uint8_t CByteQueue::Pop()
{
    int head = m_head.load(std::memory_order_relaxed);
    // Pairs with the producer's release of tail: the byte at head is written.
    (void)m_tail.load(std::memory_order_acquire);
    std::uint8_t byte = m_data[head];
    m_head.store((head + 1) % kSize, std::memory_order_release);
    return byte;
}

bool CByteQueue::IsEmpty() const
{
    return m_head.load(std::memory_order_acquire) == m_tail.load(std::memory_order_acquire);
}

int CByteQueue::Count() const
{
    int head = m_head.load(std::memory_order_acquire);
    int tail = m_tail.load(std::memory_order_acquire);
    return (tail - head + kSize) % kSize;
}

void CByteQueue::Clear()
{
    m_head.store(0, std::memory_order_relaxed);
    m_tail.store(0, std::memory_order_relaxed);
    std::memset(m_data, 0, sizeof m_data);
    std::atomic_thread_fence(std::memory_order_release);
}
