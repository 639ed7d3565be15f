#include "jp2_codec.h"
#include "texts.h"

#include "byte_order.h"
#include "decode_error.h"
#include "read_at.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <thread>

namespace korvane {

namespace {

constexpr std::array<unsigned char, 12> kJp2Signature = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};

std::uint16_t bigEndian16(const unsigned char* p) { return std::uint16_t(p[0] << 8 | p[1]); }

// Where the codestream starts: after the JP2 boxes up to `jp2c`, or at 0.
std::optional<std::int64_t> codestreamStart(int fd, std::int64_t fileBytes, bool& container)
{
    unsigned char head[12] = {};
    if (!readAllAt(fd, 0, head, sizeof head))
        return std::nullopt;
    container = std::memcmp(head, kJp2Signature.data(), kJp2Signature.size()) == 0;
    if (!container)
        return head[0] == 0xFF && head[1] == 0x4F ? std::optional<std::int64_t>(0) : std::nullopt;
    std::int64_t at = kJp2Signature.size();
    for (int boxes = 0; boxes < 4096 && at + 8 <= fileBytes; ++boxes) {
        unsigned char box[16] = {};
        if (!readAllAt(fd, at, box, 8))
            return std::nullopt;
        std::int64_t length = bigEndian32(box), headerBytes = 8;
        if (length == 1) { // a 64-bit length follows
            if (!readAllAt(fd, at + 8, box + 8, 8))
                return std::nullopt;
            length = std::int64_t(std::uint64_t(bigEndian32(box + 8)) << 32 | bigEndian32(box + 12));
            headerBytes = 16;
        }
        if (std::memcmp(box + 4, "jp2c", 4) == 0)
            return at + headerBytes;
        if (length == 0 || length < headerBytes || length > fileBytes - at)
            return std::nullopt;
        at += length;
    }
    return std::nullopt;
}

void keepMessage(const char* message, void* data)
{
    std::string& kept = *static_cast<std::string*>(data);
    kept = message;
    while (!kept.empty() && (kept.back() == '\n' || kept.back() == ' '))
        kept.pop_back();
}

void ignoreMessage(const char*, void*) {}

} // namespace

std::int64_t Jp2Size::tilesAcross() const { return tileWidth > 0 ? (x1 - tileX0 + tileWidth - 1) / tileWidth : 0; }
std::int64_t Jp2Size::tilesDown() const { return tileHeight > 0 ? (y1 - tileY0 + tileHeight - 1) / tileHeight : 0; }

std::optional<Jp2Size> readJp2Size(int fd, std::int64_t fileBytes)
{
    Jp2Size size;
    const std::optional<std::int64_t> start = codestreamStart(fd, fileBytes, size.container);
    unsigned char siz[42] = {};
    if (!start || !readAllAt(fd, *start, siz, sizeof siz) || bigEndian16(siz) != 0xFF4F || bigEndian16(siz + 2) != 0xFF51)
        return std::nullopt;
    const unsigned char* p = siz + 8; // past SOC, SIZ, Lsiz and Rsiz
    size.x1 = bigEndian32(p), size.y1 = bigEndian32(p + 4), size.x0 = bigEndian32(p + 8), size.y0 = bigEndian32(p + 12);
    size.tileWidth = bigEndian32(p + 16), size.tileHeight = bigEndian32(p + 20);
    size.tileX0 = bigEndian32(p + 24), size.tileY0 = bigEndian32(p + 28);
    const int count = bigEndian16(p + 32);
    std::vector<unsigned char> components(std::size_t(count) * 3);
    if (!readAllAt(fd, *start + qint64(sizeof siz), components.data(), components.size()))
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        const unsigned char* c = components.data() + std::ptrdiff_t(3) * i;
        size.components.push_back({(c[0] & 0x7F) + 1, c[1], c[2], (c[0] & 0x80) != 0});
    }
    return size;
}

void checkJp2Size(const std::string& path, const Jp2Size& size)
{
    const auto damaged = [&] {
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "its header is damaged")));
    };
    // The codestream's own rules: tiles cover the picture's corner, at most
    // 65535 of them, 1 to 16384 components of 1 to 38 bits.
    if (size.tileWidth <= 0 || size.tileHeight <= 0 || size.tileX0 > size.x0 || size.tileY0 > size.y0
        || size.tileX0 + size.tileWidth <= size.x0 || size.tileY0 + size.tileHeight <= size.y0)
        damaged();
    checkSides(path, size.width(), size.height(), std::numeric_limits<int>::max());
    if (size.tilesAcross() * size.tilesDown() > 65535 || size.components.empty() || size.components.size() > 16384)
        damaged();
    for (const Jp2Size::Component& c : size.components)
        if (c.depth > 38 || c.dx < 1 || c.dy < 1)
            damaged();
}

Jp2Codec::Jp2Codec(int fd, std::int64_t fileBytes, bool container, int reduce, int threads)
    : m_file{fd, fileBytes, 0}
{
    m_stream = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(m_stream, &m_file, nullptr);
    opj_stream_set_user_data_length(m_stream, OPJ_UINT64(fileBytes));
    opj_stream_set_read_function(m_stream, [](void* buffer, OPJ_SIZE_T bytes, void* data) -> OPJ_SIZE_T {
        File& file = *static_cast<File*>(data);
        const std::size_t done = readAt(file.fd, file.offset, buffer, bytes);
        file.offset += std::int64_t(done);
        return done > 0 ? done : OPJ_SIZE_T(-1);
    });
    opj_stream_set_skip_function(m_stream, [](OPJ_OFF_T bytes, void* data) -> OPJ_OFF_T {
        static_cast<File*>(data)->offset += bytes;
        return bytes;
    });
    opj_stream_set_seek_function(m_stream, [](OPJ_OFF_T offset, void* data) -> OPJ_BOOL {
        static_cast<File*>(data)->offset = offset;
        return OPJ_TRUE;
    });
    m_codec = opj_create_decompress(container ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_set_error_handler(m_codec, keepMessage, &m_message);
    opj_set_warning_handler(m_codec, ignoreMessage, nullptr);
    opj_set_info_handler(m_codec, ignoreMessage, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    parameters.cp_reduce = OPJ_UINT32(reduce);
    opj_setup_decoder(m_codec, &parameters);
    // A codestream cut short shows what it holds.
    opj_decoder_set_strict_mode(m_codec, OPJ_FALSE);
    opj_codec_set_threads(m_codec, threads);
}

Jp2Codec::~Jp2Codec()
{
    if (m_image)
        opj_image_destroy(m_image);
    opj_destroy_codec(m_codec);
    opj_stream_destroy(m_stream);
}

bool Jp2Codec::readHeader()
{
    if (!opj_read_header(m_stream, m_codec, &m_image))
        return false;
    // Only the colour and alpha components are shown: the rest of a
    // many-band picture is not decoded.
    if (m_image->numcomps > 4) {
        const OPJ_UINT32 shown[3] = {0, 1, 2};
        opj_set_decoded_components(m_codec, 3, shown, OPJ_FALSE);
    }
    return true;
}

bool Jp2Codec::decodeAll()
{
    const bool decoded = opj_decode(m_codec, m_stream, m_image) && opj_end_decompress(m_codec, m_stream);
    return decoded || (m_image->comps && m_image->comps[0].data);
}

bool Jp2Codec::decodeArea(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1)
{
    return opj_set_decode_area(m_codec, m_image, OPJ_INT32(x0), OPJ_INT32(y0), OPJ_INT32(x1), OPJ_INT32(y1))
        && opj_decode(m_codec, m_stream, m_image) && m_image->comps[0].data;
}

bool Jp2Codec::decodeTile(int index)
{
    return opj_get_decoded_tile(m_codec, m_stream, m_image, OPJ_UINT32(index)) && m_image->comps[0].data;
}

int Jp2Codec::reductions() const
{
    opj_codestream_info_v2_t* info = opj_get_cstr_info(m_codec);
    if (!info)
        return 0;
    const int resolutions = info->m_default_tile_info.tccp_info ? int(info->m_default_tile_info.tccp_info[0].numresolutions) : 1;
    opj_destroy_cstr_info(&info);
    return std::max(0, resolutions - 1);
}

bool Jp2Codec::reduceTo(int reduce)
{
    return opj_set_decoded_resolution_factor(m_codec, OPJ_UINT32(reduce));
}

int jp2Threads()
{
    return int(std::clamp(std::thread::hardware_concurrency(), 1U, 8U));
}

QByteArray iccProfileOf(const opj_image_t& image)
{
    if (!image.icc_profile_buf || image.icc_profile_len == 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(image.icc_profile_buf), qsizetype(image.icc_profile_len));
}

} // namespace korvane
