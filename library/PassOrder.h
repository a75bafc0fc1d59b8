#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// The order in which a slot's pictures show, pass after pass. A pass shows every picture
// of the catalogue once. In name order a run starts at a random picture and goes on in
// the catalogue's order, round from the end to the start; shuffled, each pass is a fresh
// random order whose first picture is never the last one of the pass before (unless there
// is only one). After each pass the show builds the catalogue again and hands it over
// (`rebuilt`), so that pictures added while it runs come in and removed ones drop out
// within one pass; the next pass goes on after the picture shown last.
class PassOrder
{
public:
    // The show's random source: a number from 0 to n - 1 (0 for n = 0).
    using Draw = std::function<int(int n)>;

    PassOrder(bool shuffle, Draw draw);

    // The first catalogue of a run. In name order it draws the start once, as the show
    // always has: draw(number of pictures).
    void start(const QStringList &catalogue);

    // The picture to show now; empty when the catalogue holds none. Once a pass has
    // ended, a catalogue handed over since then takes over here; without one, the next
    // pass runs over the same catalogue.
    QString next();

    // Whether the last picture of the pass has been given out: the time to build the
    // catalogue again. True as well while the catalogue is empty.
    bool passEnded() const;

    // The catalogue built again with the same rules. Taken over at the end of the pass:
    // in name order the next pass starts with the picture that follows the last one shown
    // (or, when that one is gone, with the first picture after it that stayed); shuffled,
    // with a fresh order.
    void rebuilt(const QStringList &catalogue);

    const QStringList &catalogue() const { return m_catalogue; }
    // Where the picture that next() gave last stands in the catalogue; -1 before any.
    qsizetype lastIndex() const { return m_lastIndex; }
    // The picture that `next` gives next, as far as it is known: empty at the end of a
    // shuffled pass or before a rebuilt catalogue, whose order is not drawn yet.
    QString upcoming() const;

private:
    void beginPass(const QStringList &previous);
    qsizetype followingIndex(const QStringList &previous);
    int draw(qsizetype n);

    bool m_shuffle;
    Draw m_draw;
    QStringList m_catalogue;
    QStringList m_pending;
    bool m_hasPending = false;
    // Shuffled: the pass's order as indices into the catalogue.
    std::vector<qsizetype> m_order;
    qsizetype m_first = 0; // name order: where the pass started
    qsizetype m_shown = 0; // how many of the pass have been given out
    QString m_lastShown;
    qsizetype m_lastIndex = -1;
};
