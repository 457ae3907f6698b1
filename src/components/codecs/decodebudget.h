#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qmt {

// Memory shared by decodes that must hold a whole image's worth of data at once (a progressive
// JPEG keeps every coefficient until its last scan). Decodes take their share before they
// start and give it back when done; one that does not fit waits until enough is returned.
// A share larger than the whole budget is granted when nothing else is held, so no decode
// waits for ever.
class DecodeBudget
{
public:
    explicit DecodeBudget(std::int64_t bytes) : m_limit(bytes) {}

    // The budget of the thumbnail decodes: a few large progressive photos at a time.
    static DecodeBudget &reducedDecodes();

    void acquire(std::int64_t bytes);
    bool tryAcquire(std::int64_t bytes);
    void release(std::int64_t bytes);
    std::int64_t held() const;

private:
    bool fits(std::int64_t bytes) const { return m_held == 0 || m_held + bytes <= m_limit; }

    const std::int64_t m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    std::int64_t m_held = 0;
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
    void release();

private:
    DecodeBudget *m_budget = nullptr;
    std::int64_t m_bytes = 0;
};

} // namespace qmt
