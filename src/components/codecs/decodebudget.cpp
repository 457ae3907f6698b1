#include "components/codecs/decodebudget.h"

#include <algorithm>

namespace qmt {
namespace {

thread_local DecodeBudgetScope *t_scope = nullptr;
thread_local DecodeBudgetWaitNotice *t_notice = nullptr;

} // namespace

DecodeBudget &DecodeBudget::reducedDecodes()
{
    // As much as the largest picture the engine accepts takes alone (2^28 pixels at 4 bytes):
    // a picture near that size, or a metafile at its playback bound beside one, decodes by
    // itself; photos reduced while decoding, and their progressive coefficients, decode side by
    // side. The thumbnail workers together then never need much more than one such picture.
    static DecodeBudget budget(std::int64_t(1) << 30);
    return budget;
}

void DecodeBudget::add(std::int64_t bytes)
{
    m_held += bytes;
    m_highWater = std::max(m_highWater, m_held);
}

bool DecodeBudget::mayGo(std::uint64_t ticket, std::int64_t bytes) const
{
    if (!fits(bytes))
        return false;
    const bool oldest = m_waiting.empty() || m_waiting.front() == ticket;
    return oldest || m_overtaken < kMaxOvertakes;
}

void DecodeBudget::grant(std::uint64_t ticket, std::int64_t bytes)
{
    const auto at = std::find(m_waiting.begin(), m_waiting.end(), ticket);
    if (at != m_waiting.end() && at == m_waiting.begin()) {
        m_waiting.pop_front();
        m_overtaken = 0;
    } else {
        // A newcomer or a later waiter went ahead of the oldest one.
        if (!m_waiting.empty())
            ++m_overtaken;
        if (at != m_waiting.end())
            m_waiting.erase(at);
    }
    add(bytes);
}

void DecodeBudget::acquire(std::int64_t bytes)
{
    if (bytes <= 0)
        return;
    std::unique_lock lock(m_mutex);
    if (mayGo(0, bytes)) {
        grant(0, bytes);
        return;
    }
    const std::uint64_t ticket = m_nextTicket++;
    m_waiting.push_back(ticket);
    m_returned.wait(lock, [this, bytes, ticket] { return mayGo(ticket, bytes); });
    grant(ticket, bytes);
    lock.unlock();
    // The next oldest may fit beside this one.
    m_returned.notify_all();
}

bool DecodeBudget::tryAcquire(std::int64_t bytes)
{
    if (bytes <= 0)
        return true;
    std::lock_guard lock(m_mutex);
    if (!mayGo(0, bytes))
        return false;
    grant(0, bytes);
    return true;
}

void DecodeBudget::grow(std::int64_t bytes)
{
    if (bytes <= 0)
        return;
    std::lock_guard lock(m_mutex);
    add(bytes);
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

int DecodeBudget::waiting() const
{
    std::lock_guard lock(m_mutex);
    return int(m_waiting.size());
}

std::int64_t DecodeBudget::highWaterMark() const
{
    std::lock_guard lock(m_mutex);
    return m_highWater;
}

void DecodeBudgetShare::take(DecodeBudget &budget, std::int64_t bytes)
{
    release();
    DecodeBudgetWaitNotice::acquire(budget, bytes);
    m_budget = &budget;
    m_bytes = bytes;
}

void DecodeBudgetShare::raiseTo(DecodeBudget &budget, std::int64_t bytes)
{
    if (bytes <= m_bytes)
        return;
    if (!m_budget || m_bytes == 0)
        return take(budget, bytes);
    budget.grow(bytes - m_bytes);
    m_bytes = bytes;
}

void DecodeBudgetShare::growTo(DecodeBudget &budget, std::int64_t bytes)
{
    if (bytes <= m_bytes)
        return;
    budget.grow(bytes - m_bytes);
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

DecodeBudgetScope::DecodeBudgetScope(DecodeBudget *budget, Wait wait)
    : m_budget(budget), m_wait(wait)
{
    if (!t_scope) {
        t_scope = this;
        m_installed = true;
    }
}

DecodeBudgetScope::~DecodeBudgetScope()
{
    if (m_installed)
        t_scope = nullptr;
}

void DecodeBudgetScope::reserve(std::int64_t bytes)
{
    if (!t_scope || !t_scope->m_budget)
        return;
    if (t_scope->m_wait == Wait::Never)
        t_scope->m_share.growTo(*t_scope->m_budget, bytes);
    else
        t_scope->m_share.raiseTo(*t_scope->m_budget, bytes);
}

std::int64_t DecodeBudgetScope::reserved()
{
    return t_scope ? t_scope->m_share.bytes() : 0;
}

DecodeBudgetWaitNotice::DecodeBudgetWaitNotice(std::function<void()> waiting,
                                               std::function<void()> resumed)
    : m_waiting(std::move(waiting)), m_resumed(std::move(resumed)), m_outer(t_notice)
{
    t_notice = this;
}

DecodeBudgetWaitNotice::~DecodeBudgetWaitNotice()
{
    t_notice = m_outer;
}

void DecodeBudgetWaitNotice::acquire(DecodeBudget &budget, std::int64_t bytes)
{
    if (!t_notice)
        return budget.acquire(bytes);
    if (budget.tryAcquire(bytes))
        return;
    if (t_notice->m_waiting)
        t_notice->m_waiting();
    budget.acquire(bytes);
    if (t_notice->m_resumed)
        t_notice->m_resumed();
}

} // namespace qmt
