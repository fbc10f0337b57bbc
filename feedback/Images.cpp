#include "feedback/Images.h"

#include <cstdint>
#include <cstring>

#include "tracecore/trace.h"

namespace ffagent_window {
namespace {

struct dib_t {
  ffui::unique_hbitmap bitmap;
  std::uint8_t* bits = nullptr;  // BGRA, top-down
};

dib_t make_dib(SIZE size) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  dib_t dib;
  void* bits = nullptr;
  dib.bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  dib.bits = static_cast<std::uint8_t*>(bits);
  return dib;
}

}  // namespace

std::optional<icon_image_t> icon_image_t::load(HMODULE resources, int id) {
  if (!resources) return std::nullopt;
  HRSRC found = FindResourceW(resources, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
  HGLOBAL loaded = found ? LoadResource(resources, found) : nullptr;
  const auto* data = static_cast<const std::uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  const DWORD bytes = found ? SizeofResource(resources, found) : 0;
  if (!data || bytes < sizeof(BITMAPINFOHEADER)) return std::nullopt;
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  const int width = header.biWidth, height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  const int depth = header.biBitCount;
  if (header.biCompression != BI_RGB || (depth != 32 && depth != 24) || width <= 0 || width > 256 || height <= 0 ||
      height > 256)
    return std::nullopt;
  const size_t stride = ((static_cast<size_t>(width) * depth + 31) / 32) * 4;
  const size_t offset = header.biSize + header.biClrUsed * sizeof(RGBQUAD);
  if (bytes < offset + stride * height) return std::nullopt;

  dib_t dib = make_dib({width, height});
  if (!dib.bitmap) return std::nullopt;
  for (int y = 0; y < height; ++y) {
    const int source_row = header.biHeight < 0 ? y : height - 1 - y;
    const std::uint8_t* in = data + offset + stride * source_row;
    std::uint8_t* out = dib.bits + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x, in += depth / 8, out += 4) {
      const unsigned alpha = depth == 32 ? in[3] : 255;
      for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>(in[c] * alpha / 255);  // premultiplied
      out[3] = static_cast<std::uint8_t>(alpha);
    }
  }
  icon_image_t image;
  image.bitmap_ = std::move(dib.bitmap);
  image.bits_ = dib.bits;
  image.size_ = {width, height};
  return image;
}

std::optional<icon_image_t> icon_image_t::blank(SIZE size) {
  dib_t dib = make_dib(size);
  if (!dib.bitmap) return std::nullopt;
  std::memset(dib.bits, 0, static_cast<size_t>(size.cx) * size.cy * 4);
  icon_image_t image;
  image.bitmap_ = std::move(dib.bitmap);
  image.bits_ = dib.bits;
  image.size_ = size;
  return image;
}

std::optional<icon_image_t> icon_image_t::scaled(SIZE size) const {
  if (size.cx == size_.cx && size.cy == size_.cy) {
    auto copy = blank(size);
    if (copy) std::memcpy(copy->bits_, bits_, static_cast<size_t>(size.cx) * size.cy * 4);
    return copy;
  }
  if (size.cx <= 0 || size.cy <= 0 || size.cx > 1024 || size.cy > 1024 || !bits_) return std::nullopt;
  auto out = blank(size);
  if (!out) return std::nullopt;
  const auto at = [&](int x, int y, int c) -> double {
    x = x < 0 ? 0 : (x >= size_.cx ? size_.cx - 1 : x);
    y = y < 0 ? 0 : (y >= size_.cy ? size_.cy - 1 : y);
    return bits_[(static_cast<size_t>(y) * size_.cx + x) * 4 + c];
  };
  for (int y = 0; y < size.cy; ++y) {
    // Pixel centres map onto pixel centres.
    const double sy = (y + 0.5) * size_.cy / size.cy - 0.5;
    const int y0 = static_cast<int>(sy < 0 ? -1 : sy);
    const double fy = sy - y0;
    for (int x = 0; x < size.cx; ++x) {
      const double sx = (x + 0.5) * size_.cx / size.cx - 0.5;
      const int x0 = static_cast<int>(sx < 0 ? -1 : sx);
      const double fx = sx - x0;
      std::uint8_t* p = out->bits_ + (static_cast<size_t>(y) * size.cx + x) * 4;
      for (int c = 0; c < 4; ++c) {
        const double v = (at(x0, y0, c) * (1 - fx) + at(x0 + 1, y0, c) * fx) * (1 - fy) +
                         (at(x0, y0 + 1, c) * (1 - fx) + at(x0 + 1, y0 + 1, c) * fx) * fy;
        p[c] = static_cast<std::uint8_t>(v + 0.5);
      }
    }
  }
  return out;
}

bool icon_images_t::load(HMODULE resources, UINT dpi) {
  if (dpi == 0) dpi = 96;
  const bool high = dpi >= 132 && icon_image_t::load(resources, kFirst144).has_value();
  const int first = high ? kFirst144 : kFirst96;
  const UINT base_dpi = high ? 144 : 96;
  bool all = true;
  for (int i = 0; i < kCount; ++i) {
    images_[i] = icon_image_t::load(resources, first + i);
    if (images_[i] && dpi != base_dpi) {
      const SIZE natural = images_[i]->size();
      const SIZE wanted{MulDiv(natural.cx, static_cast<int>(dpi), static_cast<int>(base_dpi)),
                        MulDiv(natural.cy, static_cast<int>(dpi), static_cast<int>(base_dpi))};
      images_[i] = images_[i]->scaled(wanted);
    }
    all = all && images_[i].has_value();
  }
  return all;
}

const icon_image_t* icon_images_t::image(int number) const {
  if (number < 1 || number > kCount || !images_[number - 1]) return nullptr;
  return &*images_[number - 1];
}

SIZE icon_images_t::size() const {
  for (const auto& image : images_)
    if (image) return image->size();
  return {32, 32};
}

bool draw_layered(HWND window, POINT position, const icon_image_t& image, const RECT* clip, RECT* shown) {
  const RECT full{position.x, position.y, position.x + image.size().cx, position.y + image.size().cy};
  RECT part = full;
  if (clip && !IntersectRect(&part, &full, clip)) {
    if (shown) *shown = RECT{};
    return false;
  }
  if (shown) *shown = part;
  ffui::window_dc_t screen(nullptr);
  ffui::unique_hdc memory(CreateCompatibleDC(screen.get()));
  if (!memory) return false;
  ffui::select_object_t selected(memory.get(), image.bitmap());
  POINT at{part.left, part.top};
  SIZE size{part.right - part.left, part.bottom - part.top};
  POINT source{part.left - full.left, part.top - full.top};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  // The size goes in by SetWindowPos as well, so that the window has it even where layered drawing
  // is not available.
  SetWindowPos(window, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOACTIVATE | SWP_NOZORDER);
  if (!UpdateLayeredWindow(window, screen.get(), &at, &size, memory.get(), &source, 0, &blend, ULW_ALPHA)) {
    if (tracecore::category_on(tracecore::cat_fb_drawing)) KXERROR_LAST("UpdateLayeredWindow");
    return false;
  }
  return true;
}

}  // namespace ffagent_window
