#include "components/codecs/decodebudget.h"

namespace qmt {

DecodeBudget &DecodeBudget::reducedDecodes()
{
    // A 20-megapixel progressive photo (80 MB of coefficients with 4:2:2 colour) decodes
    // beside a 16-megapixel one (48 MB), not beside another of its size.
    static DecodeBudget budget(std::int64_t(128) << 20);
    return budget;
}

void DecodeBudget::acquire(std::int64_t bytes)
{
    if (bytes <= 0)
        return;
    std::unique_lock lock(m_mutex);
    m_returned.wait(lock, [this, bytes] { return fits(bytes); });
    m_held += bytes;
}

bool DecodeBudget::tryAcquire(std::int64_t bytes)
{
    if (bytes <= 0)
        return true;
    std::lock_guard lock(m_mutex);
    if (!fits(bytes))
        return false;
    m_held += bytes;
    return true;
}

void DecodeBudget::release(std::int64_t bytes)
{
    if (bytes <= 0)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_held = bytes >= m_held ? 0 : m_held - bytes;
    }
    m_returned.notify_all();
}

std::int64_t DecodeBudget::held() const
{
    std::lock_guard lock(m_mutex);
    return m_held;
}

void DecodeBudgetShare::take(DecodeBudget &budget, std::int64_t bytes)
{
    release();
    budget.acquire(bytes);
    m_budget = &budget;
    m_bytes = bytes;
}

void DecodeBudgetShare::release()
{
    if (m_budget)
        m_budget->release(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}

} // namespace qmt
