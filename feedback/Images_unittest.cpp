// The icon's images from the branding stand-in: all six load as top-down, premultiplied 32-bit DIBs.
#include "feedback/Images.h"

#include <gtest/gtest.h>

#include "environment/Branding.h"
#include "environment/BrandingResources.h"

namespace ffagent_window {
namespace {

struct bgra_t {
  int b, g, r, a;
};

bgra_t pixel(const icon_image_t& image, int x, int y) {
  DIBSECTION dib{};
  EXPECT_EQ(GetObjectW(image.bitmap(), sizeof dib, &dib), static_cast<int>(sizeof dib));
  const auto* bits = static_cast<const unsigned char*>(dib.dsBm.bmBits);
  const unsigned char* p = bits + (static_cast<size_t>(y) * dib.dsBm.bmWidth + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

TEST(IconImages, AllSixLoadFromTheBrandingLibrary) {
  icon_images_t images;
  ASSERT_TRUE(images.load(kxbranding::branding_library()));
  for (int n = 1; n <= icon_images_t::kCount; ++n) {
    ASSERT_NE(images.image(n), nullptr) << n;
    EXPECT_EQ(images.image(n)->size().cx, 32);
    EXPECT_EQ(images.image(n)->size().cy, 32);
  }
  EXPECT_EQ(images.image(0), nullptr);
  EXPECT_EQ(images.image(7), nullptr);
  EXPECT_EQ(images.size().cx, 32);
}

TEST(IconImages, RowsTopDownAndColoursPremultiplied) {
  const auto image = icon_image_t::load(kxbranding::branding_library(), IDB_KX_IMAGE6);
  ASSERT_TRUE(image);
  const bgra_t centre = pixel(*image, 16, 16);
  EXPECT_EQ(centre.r, 30);
  EXPECT_EQ(centre.g, 90);
  EXPECT_EQ(centre.b, 190);
  EXPECT_EQ(centre.a, 255);
  // The corner lies outside the disc: fully transparent, so no colour either.
  const bgra_t corner = pixel(*image, 0, 0);
  EXPECT_EQ(corner.a + corner.r + corner.g + corner.b, 0);
  // The ridges are open at the bottom: light at the top of the outer ring, the disc's colour below.
  EXPECT_GT(pixel(*image, 16, 5).r, 200);
  EXPECT_EQ(pixel(*image, 16, 26).r, 30);
  // An edge pixel is partly transparent; premultiplied, no channel exceeds its alpha.
  bool partly = false;
  for (int x = 0; x < 32; ++x) {
    const bgra_t p = pixel(*image, x, 16);
    EXPECT_LE(p.r, p.a);
    EXPECT_LE(p.g, p.a);
    EXPECT_LE(p.b, p.a);
    partly = partly || (p.a > 0 && p.a < 255);
  }
  EXPECT_TRUE(partly);
}

TEST(IconImages, MissingImagesLeaveTheIconBlank) {
  icon_images_t images;
  EXPECT_FALSE(images.load(GetModuleHandleW(nullptr)));  // this program has no bitmaps
  EXPECT_EQ(images.image(1), nullptr);
  EXPECT_EQ(images.size().cx, 32);
  const auto blank = icon_image_t::blank({32, 32});
  ASSERT_TRUE(blank);
  EXPECT_EQ(pixel(*blank, 16, 16).a, 0);
}

}  // namespace
}  // namespace ffagent_window
