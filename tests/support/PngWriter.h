#pragma once
// Screenshots kept by the GUI tests: 8-bit RGB PNG files, written without a
// compression library (the image data goes into stored deflate blocks).
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB, rows top to bottom

  std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
  Image crop(int left, int top, int right, int bottom) const;
};

bool WritePng(const std::string& path, const Image& image);
// The same from rows of width * 3 bytes (R, G, B), top row first.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace testsupport
