// The feedback UI behind a real communication window, with the agent stand-in: the component's window
// made with the icon attached, the icon menu's round trip (state word asked, command run by the slots), the double
// click's default action, and the browser messages and finger activity the window hands over.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/window/ffcomm.h"
#include "environment/BrandingResources.h"
#include "feedback/FeedbackTestSupport.h"
#include "feedback/FeedbackUI.h"
#include "peers/agent/AgentDriver.h"
#include "tests/support/WineTestSupport.h"

namespace ffagent_window {
namespace {

using fftest::pump_until;

// A component with the real feedback UI that records which slots the window ran.
class component_t final : public ffcomm_t {
 public:
  component_t() : ffcomm_t(make_feedback_ui()) {}
  ~component_t() { destroy_window(); }

  fficon& icon() { return static_cast<feedback_ui_t&>(feedback()).icon(); }
  bool called(const std::string& slot) const { return std::find(calls.begin(), calls.end(), slot) != calls.end(); }

  std::vector<std::string> calls;
  bool trained = false;
  bool announced = false;

  void onfillin(kxmessages::fillin_reply_context_t&) override { calls.push_back("onfillin"); }
  void onrequestaborted(const kxmessages::notice_requestaborted_t&) override {}
  void onkxagentversion(const kxmessages::notice_kxaversion_t&) override { announced = true; }
  void onhighlight(const kxmessages::notice_highlight_t&) override {}
  void onsenddata(const kxmessages::notice_senddata_t&) override {}
  void onchecklogon(kxmessages::checklogon_reply_context_t&) override {}
  void onstarttraining() override { calls.push_back("onstarttraining"); }
  void oncacheupdated() override {}
  void onreserved() override {}
  void onaddprofile() override { calls.push_back("onaddprofile"); }
  void oneditprofile() override { calls.push_back("oneditprofile"); }
  void onstartFLM() override { calls.push_back("onstartFLM"); }
  void ondontprompttrainG() override { calls.push_back("ondontprompttrainG"); }
  void ondontprompttrainL() override { calls.push_back("ondontprompttrainL"); }
  void onshowiconsettings() override { calls.push_back("onshowiconsettings"); }
  void onrequestfillin() override { calls.push_back("onrequestfillin"); }
  void onstarttrainingpsw() override { calls.push_back("onstarttrainingpsw"); }
  void onhelp() override { calls.push_back("onhelp"); }
  bool thepage_is_trained() override { return trained; }
  bool thescreen_is_passwordchange() override { return false; }
  bool thepage_is_goodforlogon() override { return true; }
  void thepage_manifestoptions(std::wstring& key, std::wstring& location) override {
    key.clear();
    location.clear();
  }

 protected:
  menu_switches_t menu_switches() override { return {}; }
};

// The agent stand-in runs in a process of its own for the whole suite.
class FeedbackBehindCommWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<kxtest::scratch_dir_t>(L"feedbackcomm");
    agent_ = std::make_unique<kxagent::agent_process_t>(kxagent::options_in(dir_->path()));
  }
  static void TearDownTestSuite() {
    agent_.reset();
    dir_.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(agent_->running()) << "the agent stand-in did not start";
    ASSERT_TRUE(component_.createwindow(browser_.frame()));
    // The agent answers the window's announcement; wait for it so that the test starts quiet.
    ASSERT_TRUE(pump_until([&] { return component_.announced; }, 10000));
    ASSERT_TRUE(IsWindow(component_.icon().window()));
    ASSERT_EQ(component_.icon().target(), browser_.frame());
    component_.feedback().set_attach({20, 40, 180, 60});
    component_.feedback().show(L"www.example.com", icon_trained);
    ASSERT_TRUE(IsWindowVisible(component_.icon().window()));
  }
  void click(UINT down, UINT up) {
    SendMessageW(component_.icon().window(), down, 0, MAKELPARAM(10, 10));
    SendMessageW(component_.icon().window(), up, 0, MAKELPARAM(10, 10));
  }

  static inline std::unique_ptr<kxtest::scratch_dir_t> dir_;
  static inline std::unique_ptr<kxagent::agent_process_t> agent_;
  fftest::browser_t browser_;
  component_t component_;
};

TEST_F(FeedbackBehindCommWindow, MenuOfAnUntrainedPageFollowsThePagesFlag) {
  // The state word comes from the communication window: untrained, with the flag the component set
  // for the page (something to train) or without it (only the prompt switches).
  const struct {
    bool flag;
    std::vector<UINT> entries;
    UINT choose;
    const char* slot;
  } cases[] = {{true,
                {IDM_KX_ADDPROFILE, IDM_KX_DASHBOARD, IDM_KX_ICONSETTINGS, IDM_KX_HELP, IDM_KX_DONTPROMPTTRAINL,
                 IDM_KX_DONTPROMPTTRAING},
                IDM_KX_ICONSETTINGS,
                "onshowiconsettings"},
               {false,
                {IDM_KX_DONTPROMPTTRAINL, IDM_KX_DONTPROMPTTRAING},
                IDM_KX_DONTPROMPTTRAING,
                "ondontprompttrainG"}};
  for (const auto& c : cases) {
    component_.feedback().set_menu_flag(c.flag);
    std::vector<UINT> entries;
    fftest::modal_driver_t driver(L"#32768", [&](HWND menu) {
      entries = fftest::menu_ids(reinterpret_cast<HMENU>(SendMessageW(menu, 0x01E1 /* MN_GETHMENU */, 0, 0)));
      fftest::choose_menu_item(menu, c.choose);
    });
    click(WM_RBUTTONDOWN, WM_RBUTTONUP);
    ASSERT_TRUE(driver.acted());
    EXPECT_EQ(entries, c.entries) << c.flag;
    ASSERT_TRUE(pump_until([&] { return component_.called(c.slot); }, 2000)) << c.slot;
  }
}

TEST_F(FeedbackBehindCommWindow, TrainedPageMenuOffersTheFillIn) {
  component_.trained = true;
  fftest::modal_driver_t driver(L"#32768", [](HWND menu) { fftest::choose_menu_item(menu, IDM_KX_FILLIN); });
  click(WM_RBUTTONDOWN, WM_RBUTTONUP);
  ASSERT_TRUE(pump_until([&] { return component_.called("onrequestfillin"); }, 2000));
}

TEST_F(FeedbackBehindCommWindow, DoubleClickRunsThePagesDefaultAction) {
  click(WM_LBUTTONDOWN, WM_LBUTTONUP);
  click(WM_LBUTTONDBLCLK, WM_LBUTTONUP);
  ASSERT_TRUE(pump_until([&] { return component_.called("onstarttraining"); }, 2000));
  component_.trained = true;
  fftest::pump_for(GetDoubleClickTime() + 100);
  click(WM_LBUTTONDOWN, WM_LBUTTONUP);
  click(WM_LBUTTONDBLCLK, WM_LBUTTONUP);
  ASSERT_TRUE(pump_until([&] { return component_.called("onrequestfillin"); }, 2000));
  fftest::pump_for(GetDoubleClickTime() + 100);
  EXPECT_EQ(component_.calls, (std::vector<std::string>{"onstarttraining", "onrequestfillin"}));
}

TEST_F(FeedbackBehindCommWindow, FingerActivityAndBrowserMessagesReachTheIcon) {
  const UINT frhook = ffipc::registered(ffipc::kxmsg::actionrequest_frhook);
  SendMessageW(component_.comm_window(), frhook, (sensor_goodResult << 8), 6);
  EXPECT_EQ(component_.icon().drawing().image, 4);
  fftest::pump_for(kResultHoldMs + 100);
  ShowWindow(browser_.frame(), SW_MINIMIZE);
  SendMessageW(component_.comm_window(), WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);
  EXPECT_FALSE(IsWindowVisible(component_.icon().window()));
  // The menu flag of the state word is the page's, whatever the icon does.
  component_.feedback().set_menu_flag(true);
  EXPECT_TRUE(component_.feedback().menu_flag());
}

TEST_F(FeedbackBehindCommWindow, DestroyingTheCommWindowTakesTheIconDown) {
  const HWND icon = component_.icon().window();
  component_.destroy_window();
  EXPECT_FALSE(IsWindow(icon));
  EXPECT_EQ(component_.icon().window(), nullptr);
}

}  // namespace
}  // namespace ffagent_window
