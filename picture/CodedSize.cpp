#include "picture/CodedSize.h"

#include <QByteArray>

#include <climits>

namespace {

// Reads a stream's bits from the most significant down; a read past the end fails the
// reader, and every later read then returns 0.
class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes) : m_bytes(bytes) {}

    quint32 bits(int count)
    {
        quint32 value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_at >= m_bytes.size() * 8) {
                m_failed = true;
                return 0;
            }
            value = value << 1 | ((quint8(m_bytes[m_at / 8]) >> (7 - m_at % 8)) & 1);
            ++m_at;
        }
        return value;
    }
    void skip(int count)
    {
        for (; count > 0; count -= 32)
            bits(count < 32 ? count : 32);
    }
    // An exponential-Golomb number, ue(v); fails beyond 32 bits.
    quint32 golomb()
    {
        int zeros = 0;
        while (!m_failed && bits(1) == 0)
            if (++zeros > 31) {
                m_failed = true;
                return 0;
            }
        return quint32((quint64(1) << zeros) - 1 + bits(zeros));
    }
    bool failed() const { return m_failed; }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    bool m_failed = false;
};

// The raw bits of a NAL unit's payload: every 0x03 that follows two zero bytes is there
// only so that the payload never looks like a start code.
QByteArray withoutEmulationPrevention(QByteArrayView nal)
{
    QByteArray raw;
    raw.reserve(nal.size());
    int zeros = 0;
    for (const char byte : nal) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        raw.append(byte);
    }
    return raw;
}

std::optional<QSize> sizeOf(quint64 width, quint64 height, bool failed)
{
    if (failed || width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return std::nullopt;
    return QSize(int(width), int(height));
}

} // namespace

std::optional<QSize> hevcSpsSize(QByteArrayView nal)
{
    if (nal.size() < 2 || hevcNalType(nal[0]) != kHevcSpsType)
        return std::nullopt;
    const QByteArray raw = withoutEmulationPrevention(nal.sliced(2));
    BitReader reader(raw);
    reader.skip(4);                            // sps_video_parameter_set_id
    const int subLayers = int(reader.bits(3)); // sps_max_sub_layers_minus1
    reader.skip(1);
    // profile_tier_level: the general profile (88 bits) and level (8), then which sub
    // layers carry a profile and a level of their own, padded to eight entries.
    reader.skip(96);
    bool profilePresent[8] = {}, levelPresent[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profilePresent[i] = reader.bits(1);
        levelPresent[i] = reader.bits(1);
    }
    if (subLayers > 0)
        reader.skip(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i)
        reader.skip((profilePresent[i] ? 88 : 0) + (levelPresent[i] ? 8 : 0));
    reader.golomb();          // sps_seq_parameter_set_id
    if (reader.golomb() == 3) // chroma_format_idc: 4:4:4 may code its planes apart
        reader.skip(1);
    const quint32 width = reader.golomb();
    const quint32 height = reader.golomb();
    return sizeOf(width, height, reader.failed());
}

std::optional<ObuHeader> av1ObuHeader(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return std::nullopt;
    const quint8 first = quint8(bytes[0]);
    ObuHeader header{(first >> 3) & 15, 1 + ((first >> 2) & 1), std::nullopt};
    if (!(first & 2))
        return header;
    // leb128: seven bits a byte, least significant first.
    quint64 size = 0;
    for (int shift = 0;; shift += 7) {
        if (header.length >= bytes.size() || shift > 56)
            return std::nullopt;
        const quint8 byte = quint8(bytes[header.length++]);
        size |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            break;
    }
    header.payload = size;
    return header;
}

std::optional<QSize> av1SequenceSize(QByteArrayView payload)
{
    BitReader reader(payload);
    reader.skip(3); // seq_profile
    reader.skip(1); // still_picture
    if (reader.bits(1)) {
        // reduced_still_picture_header: one operating point, its level only.
        reader.skip(5);
    } else {
        bool decoderModel = false;
        int bufferDelayBits = 0;
        if (reader.bits(1)) {     // timing_info_present_flag
            reader.skip(64);      // num_units_in_display_tick, time_scale
            if (reader.bits(1)) { // equal_picture_interval: num_ticks_per_picture_minus_1, uvlc()
                int zeros = 0;
                while (!reader.failed() && reader.bits(1) == 0)
                    ++zeros;
                if (zeros < 32)
                    reader.skip(zeros);
            }
            decoderModel = reader.bits(1);
            if (decoderModel) {
                bufferDelayBits = int(reader.bits(5)) + 1;
                reader.skip(32 + 5 + 5); // num_units_in_decoding_tick, two lengths
            }
        }
        const bool initialDisplayDelay = reader.bits(1);
        const int operatingPoints = int(reader.bits(5)) + 1;
        for (int i = 0; i < operatingPoints && !reader.failed(); ++i) {
            reader.skip(12);        // operating_point_idc
            if (reader.bits(5) > 7) // seq_level_idx
                reader.skip(1);     // seq_tier
            if (decoderModel && reader.bits(1))
                reader.skip(2 * bufferDelayBits + 1);
            if (initialDisplayDelay && reader.bits(1))
                reader.skip(4);
        }
    }
    const int widthBits = int(reader.bits(4)) + 1;
    const int heightBits = int(reader.bits(4)) + 1;
    const quint64 width = quint64(reader.bits(widthBits)) + 1;
    const quint64 height = quint64(reader.bits(heightBits)) + 1;
    return sizeOf(width, height, reader.failed());
}
