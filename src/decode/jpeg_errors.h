#pragma once
// libjpeg's error handling for every decode of ours: an error jumps back
// to the decode's own frame with its message kept; warnings (damaged data,
// a file cut short) are not errors, so the picture shows what could be
// decoded.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace korvane {

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] inline void jumpOnJpegError(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

inline void ignoreJpegMessage(j_common_ptr /*cinfo*/, int /*level*/) {}

// Before jpeg_create_decompress (or _compress); the jump is set with
// setjmp(errors.jump).
template <class Codec>
inline void useJpegErrors(Codec& cinfo, JpegErrors& errors)
{
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOnJpegError;
    errors.base.emit_message = ignoreJpegMessage;
}

} // namespace korvane
