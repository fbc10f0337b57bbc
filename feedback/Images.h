// The feedback icon's images from the branding library, and drawing one into a layered window with
// per-pixel alpha.
#pragma once

#include <windows.h>

#include <array>
#include <optional>

#include "feedback/ui_handles.h"

namespace ffagent_window {

// One image as a top-down 32-bit DIB section with premultiplied alpha.
class icon_image_t {
 public:
  // Bitmap resource |id| of |resources| (32 bits with alpha, or 24 bits taken as opaque).
  static std::optional<icon_image_t> load(HMODULE resources, int id);
  // A fully transparent image of |size|: the icon with nothing to show.
  static std::optional<icon_image_t> blank(SIZE size);

  HBITMAP bitmap() const { return bitmap_.get(); }
  SIZE size() const { return size_; }

 private:
  ffui::unique_hbitmap bitmap_;
  SIZE size_{};
};

// Images 1 to 6 (resources 501 to 506); a missing one stays empty.
class icon_images_t {
 public:
  static constexpr int kCount = 6;
  // False when any image is missing.
  bool load(HMODULE resources);
  const icon_image_t* image(int number) const;
  // The size of the icon window: the size of the first image there is, else 32 by 32.
  SIZE size() const;

 private:
  std::array<std::optional<icon_image_t>, kCount> images_;
};

// Places |window| at |position| with the size of |image| and shows |image| in it.
bool draw_layered(HWND window, POINT position, const icon_image_t& image);

}  // namespace ffagent_window
