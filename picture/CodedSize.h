#pragma once

#include <QByteArrayView>
#include <QSize>

#include <optional>

// The size a video decoder will make a picture at, read from the coded stream's own
// parameters rather than from what the container around it claims: a HEIF file says a
// picture is 100 x 72 in one box, while the stream inside may tell the decoder 8000 x 8000.

// From an HEVC sequence parameter set, its NAL unit header included (emulation
// prevention bytes still in place): pic_width_in_luma_samples x
// pic_height_in_luma_samples. Empty when `nal` is not a whole SPS that reads that far.
std::optional<QSize> hevcSpsSize(QByteArrayView nal);

// From an AV1 sequence header OBU's payload (after the OBU header and size):
// max_frame_width x max_frame_height, which every frame of the stream keeps within.
std::optional<QSize> av1SequenceSize(QByteArrayView payload);

// An AV1 OBU's header: its type, its length with the size field, and the payload's size
// (none: the OBU runs to the end of its data). Empty when `bytes` end within the header.
struct ObuHeader
{
    int type = 0;
    qsizetype length = 0;
    std::optional<quint64> payload;
};
std::optional<ObuHeader> av1ObuHeader(QByteArrayView bytes);

constexpr int kHevcSpsType = 33;
// An HEVC NAL unit's type, from the first byte of its header.
constexpr int hevcNalType(char first)
{
    return (quint8(first) >> 1) & 0x3f;
}
constexpr int kAv1SequenceHeaderType = 1;
