#include "library/PassOrder.h"

#include <QHash>
#include <numeric>
#include <utility>

PassOrder::PassOrder(bool shuffle, Draw draw) : m_shuffle(shuffle), m_draw(std::move(draw))
{
}

void PassOrder::start(const QStringList &catalogue)
{
    m_catalogue = catalogue;
    m_pending.clear();
    m_hasPending = false;
    m_lastShown.clear();
    m_lastIndex = -1;
    beginPass({});
}

QString PassOrder::next()
{
    if (passEnded()) {
        QStringList previous = m_catalogue;
        if (m_hasPending) {
            m_catalogue = std::exchange(m_pending, {});
            m_hasPending = false;
        }
        beginPass(previous);
    }
    const qsizetype count = m_catalogue.size();
    if (count == 0)
        return {};
    const qsizetype index = m_shuffle ? m_order[size_t(m_shown)] : (m_first + m_shown) % count;
    ++m_shown;
    m_lastIndex = index;
    m_lastShown = m_catalogue.at(index);
    return m_lastShown;
}

QString PassOrder::upcoming() const
{
    const qsizetype count = m_catalogue.size();
    if (count == 0)
        return {};
    // In name order the next pass goes on after the last one shown, in the catalogue
    // built again when there is one (where that picture stayed); shuffled, its order is
    // drawn only when it begins.
    if (passEnded()) {
        if (m_shuffle)
            return {};
        if (!m_hasPending)
            return m_catalogue.at((m_lastIndex + 1) % count);
        const qsizetype stayed = m_pending.indexOf(m_lastShown);
        return stayed < 0 ? QString() : m_pending.at((stayed + 1) % m_pending.size());
    }
    return m_catalogue.at(m_shuffle ? m_order[size_t(m_shown)] : (m_first + m_shown) % count);
}

bool PassOrder::passEnded() const
{
    return m_shown >= m_catalogue.size();
}

void PassOrder::rebuilt(const QStringList &catalogue)
{
    m_pending = catalogue;
    m_hasPending = true;
}

int PassOrder::draw(qsizetype n)
{
    // The source is the show's, so its answer is trusted only as far as the range.
    const int drawn = m_draw(int(n));
    return drawn >= 0 && drawn < n ? drawn : 0;
}

void PassOrder::beginPass(const QStringList &previous)
{
    m_shown = 0;
    const qsizetype count = m_catalogue.size();
    if (!m_shuffle) {
        // Nothing shown yet (a run's start, or pictures after an empty folder): the
        // random start that makes each run begin elsewhere.
        m_first = m_lastShown.isEmpty() ? draw(count) : followingIndex(previous);
        return;
    }
    m_order.resize(size_t(count));
    std::iota(m_order.begin(), m_order.end(), qsizetype(0));
    for (qsizetype i = count - 1; i > 0; --i)
        std::swap(m_order[size_t(i)], m_order[size_t(draw(i + 1))]);
    // Across the seam the same picture would show twice in a row.
    if (count > 1 && m_catalogue.at(m_order.front()) == m_lastShown)
        std::swap(m_order.front(), m_order[size_t(1 + draw(count - 1))]);
}

qsizetype PassOrder::followingIndex(const QStringList &previous)
{
    const qsizetype count = m_catalogue.size();
    if (count == 0)
        return 0;
    const qsizetype stayed = m_catalogue.indexOf(m_lastShown);
    if (stayed >= 0)
        return (stayed + 1) % count;
    // The last picture shown is gone: the pass goes on with the first picture after it in
    // the old order that is still there, so none that stayed is skipped; pictures added
    // in between come at the end of the pass.
    QHash<QString, qsizetype> position;
    position.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        position.insert(m_catalogue.at(i), i);
    const qsizetype last = previous.indexOf(m_lastShown);
    for (qsizetype step = 1; last >= 0 && step < previous.size(); ++step) {
        const auto found = position.constFind(previous.at((last + step) % previous.size()));
        if (found != position.constEnd())
            return *found;
    }
    return draw(count);
}
