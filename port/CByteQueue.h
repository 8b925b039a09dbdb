#pragma once
// The receive ring of the tool: 4096 bytes, 4095 usable (head == tail means empty). One
// producer thread and one consumer thread, no lock: the producer stores the byte before it
// publishes the new tail (release), the consumer reads the byte before it publishes the new
// head (release); each side loads the other's index with acquire.
#include <atomic>
#include <cstdint>

class CByteQueue {
public:
    static constexpr int kSize = 4096;
    static constexpr int kCapacity = kSize - 1;

    CByteQueue();
    virtual ~CByteQueue();
    CByteQueue(const CByteQueue&) = delete;
    CByteQueue& operator=(const CByteQueue&) = delete;

    // Producer only. Does not check for a full ring (a push into 4095 held bytes makes the
    // ring look empty): producers check Count() first, or use TryPush.
    void Push(std::uint8_t byte);
    // Producer only. Refuses the byte (false) when 4095 bytes are held.
    bool TryPush(std::uint8_t byte);
    // Consumer only. Does not check for an empty ring: consumers check IsEmpty() first.
    std::uint8_t Pop();

    // Either side may ask; the answer is a snapshot.
    bool IsEmpty() const;
    int Count() const;
    bool IsFull() const { return Count() == kCapacity; }

    // Empties the ring and zeroes the storage. Consumer only, and only while no producer
    // pushes (the owner of the producer has stopped it, or the producer is the caller).
    void Clear();

private:
    std::atomic<int> m_head{0};
    std::atomic<int> m_tail{0};
    std::uint8_t m_data[kSize];
};
