// Balloons over real tooltip windows, the training prompt counter through the settings stand-in,
// and the texts with the product name.
#include "feedback/Balloons.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include "environment/BrandingResources.h"
#include "environment/Settings.h"
#include "feedback/FeedbackTestSupport.h"
#include "feedback/Texts.h"
#include "tracecore/testing.h"
#include "tracecore/trace.h"

namespace ffagent_window {
namespace {

using fftest::plain_window_t;

constexpr const wchar_t* kCounter = L"@balloon_counter::TrainingPrompt";

TEST(TrainingPromptCounter, ThreeShowingsThenNever) {
  fftest::setting_t counter(kCounter);
  const struct {
    bool answer;
    const wchar_t* left;
  } steps[] = {{true, L"2"}, {true, L"1"}, {true, L"0"}, {false, L"0"}, {false, L"0"}};
  for (const auto& step : steps) {
    EXPECT_EQ(need_show_balloon_for_training(), step.answer);
    EXPECT_EQ(counter.value().value_or(L"(none)"), step.left);
  }
}

TEST(TrainingPromptCounter, NegativeCounterOtherThanUnsetNeverShows) {
  fftest::setting_t counter(kCounter);
  counter.set(L"-5");
  EXPECT_FALSE(need_show_balloon_for_training());
  EXPECT_FALSE(need_show_balloon_for_training());
  EXPECT_EQ(counter.value().value_or(L""), L"-5");
}

TEST(TrainingPromptCounter, StoredCounterCountsDownWithTrace) {
  fftest::setting_t counter(kCounter);
  counter.set(L"1");
  tracecore::testing::capture_t trace(tracecore::cat_show_balloon);
  EXPECT_TRUE(need_show_balloon_for_training());
  EXPECT_TRUE(trace.has('U', "counter=1")) << trace.dump();
  EXPECT_EQ(counter.value().value_or(L""), L"0");
}

TEST(TrainingPromptTexts, ChosenByPersonalModeAndSensorState) {
  const struct {
    bool personal, sensor;
    UINT title, text;
  } cases[] = {{false, false, IDS_KX_PROMPT_TITLE, IDS_KX_PROMPT_TEXT},
               {false, true, IDS_KX_PROMPT_TITLE, IDS_KX_PROMPT_TEXT},
               {true, true, IDS_KX_PROMPT_SENSOR_TITLE, IDS_KX_PROMPT_SENSOR_TEXT},
               {true, false, IDS_KX_PROMPT_PERSONAL_TITLE, IDS_KX_PROMPT_PERSONAL_TEXT}};
  for (const auto& c : cases) {
    const auto t = training_prompt_texts(c.personal, c.sensor);
    EXPECT_EQ(t.title, c.title) << c.personal << c.sensor;
    EXPECT_EQ(t.text, c.text) << c.personal << c.sensor;
  }
}

TEST(Texts, ProductNameReplacesEveryMarker) {
  EXPECT_EQ(ffui::with_product_name(L"<<%PN%>> and <<%PN%>>!", L"PN <<%PN%>>"), L"PN <<%PN%>> and PN <<%PN%>>!");
  EXPECT_EQ(ffui::product_name(), L"Kestrix Desk");  // from the branding stand-in's version resource
  const std::wstring text = ffui::ui_text(IDS_KX_PROMPT_TEXT);
  EXPECT_NE(text.find(L"Kestrix Desk"), std::wstring::npos);
  EXPECT_EQ(text.find(L"<<%PN%>>"), std::wstring::npos);
  EXPECT_TRUE(ffui::ui_text(39999).empty());
}

// An owner with a client area of 40 by 16 pixels at (100, 200).
class BalloonTest : public ::testing::Test {
 protected:
  plain_window_t owner_{L"KxTestOwner", WS_POPUP | WS_VISIBLE, {100, 200, 140, 216}, WS_EX_TOOLWINDOW};
  balloons balloons_;
};

TEST_F(BalloonTest, TipGoesToTheMiddleNearTheBottomOfTheOwner) {
  tracecore::testing::capture_t trace;
  balloons_.show(owner_.hwnd(), L"Title", L"Text", 1, false);
  ASSERT_TRUE(balloons_.shown());
  EXPECT_TRUE(trace.has('U', "rect x=100, y=200, w=40, h=16")) << trace.dump();
  EXPECT_TRUE(trace.has('U', "TrackPosition: x=120, y=214")) << trace.dump();
  wchar_t cls[64] = {};
  GetClassNameW(balloons_.balloon()->window(), cls, 64);
  EXPECT_STREQ(cls, L"tooltips_class32");
  const LONG style = GetWindowLongW(balloons_.balloon()->window(), GWL_STYLE);
  EXPECT_EQ(style & 0x800000C3, static_cast<LONG>(0x80000043));
}

TEST_F(BalloonTest, CloseButtonWhenAsked) {
  balloons_.show(owner_.hwnd(), L"", L"Text", 1, true);
  ASSERT_TRUE(balloons_.shown());
  EXPECT_TRUE(GetWindowLongW(balloons_.balloon()->window(), GWL_STYLE) & TTS_CLOSE);
}

TEST_F(BalloonTest, MouseWithinFourPixelsKeepsTheBalloon) {
  const struct {
    int dx, dy;
    bool kept;
  } moves[] = {{4, 0, true}, {-4, 4, true}, {0, -4, true}, {4, 4, true},
               {5, 0, false}, {0, 5, false}, {-5, -1, false}, {3, -5, false}};
  for (const auto& m : moves) {
    balloons_.show(owner_.hwnd(), L"", L"Text", 1, false);
    const POINT ref = balloons_.balloon()->reference();
    balloons_.autohide(MAKELPARAM(ref.x + m.dx, ref.y + m.dy));
    EXPECT_EQ(balloons_.shown(), m.kept) << m.dx << "," << m.dy;
    if (!m.kept) {
      // The mouse position becomes the new reference point.
      EXPECT_EQ(balloons_.balloon()->reference().x, ref.x + m.dx);
      EXPECT_EQ(balloons_.balloon()->reference().y, ref.y + m.dy);
    }
  }
}

TEST_F(BalloonTest, NegativeScreenPositionsUnpackSigned) {
  balloons_.show(owner_.hwnd(), L"", L"Text", 1, false);
  const POINT ref = balloons_.balloon()->reference();
  balloons_.autohide(MAKELPARAM(-3, -3));
  EXPECT_EQ(balloons_.shown(), std::abs(ref.x + 3) <= 4 && std::abs(ref.y + 3) <= 4);
  if (!balloons_.shown()) {
    EXPECT_EQ(balloons_.balloon()->reference().x, -3);
  }
}

TEST_F(BalloonTest, SecondTextHidesTheFirstAndReusesTheWindow) {
  balloons_.show(owner_.hwnd(), L"First", L"One", 1, false);
  const HWND tooltip = balloons_.balloon()->window();
  balloons_.show(owner_.hwnd(), L"Second", L"Two", 2, false);
  EXPECT_EQ(balloons_.balloon()->window(), tooltip);
  EXPECT_TRUE(balloons_.shown());
  EXPECT_EQ(balloons_.balloon()->text(), L"Two");
  EXPECT_EQ(balloons_.balloon()->title(), L"Second");
  balloons_.hide();
  EXPECT_FALSE(balloons_.shown());
}

TEST_F(BalloonTest, TextIdsComeFromTheBrandingLibrary) {
  balloons_.show(owner_.hwnd(), IDS_KX_PROMPT_TITLE, IDS_KX_PROMPT_TEXT, 1);
  ASSERT_TRUE(balloons_.shown());
  EXPECT_EQ(balloons_.balloon()->title(), ffui::ui_text(IDS_KX_PROMPT_TITLE));
  EXPECT_EQ(balloons_.balloon()->text(), ffui::ui_text(IDS_KX_PROMPT_TEXT));
  balloons_.show(owner_.hwnd(), IDS_KX_SCAN_POOR);
  EXPECT_TRUE(balloons_.balloon()->title().empty());
  EXPECT_EQ(balloons_.balloon()->text(), ffui::ui_text(IDS_KX_SCAN_POOR));
  balloons_.show(owner_.hwnd(), 0u);
  EXPECT_FALSE(balloons_.shown());
}

TEST_F(BalloonTest, MissingOwnerOrTextShowsNothing) {
  tracecore::testing::capture_t trace;
  balloons_.show(nullptr, L"", L"Text", 1, false);
  EXPECT_TRUE(trace.contains('E', "empty owner")) << trace.dump();
  balloons_.show(owner_.hwnd(), L"Title", L"", 1, false);
  EXPECT_TRUE(trace.contains('E', "empty balloon text")) << trace.dump();
  EXPECT_FALSE(balloons_.shown());
  EXPECT_EQ(balloons_.balloon(), nullptr);
}

TEST_F(BalloonTest, ReleaseTakesTheTooltipWindowDown) {
  balloons_.show(owner_.hwnd(), L"", L"Text", 1, false);
  const HWND tooltip = balloons_.balloon()->window();
  ASSERT_TRUE(IsWindow(tooltip));
  balloons_.release();
  EXPECT_FALSE(IsWindow(tooltip));
}

}  // namespace
}  // namespace ffagent_window
