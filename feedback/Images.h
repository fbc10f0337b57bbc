// The feedback icon's images from the branding library, and drawing one into a layered window with
// per-pixel alpha.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>

#include "environment/BrandingResources.h"
#include "feedback/ui_handles.h"

namespace ffagent_window {

// One image as a top-down 32-bit DIB section with premultiplied alpha.
class icon_image_t {
 public:
  // Bitmap resource |id| of |resources| (32 bits with alpha, or 24 bits taken as opaque).
  static std::optional<icon_image_t> load(HMODULE resources, int id);
  // A fully transparent image of |size|: the icon with nothing to show.
  static std::optional<icon_image_t> blank(SIZE size);
  // This image resampled to |size| (bilinear over the premultiplied pixels, so edges stay clean).
  std::optional<icon_image_t> scaled(SIZE size) const;
  // Premultiplied BGRA, top-down, size.cx * size.cy pixels.
  const std::uint8_t* pixels() const { return bits_; }

  HBITMAP bitmap() const { return bitmap_.get(); }
  SIZE size() const { return size_; }

 private:
  ffui::unique_hbitmap bitmap_;
  std::uint8_t* bits_ = nullptr;
  SIZE size_{};
};

// Images 1 to 6 for 96 dpi (IDB_KX_IMAGE1 to IDB_KX_IMAGE6) and for 144 dpi (IDB_KX_IMAGE1_144 to
// IDB_KX_IMAGE6_144); a missing one stays empty.
class icon_images_t {
 public:
  static constexpr int kCount = 6;
  static constexpr int kFirst96 = IDB_KX_IMAGE1, kFirst144 = IDB_KX_IMAGE1_144;
  // The images for |dpi|: the 144-dpi set from 132 dpi up while it is there, else the 96-dpi set,
  // resampled when their size does not fit |dpi|. False when any image is missing.
  bool load(HMODULE resources, UINT dpi = 96);
  const icon_image_t* image(int number) const;
  // The size of the icon window: the size of the first image there is, else 32 by 32.
  SIZE size() const;

 private:
  std::array<std::optional<icon_image_t>, kCount> images_;
};

// Places |window| at |position| with the size of |image| and shows |image| in it; with |clip|
// (screen coordinates) only the part of the image inside it, the window shrunk to that part.
// False when nothing of the image is inside |clip| or the drawing failed.
bool draw_layered(HWND window, POINT position, const icon_image_t& image, const RECT* clip = nullptr,
                  RECT* shown = nullptr);

}  // namespace ffagent_window
