#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace qmt {

// Memory shared by decodes that run side by side (thumbnails, the viewer's look-ahead). Decodes
// take their share before they allocate and give it back when done; one that does not fit waits
// until enough is returned. A share larger than the whole budget is granted when nothing else is
// held, so two such decodes never run side by side. Shares that fit may go ahead of the oldest
// one waiting, but only kMaxOvertakes times: a large decode is not put off for ever by a stream
// of small ones.
class DecodeBudget
{
public:
    static constexpr int kMaxOvertakes = 8;

    explicit DecodeBudget(std::int64_t bytes) : m_limit(bytes) {}

    // The budget of the decodes made in the background: thumbnails and pictures read ahead.
    static DecodeBudget &reducedDecodes();

    void acquire(std::int64_t bytes);
    bool tryAcquire(std::int64_t bytes);
    // Adds to what is held without waiting: for a decode that already holds a share and finds
    // it needs more (waiting then could wait for a decode that waits for it).
    void grow(std::int64_t bytes);
    void release(std::int64_t bytes);
    std::int64_t held() const;
    // The most held at once since the budget was made.
    std::int64_t highWaterMark() const;
    // Decodes waiting for their share.
    int waiting() const;

private:
    bool fits(std::int64_t bytes) const { return m_held == 0 || m_held + bytes <= m_limit; }
    // Whether a share may be granted to the waiter `ticket` (or to a newcomer, when 0).
    bool mayGo(std::uint64_t ticket, std::int64_t bytes) const;
    void grant(std::uint64_t ticket, std::int64_t bytes);
    void add(std::int64_t bytes);

    const std::int64_t m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    std::int64_t m_held = 0;
    std::int64_t m_highWater = 0;
    // The decodes waiting, oldest first, and how often the oldest was passed by others.
    std::deque<std::uint64_t> m_waiting;
    std::uint64_t m_nextTicket = 1;
    int m_overtaken = 0;
};

// Holds a share of a budget until destroyed or released.
class DecodeBudgetShare
{
public:
    DecodeBudgetShare() = default;
    DecodeBudgetShare(const DecodeBudgetShare &) = delete;
    DecodeBudgetShare &operator=(const DecodeBudgetShare &) = delete;
    ~DecodeBudgetShare() { release(); }

    void take(DecodeBudget &budget, std::int64_t bytes);
    // Raises the share to `bytes` in all: waits when nothing is held yet, else grows at once.
    void raiseTo(DecodeBudget &budget, std::int64_t bytes);
    // Raises the share to `bytes` in all at once, beyond the budget if need be.
    void growTo(DecodeBudget &budget, std::int64_t bytes);
    void release();
    std::int64_t bytes() const { return m_bytes; }

private:
    DecodeBudget *m_budget = nullptr;
    std::int64_t m_bytes = 0;
};

// While it lives, the decode on this thread is counted against `budget` (nothing is counted when
// it is null). Readers call reserve() with what the decode will hold in all as soon as the file's
// header tells them, before they allocate it; the first reservation waits for room, and the
// share is given back when the scope ends, also when the decode failed half way. A scope made
// inside another on the same thread leaves the counting to the outer one.
class DecodeBudgetScope
{
public:
    // What a reservation does when the budget has no room: wait for it (workers), or take the
    // share at once beyond the budget (the interface thread, which must never wait: decodes
    // that start meanwhile wait for it instead).
    enum class Wait { ForRoom, Never };

    explicit DecodeBudgetScope(DecodeBudget *budget, Wait wait = Wait::ForRoom);
    ~DecodeBudgetScope();
    DecodeBudgetScope(const DecodeBudgetScope &) = delete;
    DecodeBudgetScope &operator=(const DecodeBudgetScope &) = delete;

    // The decode on this thread holds at least `bytes`; nothing happens outside a scope.
    static void reserve(std::int64_t bytes);
    // What the decode on this thread holds (0 outside a scope).
    static std::int64_t reserved();

private:
    DecodeBudget *m_budget = nullptr;
    Wait m_wait = Wait::ForRoom;
    DecodeBudgetShare m_share;
    bool m_installed = false;
};

// While it lives, a decode on this thread that has to wait for its share calls `waiting` before
// it waits and `resumed` once it has the share: a pool of workers starts another job meanwhile
// instead of leaving a core idle.
class DecodeBudgetWaitNotice
{
public:
    DecodeBudgetWaitNotice(std::function<void()> waiting, std::function<void()> resumed);
    ~DecodeBudgetWaitNotice();
    DecodeBudgetWaitNotice(const DecodeBudgetWaitNotice &) = delete;
    DecodeBudgetWaitNotice &operator=(const DecodeBudgetWaitNotice &) = delete;

    // Takes a share of `budget`, telling the notice of this thread, if any, when it must wait.
    static void acquire(DecodeBudget &budget, std::int64_t bytes);

private:
    std::function<void()> m_waiting;
    std::function<void()> m_resumed;
    DecodeBudgetWaitNotice *m_outer;
};

} // namespace qmt
