#include "picture/PictureRequest.h"

#include "picture/Decode.h"
#include "picture/ExifDate.h"
#include "picture/Reduce.h"
#include "picture/TakenDate.h"

#include <algorithm>
#include <cmath>

namespace {

// The part of an axis of `length` that a centred placement in `area` shows: the offset is
// (area - length) / 2 truncated toward zero, as the loader places its pictures.
std::pair<int, int> visibleSpan(int length, int area)
{
    if (area <= 0)
        return {0, length};
    const int offset = (area - length) / 2;
    const int first = std::max(0, -offset);
    return {first, std::min(length, area - offset) - first};
}

// A whole decoded picture made a picture of the loader's kind: reduced by `scale` to
// trunc(w x scale) x trunc(h x scale), then only its part inside `visible` kept.
std::optional<Picture> ownSizePicture(QImage image, double scale, QSize visible, const CancelCheck &cancelled)
{
    if (scale != 1.0) {
        const QSize reduced(int(std::trunc(image.width() * scale)), int(std::trunc(image.height() * scale)));
        if (reduced.isEmpty())
            return Picture{QImage(), reduced.expandedTo(QSize(0, 0)), QPoint()};
        if (reduced.width() > image.width() || reduced.height() > image.height())
            image = image.scaled(reduced);
        else if (std::optional<QImage> smaller = reduceImage(image, reduced, cancelled))
            image = std::move(*smaller);
        else
            return std::nullopt;
    }
    const auto [left, width] = visibleSpan(image.width(), visible.isEmpty() ? 0 : visible.width());
    const auto [top, height] = visibleSpan(image.height(), visible.isEmpty() ? 0 : visible.height());
    const QSize size = image.size();
    QImage part = QRect(left, top, width, height) == image.rect() ? image : image.copy(left, top, width, height);
    if (part.isNull())
        return std::nullopt;
    return Picture{std::move(part), size, QPoint(left, top)};
}

} // namespace

std::optional<DecodedPicture> decodePicture(const PictureRequest &request, const CancelCheck &cancelled)
{
    const bool fit = request.fit && !request.area.isEmpty();
    if (!request.allFormats && !fit) {
        std::optional<Picture> picture = loadPicture(request.path, request.scale, request.area, cancelled);
        if (!picture)
            return std::nullopt;
        if (!request.takenDate)
            return DecodedPicture{std::move(*picture), QString()};
        const PictureFormat format = pictureFormat(request.path, false);
        return DecodedPicture{std::move(*picture), takenDateText(takenDateOf(request.path, format))};
    }
    const PictureFormat format = pictureFormat(request.path, request.allFormats);
    std::optional<Picture> picture;
    QDate taken;
    if (format == PictureFormat::Jpeg || format == PictureFormat::Bmp) {
        if (!fit) {
            picture = loadPictureAs(request.path, format, request.scale, request.area, cancelled);
        } else if (std::optional<QImage> fitted = loadFittedPicture(request.path, format, request.area, cancelled)) {
            const QSize size = fitted->size();
            picture = Picture{std::move(*fitted), size, QPoint()};
        }
    } else if (format != PictureFormat::Invalid && request.allFormats) {
        std::optional<QImage> decoded
            = decodeFile(request.path, {fit ? request.area : QSize(), cancelled, request.takenDate ? &taken : nullptr});
        if (decoded && fit) {
            const QSize size = decoded->size();
            picture = Picture{std::move(*decoded), size, QPoint()};
        } else if (decoded) {
            picture = ownSizePicture(std::move(*decoded), request.scale, request.area, cancelled);
        }
    }
    if (!picture || isCancelled(cancelled))
        return std::nullopt;
    if (request.takenDate && format != PictureFormat::Heif)
        taken = takenDateOf(request.path, format);
    return DecodedPicture{std::move(*picture), takenDateText(taken)};
}
