#pragma once

#include <cstddef>
#include <cstdint>

// EXIF's TIFF structure in one byte order: bounds checks and reads of its 16- and 32-bit
// fields. Shared by the readers of the orientation and of the date.
struct TiffReader
{
    const unsigned char *data;
    std::size_t length;
    bool bigEndian;

    bool has(std::size_t offset, std::size_t size) const { return offset <= length && size <= length - offset; }
    std::uint16_t u16(std::size_t offset) const
    {
        return bigEndian ? std::uint16_t(data[offset] << 8 | data[offset + 1])
                         : std::uint16_t(data[offset + 1] << 8 | data[offset]);
    }
    std::uint32_t u32(std::size_t offset) const
    {
        return bigEndian ? std::uint32_t(u16(offset)) << 16 | u16(offset + 2)
                         : std::uint32_t(u16(offset + 2)) << 16 | u16(offset);
    }
};
