#include "platform/LargePageImage.h"

#include <cstdint>
#include <limits>

#include <sys/mman.h>

namespace {

constexpr size_t kLargePage = size_t(2) << 20;
// Below this an image takes a quarter of a large page or less: not worth the memory.
constexpr size_t kSmallest = kLargePage / 4;

struct Mapping
{
    void *start;
    size_t length;
};

void unmap(void *info)
{
    auto *mapping = static_cast<Mapping *>(info);
    ::munmap(mapping->start, mapping->length);
    delete mapping;
}

} // namespace

QImage largePageImage(QSize size)
{
    if (size.isEmpty() || size.width() > std::numeric_limits<int>::max() / 4)
        return QImage(size, QImage::Format_RGB32);
    const size_t bytes = size_t(size.width()) * 4 * size_t(size.height());
    if (bytes < kSmallest || bytes > std::numeric_limits<size_t>::max() / 2)
        return QImage(size, QImage::Format_RGB32);
    // Whole large pages, aligned to one: a mapping one page longer is trimmed at both ends.
    const size_t length = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void *raw = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return QImage(size, QImage::Format_RGB32);
    const auto first = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t start = (first + kLargePage - 1) & ~std::uintptr_t(kLargePage - 1);
    if (start > first)
        ::munmap(raw, start - first);
    if (const size_t after = first + length + kLargePage - (start + length); after > 0)
        ::munmap(reinterpret_cast<void *>(start + length), after);
    auto *pixels = reinterpret_cast<uchar *>(start);
    ::madvise(pixels, length, MADV_HUGEPAGE); // advice only: without it the pages are small
    auto *mapping = new Mapping{pixels, length};
    QImage image(pixels, size.width(), size.height(), qsizetype(size.width()) * 4, QImage::Format_RGB32, unmap,
                 mapping);
    if (image.isNull()) {
        unmap(mapping);
        return QImage(size, QImage::Format_RGB32);
    }
    return image;
}
