// JPEG XL through libjxl, fed from the file a block at a time: the first
// frame (animations are composed by libjxl), turned upright by libjxl,
// straight into the picture's rows as libjxl finishes them, transparency
// laid over white on the way. Pictures coded in XYB are decoded to sRGB by
// libjxl itself; the others keep their profile for the conversion. A file
// cut short shows what it holds: a lossy one libjxl's rendering of the
// passes it has, a lossless one the groups it has, the rest white.
#include "decoders.h"
#include "texts.h"
#include "decoder_module.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "image_normalize.h"
#include "library_messages.h"
#include "read_at.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

#include <jxl/encode.h> // the sRGB colour encoding
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

namespace korvane {

namespace {

// libjxl's own limit is 2^30 a side; the memory check decides well before.
constexpr qint64 kMaxJxlSide = qint64(1) << 30;
constexpr std::size_t kReadBlock = 1 << 20;

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDeleter {
    void operator()(void* runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

// The file's bytes not yet taken by libjxl, topped up a block at a time.
class Input {
public:
    Input(int fd, const std::string& path) : m_fd(fd), m_path(path) {}

    // Keeps the `unused` bytes at the end of what was given, adds the next
    // block and gives it all to the decoder; false at the end of the file.
    bool refill(JxlDecoder* decoder, std::size_t unused)
    {
        m_bytes.erase(m_bytes.begin(), m_bytes.end() - static_cast<std::ptrdiff_t>(std::min(unused, m_bytes.size())));
        const std::size_t kept = m_bytes.size();
        m_bytes.resize(kept + kReadBlock);
        bool failed = false;
        const std::size_t count = readAt(m_fd, m_offset, m_bytes.data() + kept, kReadBlock, &failed);
        if (failed)
            raiseDecodeError(DecodeFailure::FileUnreadable, m_path, cannotBeRead());
        m_bytes.resize(kept + count);
        m_offset += off_t(count);
        if (count == 0)
            return false;
        JxlDecoderSetInput(decoder, m_bytes.data(), m_bytes.size());
        return true;
    }
    qint64 offset() const { return m_offset; }

private:
    int m_fd;
    const std::string& m_path;
    off_t m_offset = 0;
    std::vector<uint8_t> m_bytes;
};

struct JxlDecoding {
    JxlBasicInfo info {};
    JxlPixelFormat format {};
    ColourProfile profile;
    QImage image;
    uchar* bits = nullptr; // the image's, for libjxl's threads
    qsizetype stride = 0;
    int pixelBytes = 3;
    bool alpha = false;
    bool outputSet = false;
};

// Called by libjxl's threads, each with pixels of its own.
void putPixels(void* opaque, size_t x, size_t y, size_t count, const void* pixels)
{
    const auto& d = *static_cast<const JxlDecoding*>(opaque);
    uchar* out = d.bits + qsizetype(y) * d.stride + qsizetype(x) * d.pixelBytes;
    const auto* in = static_cast<const uchar*>(pixels);
    if (d.alpha)
        flattenRowOverWhite(in, out, int(count), d.pixelBytes + 1);
    else
        std::memcpy(out, in, count * std::size_t(d.pixelBytes));
}

void checkClaims(const JxlDecoding& d, const std::string& path, const FileFacts& facts)
{
    checkSides(path, d.info.xsize, d.info.ysize, kMaxJxlSide);
    const int channels = int(d.info.num_color_channels) + (d.info.alpha_bits ? 1 : 0);
    // The picture and libjxl's own frame: 32-bit floats for every channel
    // while a frame is composed.
    const int perPixel = int(d.info.num_color_channels) + 4 * channels;
    checkFitsInMemory(path, d.info.xsize, d.info.ysize, PeakBytes{perPixel, 0}, facts);
}

// sRGB itself, or its grey: the pixels need no conversion (an ICC profile
// made from it would only add rounding).
bool isSrgb(const JxlColorEncoding& encoding)
{
    const bool primaries = encoding.color_space == JXL_COLOR_SPACE_GRAY || encoding.primaries == JXL_PRIMARIES_SRGB;
    return (encoding.color_space == JXL_COLOR_SPACE_RGB || encoding.color_space == JXL_COLOR_SPACE_GRAY)
        && encoding.white_point == JXL_WHITE_POINT_D65 && primaries
        && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

void takeColour(JxlDecoding& d, JxlDecoder* decoder)
{
    if (!d.info.uses_original_profile) {
        // XYB: libjxl converts to whatever we ask; sRGB needs no more work.
        JxlColorEncoding srgb {};
        JxlColorEncodingSetToSRGB(&srgb, d.info.num_color_channels == 1);
        if (JxlDecoderSetPreferredColorProfile(decoder, &srgb) == JXL_DEC_SUCCESS)
            return;
    }
    JxlColorEncoding encoded {};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoded) == JXL_DEC_SUCCESS
        && isSrgb(encoded))
        return;
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS)
        return;
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
            reinterpret_cast<uint8_t*>(icc.data()), size)
        == JXL_DEC_SUCCESS)
        d.profile.icc = icc;
}

void setOutput(JxlDecoding& d, JxlDecoder* decoder, const std::string& path)
{
    const bool grey = d.info.num_color_channels == 1;
    const bool swap = d.info.orientation >= JXL_ORIENT_TRANSPOSE;
    const int width = int(swap ? d.info.ysize : d.info.xsize), height = int(swap ? d.info.xsize : d.info.ysize);
    d.image = QImage(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (d.image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    // White where a cut-short file holds nothing. QImage::fill would paint
    // with a QPainter, which needs the application this thread may run before.
    std::memset(d.image.bits(), 0xFF, std::size_t(d.image.sizeInBytes()));
    d.bits = d.image.bits();
    d.stride = d.image.bytesPerLine();
    d.pixelBytes = grey ? 1 : 3;
    d.alpha = d.info.alpha_bits > 0;
    d.format = {std::uint32_t(d.pixelBytes + (d.alpha ? 1 : 0)), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlDecoderSetImageOutCallback(decoder, &d.format, putPixels, &d) != JXL_DEC_SUCCESS)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "its pixels cannot be output")));
    d.outputSet = true;
}

bool isAllZero(const QImage& image, int left, int top, int width, int height)
{
    const int pixelBytes = image.depth() / 8;
    for (int y = top; y < top + height; ++y) {
        const uchar* row = image.constScanLine(y) + qsizetype(left) * pixelBytes;
        if (std::any_of(row, row + qsizetype(width) * pixelBytes, [](uchar value) { return value != 0; }))
            return false;
    }
    return true;
}

// libjxl renders the groups of a lossless picture that it has not received
// as black: a group (256 pixels a side unless the encoder chose otherwise)
// that is black through and through is taken as missing and shown white.
void whitenMissingGroups(QImage& image)
{
    constexpr int kGroup = 256;
    for (int top = 0; top < image.height(); top += kGroup)
        for (int left = 0; left < image.width(); left += kGroup) {
            const int width = std::min(kGroup, image.width() - left), height = std::min(kGroup, image.height() - top);
            if (isAllZero(image, left, top, width, height))
                for (int y = top; y < top + height; ++y)
                    std::memset(image.scanLine(y) + qsizetype(left) * (image.depth() / 8), 0xFF,
                        std::size_t(width) * std::size_t(image.depth() / 8));
        }
}

// Where the data ran out or went bad: libjxl renders what it has (the
// passes of a lossy picture, the groups of a lossless one).
DecodedPicture partly(JxlDecoding& d, JxlDecoder* decoder, const std::string& path, const std::string& reason)
{
    if (!d.outputSet)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(reason));
    if (JxlDecoderFlushImage(decoder) == JXL_DEC_SUCCESS && d.info.uses_original_profile && !d.alpha)
        whitenMissingGroups(d.image);
    return {applyColourProfile(std::move(d.image), d.profile), QImage()};
}

} // namespace

DecodedPicture decodeJxl(int fd, const std::string& path, const FileFacts& facts)
{
    const SilencedStderr quiet;
    const std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    const std::unique_ptr<void, RunnerDeleter> runner(
        JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
    if (!decoder || !runner)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get());
    JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE);
    JxlDecoding d;
    Input input(fd, path);
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (input.refill(decoder.get(), JxlDecoderReleaseInput(decoder.get()))) {
                facts.reportProgress(input.offset(), facts.fileBytes);
                break;
            }
            return partly(d, decoder.get(), path, translated("reason", "the file ends before its pixels"));
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(decoder.get(), &d.info) != JXL_DEC_SUCCESS)
                raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "its header is damaged")));
            checkClaims(d, path, facts);
            break;
        case JXL_DEC_COLOR_ENCODING:
            takeColour(d, decoder.get());
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            setOutput(d, decoder.get(), path);
            break;
        case JXL_DEC_FULL_IMAGE:
        case JXL_DEC_SUCCESS:
            if (!d.outputSet)
                raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "it holds no frame")));
            return {applyColourProfile(std::move(d.image), d.profile), QImage()};
        case JXL_DEC_ERROR:
            return partly(d, decoder.get(), path, translated("reason", "its data is damaged"));
        default:
            break;
        }
    }
}

} // namespace korvane

extern "C" const korvane::DecoderModule korvane_decoder_module = {&korvane::decodeJxl};
