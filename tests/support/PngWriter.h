#pragma once
// Writes 24-bit RGB images as PNG (stored, uncompressed deflate): enough for
// the screenshots the GUI tests keep, with no image library.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// `rgb` holds height rows of width * 3 bytes, top row first.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace testsupport
