#pragma once
// A decoder built as a module of its own, loaded when the first file of its
// format is opened: each exports one `korvane_decoder_module`.
#include "decoders.h"

namespace korvane {

struct DecoderModule {
    DecodedPicture (*decode)(int fd, const std::string& path, const FileFacts& facts);
};

} // namespace korvane

extern "C" const korvane::DecoderModule korvane_decoder_module;
