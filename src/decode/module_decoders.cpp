// HEIF (libheif with its codecs), JPEG XL (libjxl with highway), JPEG 2000
// (OpenJPEG) and SVG (librsvg with cairo and pango) are decoded by modules
// loaded when the first such file is opened: linked into the program, their
// libraries' loading and start-up code cost every picture a share of its
// start-up. Their signatures are known here.
#include "decoders.h"

#include "byte_order.h"
#include "decode_error.h"
#include "decoder_module.h"
#include "program_files.h"
#include "read_at.h"
#include "texts.h"

#include <QXmlStreamReader>

#include <array>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>

namespace korvane {

namespace {

using Decode = DecodedPicture (*)(int fd, const std::string& path, const FileFacts& facts);

Decode decoderIn(const std::string& module, const std::string& path)
{
    static std::mutex mutex;
    static std::map<std::string, Decode> loaded;
    std::lock_guard lock(mutex);
    if (const auto found = loaded.find(module); found != loaded.end())
        return found->second;
    const std::string file =
        programFileDirectory(KORVANE_BUILD_MODULE_DIR, KORVANE_MODULE_DIR_FROM_BINDIR) + "/" + module + ".so";
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    const void* symbol = handle ? ::dlsym(handle, "korvane_decoder_module") : nullptr;
    if (!symbol) {
        const char* reason = ::dlerror();
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            cannotBeDecoded(filledIn(translated("reason", "its decoder %1 cannot be loaded (%2)"), {file, reason ? reason : ""})));
    }
    const Decode decode = static_cast<const DecoderModule*>(symbol)->decode;
    loaded.emplace(module, decode);
    return decode;
}

bool hasBrand(std::span<const unsigned char> brand)
{
    static constexpr std::array<const char*, 8> kBrands = {"heic", "heix", "heim", "heis", "avif", "avis", "mif1", "msf1"};
    for (const char* known : kBrands)
        if (std::memcmp(brand.data(), known, 4) == 0)
            return true;
    return false;
}

} // namespace

// An ISO media file whose type box names a HEIF or AVIF brand, as its
// major brand or a compatible one.
bool looksLikeHeif(std::span<const unsigned char> head)
{
    if (head.size() < 16 || std::memcmp(head.data() + 4, "ftyp", 4) != 0)
        return false;
    const std::size_t boxEnd = std::min<std::size_t>(head.size(), bigEndian32(head.data()));
    if (hasBrand(head.subspan(8, 4)))
        return true;
    for (std::size_t at = 16; at + 4 <= boxEnd; at += 4)
        if (hasBrand(head.subspan(at, 4)))
            return true;
    return false;
}

// A bare codestream, or the container's signature box.
bool looksLikeJxl(std::span<const unsigned char> head)
{
    static constexpr unsigned char kContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (head.size() >= 2 && head[0] == 0xFF && head[1] == 0x0A)
        return true;
    return head.size() >= sizeof kContainer && std::memcmp(head.data(), kContainer, sizeof kContainer) == 0;
}

bool looksLikeJp2(std::span<const unsigned char> head)
{
    static constexpr unsigned char kContainer[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (head.size() >= 4 && head[0] == 0xFF && head[1] == 0x4F && head[2] == 0xFF && head[3] == 0x51)
        return true;
    return head.size() >= sizeof kContainer && std::memcmp(head.data(), kContainer, sizeof kContainer) == 0;
}

bool looksLikeSvg(int fd)
{
    char head[4096];
    const std::size_t count = readAt(fd, 0, head, sizeof head);
    if (count == 0)
        return false;
    if (count >= 2 && uchar(head[0]) == 0x1F && uchar(head[1]) == 0x8B)
        return true; // decided when inflated: svgz has no other signature
    QXmlStreamReader reader(QByteArray(head, qsizetype(count)));
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement())
            return reader.name() == u"svg";
    }
    return false;
}

DecodedPicture decodeHeif(int fd, const std::string& path, const FileFacts& facts)
{
    return decoderIn("korvane-heif", path)(fd, path, facts);
}

DecodedPicture decodeJxl(int fd, const std::string& path, const FileFacts& facts)
{
    return decoderIn("korvane-jxl", path)(fd, path, facts);
}

DecodedPicture decodeJp2(int fd, const std::string& path, const FileFacts& facts)
{
    return decoderIn("korvane-jp2", path)(fd, path, facts);
}

DecodedPicture decodeSvg(int fd, const std::string& path, const FileFacts& facts)
{
    return decoderIn("korvane-svg", path)(fd, path, facts);
}

} // namespace korvane
