#include "include_extension/DOMNSElement.h"

#include <limits>

#include <gtest/gtest.h>

#include "include_extension/DOMDocumentXBL.h"
#include "peers/dom/SnapshotDom.h"
#include "tracecore/testing.h"

namespace {

using snapdom::page_t;

struct rect_case_t {
  const char* name;
  float l, t, r, b;    // the layout rectangle in CSS pixels
  float scale = 1.0f;  // screen pixels per CSS pixel
  bool utils = true;   // the window utilities are available
  dom_rect_t expected;
};

class BoundingRect : public ::testing::TestWithParam<rect_case_t> {};

TEST_P(BoundingRect, ScaledAndTruncatedTowardZero) {
  const auto& c = GetParam();
  auto page = page_t::from_html(R"(<input id="u" name="u">)");
  page_t::set_rect(page->element_by_id("u"), c.l, c.t, c.r, c.b);
  page->set_screen_pixels_per_css_pixel(c.scale);
  page->set_window_utils_available(c.utils);
  dom_rect_t rect;
  EXPECT_EQ(NS_OK, CDOMNSElementImpl::getBoundingClientRect(page->element_by_id("u"), rect));
  EXPECT_EQ(c.expected, rect);
  EXPECT_EQ(0u, page->outside_refs());
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundingRect,
    ::testing::Values(
        rect_case_t{.name = "Scaled", .l = 10.9f, .t = 20.5f, .r = 110.2f, .b = 40.99f, .scale = 1.5f,
                    .expected = {16, 30, 165, 61}},
        rect_case_t{.name = "NoWindowUtils", .l = 10.9f, .t = 20.5f, .r = 110.2f, .b = 40.99f, .scale = 1.5f,
                    .utils = false, .expected = {10, 20, 110, 40}},
        rect_case_t{.name = "NegativeTowardZero", .l = -10.7f, .t = -0.5f, .r = 5.5f, .b = 1.0f,
                    .expected = {-10, 0, 5, 1}},
        // Out-of-range layout values are clamped rather than overflowing the conversion.
        rect_case_t{.name = "Clamped", .l = -1e20f, .t = 0, .r = 1e20f, .b = std::numeric_limits<float>::quiet_NaN(),
                    .expected = {kMin, 0, kMax, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BoundingRectFailures, MissingRectangleLeavesOutputAndScaleFailureIsOnlyTraced) {
  auto page = page_t::from_html(R"(<input id="u" name="u">)");
  page_t::set_rect(page->element_by_id("u"), 1.9f, 2.9f, 3.9f, 4.9f);
  dom_rect_t rect{7, 7, 7, 7};
  page->null_result("GetBoundingClientRect", 1);
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMNSElementImpl::getBoundingClientRect(page->element_by_id("u"), rect));
  EXPECT_EQ((dom_rect_t{7, 7, 7, 7}), rect);
  page->set_screen_pixels_per_css_pixel(2.0f);
  page->fail_call("GetScreenPixelsPerCSSPixel", 1, NS_ERROR_FAILURE);
  EXPECT_EQ(NS_OK, CDOMNSElementImpl::getBoundingClientRect(page->element_by_id("u"), rect));
  EXPECT_EQ((dom_rect_t{1, 2, 3, 4}), rect);
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMNSElementImpl::getBoundingClientRect(nullptr, rect));
}

TEST(ScreenPixels, MissingInterfacesGiveInvalidPointer) {
  auto page = page_t::from_html("<p>x</p>");
  float scale = 0;
  page->set_screen_pixels_per_css_pixel(2.0f);
  EXPECT_EQ(NS_OK, CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel(page->window(), scale));
  EXPECT_EQ(2.0f, scale);
  page->set_window_utils_available(false);
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel(page->window(), scale));
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel(nullptr, scale));
}

TEST(Visibility, ZeroWidthIsInvisibleWithoutReadingTheHeight) {
  auto page = page_t::from_html(R"(<input id="u" name="u"><input id="h" type="hidden">)");
  bool visible = false;
  EXPECT_EQ(NS_OK, CDOMNSHTMLElement::getVisibility(page->element_by_id("u"), visible));
  EXPECT_TRUE(visible);
  page->record_calls(true);
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_OK, CDOMNSHTMLElement::getVisibility(page->element_by_id("h"), visible));
  EXPECT_FALSE(visible);
  for (const auto& c : page->calls()) EXPECT_NE("nsIDOMHTMLElement::GetOffsetHeight", c);
  EXPECT_TRUE(trace.has('U', R"('`I02`'rb_ = 0, rv = 0, <input id="h" type="hidden">)")) << trace.dump();
}

TEST(Visibility, FailuresAndNonHtmlNodes) {
  auto page = page_t::from_html(R"(<input id="u" name="u"><textbox id="t"></textbox>)");
  tracecore::testing::capture_t trace;
  bool visible = true;
  page->fail_call("GetOffsetHeight", 1, NS_ERROR_FAILURE);
  EXPECT_EQ(NS_ERROR_FAILURE, CDOMNSHTMLElement::getVisibility(page->element_by_id("u"), visible));
  EXPECT_FALSE(visible);
  EXPECT_TRUE(trace.has('U', "getheight = 0, ns = 80004005")) << trace.dump();
  page->fail_call("GetOffsetWidth", 1, NS_ERROR_FAILURE);
  EXPECT_EQ(NS_ERROR_FAILURE, CDOMNSHTMLElement::getVisibility(page->element_by_id("u"), visible));
  EXPECT_TRUE(trace.has('U', "getwidth = 0, ns = 80004005")) << trace.dump();
  visible = true;
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMNSHTMLElement::getVisibility(page->element_by_id("t"), visible));
  EXPECT_TRUE(visible);
}

// Both checks trace under a scope of their own name; the scale is a line inside its scope.
TEST(DomTraceScopes, VisibilityAndScaleTraceInsideTheirScopes) {
  auto page = page_t::from_html(R"(<input id="h" type="hidden">)");
  page->set_screen_pixels_per_css_pixel(2.0f);
  tracecore::testing::capture_t trace;
  bool visible = true;
  CDOMNSHTMLElement::getVisibility(page->element_by_id("h"), visible);
  float scale = 0;
  CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel(page->window(), scale);
  EXPECT_TRUE(trace.has('>', "abs_element::getVisibility")) << trace.dump();
  EXPECT_TRUE(trace.has('>', "CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel")) << trace.dump();
  std::string visibility_scope, scale_scope;
  for (const auto& r : trace.records()) {
    if (r.kind == 'U' && r.text.rfind("'`I02`'rb_ = 0", 0) == 0) visibility_scope = r.scope;
    if (r.kind == 'U' && r.text == "2.000000") scale_scope = r.scope;
  }
  EXPECT_EQ(visibility_scope, "abs_element::getVisibility") << trace.dump();
  EXPECT_EQ(scale_scope, "CDOMWindowUtilsImpl::getScreenPixelsPerCSSPixel") << trace.dump();
}

TEST(TextboxInput, FoundMissingAndNoXblDocument) {
  auto page = page_t::from_html(R"(<textbox id="t"><input anonid="input" id="in"></textbox><textbox id="e"></textbox>)");
  nsCOMPtr<nsIDOMElement> input;
  EXPECT_EQ(NS_OK, CDOMDocumentXBL::getTextboxInput(page->document(), page->element_by_id("t"), input));
  EXPECT_EQ("input#in", page_t::describe(input));
  input = nullptr;
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMDocumentXBL::getTextboxInput(page->document(), page->element_by_id("e"), input));
  tracecore::testing::capture_t trace;
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMDocumentXBL::getTextboxInput(nullptr, page->element_by_id("e"), input));
  EXPECT_TRUE(trace.has('U', R"('`I04`'No interface nsIDOMDocumentXBL as <textbox id="e"></textbox>)")) << trace.dump();
  EXPECT_FALSE(input);
}

TEST(ContentRect, RootElementInScreenPixels) {
  auto page = page_t::from_html("<p>x</p>");
  nsCOMPtr<nsIDOMElement> root;
  page->document()->GetDocumentElement(getter_AddRefs(root));
  page_t::set_rect(root, 0, 0, 640, 480);
  page->set_screen_pixels_per_css_pixel(2.0f);
  dom_rect_t rect;
  EXPECT_EQ(NS_OK, CDOMWindowUtils::getContentRect(page->window(), rect));
  EXPECT_EQ((dom_rect_t{0, 0, 1280, 960}), rect);
  EXPECT_EQ(NS_ERROR_INVALID_POINTER, CDOMWindowUtils::getContentRect(nullptr, rect));
}

}  // namespace
