// platform/Ring.h: a bounded first-in, first-out ring in which every slot is usable: a full flag
// tells a full ring from an empty one when the read index meets the write index.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace platform {

// Not locked: the owner guards it. Slots are kept and reused, so a slot's buffer can keep its
// capacity from one item to the next.
template <typename T> class Ring
{
public:
    explicit Ring(std::size_t capacity) : m_slots(capacity) {}

    std::size_t capacity() const { return m_slots.size(); }
    bool empty() const { return m_read == m_write && !m_full; }
    bool full() const { return m_full; }
    std::size_t size() const
    {
        if (m_full)
            return m_slots.size();
        return (m_write + m_slots.size() - m_read) % m_slots.size();
    }

    // The slot the next item goes into, already counted as filled; null when full.
    T* pushSlot()
    {
        if (m_full)
            return nullptr;
        T* slot = &m_slots[m_write];
        if (++m_write == m_slots.size())
            m_write = 0;
        m_full = m_write == m_read;
        return slot;
    }

    // False when full; the item is not stored.
    bool push(T item)
    {
        T* slot = pushSlot();
        if (!slot)
            return false;
        *slot = std::move(item);
        return true;
    }

    // The oldest item; null when empty.
    T* front() { return empty() ? nullptr : &m_slots[m_read]; }
    const T* front() const { return empty() ? nullptr : &m_slots[m_read]; }

    // Releases the oldest slot with release(slot) and moves on; nothing when empty.
    template <typename Release> void pop(Release release)
    {
        if (empty())
            return;
        release(m_slots[m_read]);
        if (++m_read == m_slots.size())
            m_read = 0;
        m_full = false;
    }

    // Resets the oldest slot to an empty item and moves on; nothing when empty.
    void pop()
    {
        pop([](T& slot) { slot = T{}; });
    }

private:
    std::vector<T> m_slots;
    std::size_t m_read = 0;
    std::size_t m_write = 0;
    bool m_full = false;
};

} // namespace platform
