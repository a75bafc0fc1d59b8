#include "picture/PicturePlan.h"

#include "picture/ExifOrientation.h"

#include <QRect>
#include <algorithm>
#include <cmath>

std::optional<int> reducedExtent(int length, double scale)
{
    const double reduced = scale == 1.0 ? double(length) : std::trunc(double(length) * scale);
    if (!(reduced >= 1.0))
        return 0; // NaN or nothing left
    if (reduced > double(kMaxPixels))
        return std::nullopt;
    return int(reduced);
}

AxisPlan planAxis(int length, int reduced, int area)
{
    AxisPlan plan;
    plan.size = reduced;
    if (reduced == 0)
        return plan;
    int end = reduced;
    if (area > 0) {
        const qint64 offset = (qint64(area) - reduced) / 2;
        plan.first = int(std::max<qint64>(0, -offset));
        end = int(std::min<qint64>(reduced, area - offset));
    }
    plan.source.reserve(size_t(end - plan.first));
    for (int d = plan.first; d < end; ++d)
        plan.source.push_back(int(qint64(d) * length / reduced));
    return plan;
}

std::optional<PicturePlan> planPicture(QSize source, double scale, QSize visible)
{
    const auto width = reducedExtent(source.width(), scale);
    const auto height = reducedExtent(source.height(), scale);
    if (!width || !height || quint64(*width) * quint64(*height) > kMaxPixels)
        return std::nullopt;
    const bool wholePicture = visible.isEmpty();
    return PicturePlan{planAxis(source.width(), *width, wholePicture ? 0 : visible.width()),
                       planAxis(source.height(), *height, wholePicture ? 0 : visible.height())};
}

StoredPlan storedPlan(const PicturePlan &plan, QSize stored, int orientation)
{
    const bool swapped = orientation >= 5;
    const int firstColumn = plan.columns.source.front();
    const int firstRow = plan.rows.source.front();
    StoredPlan result;
    std::vector<int> &fromColumns = swapped ? result.rows : result.columns;
    std::vector<int> &fromRows = swapped ? result.columns : result.rows;
    fromColumns.reserve(plan.columns.source.size());
    fromRows.reserve(plan.rows.source.size());
    for (const int x : plan.columns.source) {
        const QRect at = storedRect(QRect(x, firstRow, 1, 1), stored, orientation);
        fromColumns.push_back(swapped ? at.y() : at.x());
    }
    for (const int y : plan.rows.source) {
        const QRect at = storedRect(QRect(firstColumn, y, 1, 1), stored, orientation);
        fromRows.push_back(swapped ? at.x() : at.y());
    }
    for (std::vector<int> *axis : {&result.columns, &result.rows}) {
        if (axis->front() > axis->back())
            std::reverse(axis->begin(), axis->end());
    }
    return result;
}
