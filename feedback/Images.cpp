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
  image.size_ = {width, height};
  return image;
}

std::optional<icon_image_t> icon_image_t::blank(SIZE size) {
  dib_t dib = make_dib(size);
  if (!dib.bitmap) return std::nullopt;
  std::memset(dib.bits, 0, static_cast<size_t>(size.cx) * size.cy * 4);
  icon_image_t image;
  image.bitmap_ = std::move(dib.bitmap);
  image.size_ = size;
  return image;
}

bool icon_images_t::load(HMODULE resources) {
  bool all = true;
  for (int i = 0; i < kCount; ++i) {
    images_[i] = icon_image_t::load(resources, 501 + i);
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

bool draw_layered(HWND window, POINT position, const icon_image_t& image) {
  ffui::window_dc_t screen(nullptr);
  ffui::unique_hdc memory(CreateCompatibleDC(screen.get()));
  if (!memory) return false;
  ffui::select_object_t selected(memory.get(), image.bitmap());
  SIZE size = image.size();
  POINT source{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  // The size goes in by SetWindowPos as well, so that the window has it even where layered drawing
  // is not available.
  SetWindowPos(window, nullptr, position.x, position.y, size.cx, size.cy, SWP_NOACTIVATE | SWP_NOZORDER);
  if (!UpdateLayeredWindow(window, screen.get(), &position, &size, memory.get(), &source, 0, &blend, ULW_ALPHA)) {
    if (tracecore::category_on(tracecore::cat_fb_drawing)) KXERROR_LAST("UpdateLayeredWindow");
    return false;
  }
  return true;
}

}  // namespace ffagent_window
