#include "tests/support/PngWriter.h"

#include <algorithm>
#include <cstdio>

namespace testsupport {

namespace {

std::uint32_t Crc(const std::uint8_t* data, std::size_t n, std::uint32_t crc = 0xFFFFFFFFu) {
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void Chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& d) {
  Put32(out, static_cast<std::uint32_t>(d.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), d.begin(), d.end());
  Put32(out, ~Crc(out.data() + start, out.size() - start));
}

}  // namespace

Image Image::crop(int left, int top, int right, int bottom) const {
  Image out;
  left = std::max(left, 0), top = std::max(top, 0);
  right = std::min(right, width), bottom = std::min(bottom, height);
  if (right <= left || bottom <= top) return out;
  out.width = right - left;
  out.height = bottom - top;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) out.pixels.push_back(at(x, y));
  return out;
}

bool WritePng(const std::string& path, const Image& image) {
  if (image.width <= 0 || image.height <= 0) return false;
  // Each row: filter byte 0, then RGB.
  std::vector<std::uint8_t> raw;
  raw.reserve(std::size_t(image.height) * (1 + 3 * std::size_t(image.width)));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < image.width; ++x) {
      const std::uint32_t p = image.at(x, y);
      raw.push_back(static_cast<std::uint8_t>(p >> 16));
      raw.push_back(static_cast<std::uint8_t>(p >> 8));
      raw.push_back(static_cast<std::uint8_t>(p));
    }
  }
  std::vector<std::uint8_t> z = {0x78, 0x01};  // zlib header, no compression
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  for (std::size_t pos = 0; pos < raw.size() || pos == 0;) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n)), z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n)), z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
    if (n == 0) break;
  }
  Put32(z, (b << 16) | a);
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  Put32(header, static_cast<std::uint32_t>(image.width));
  Put32(header, static_cast<std::uint32_t>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && ok;
}

bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb) {
  if (width < 0 || height < 0 || rgb.size() < std::size_t(width) * height * 3) return false;
  Image image;
  image.width = width, image.height = height;
  image.pixels.resize(std::size_t(width) * height);
  for (std::size_t i = 0; i < image.pixels.size(); ++i)
    image.pixels[i] = std::uint32_t(rgb[3 * i]) << 16 | std::uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return WritePng(path, image);
}

}  // namespace testsupport
