#pragma once
// Decoders that read JPEG and PNG straight into the display formats
// (RGB888 or Grayscale8), with no intermediate 32-bit copy. Each returns a
// null image when the file is not its format or uses a feature left to
// Qt's readers; a damaged or oversized file raises a file error.
#include "decode_limits.h"

#include <QImage>

#include <string>

namespace korvane {

// The file's first bytes say which decoder to use.
bool looksLikeJpeg(const unsigned char* head, std::size_t size);
bool looksLikePng(const unsigned char* head, std::size_t size);

// Both read the open file descriptor from its start.
QImage decodeJpeg(int fd, const std::string& path, const FileFacts& facts);
QImage decodePng(int fd, const std::string& path, const FileFacts& facts);

} // namespace korvane
