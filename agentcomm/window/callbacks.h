// What the communication window calls on the component: the eighteen request handlers, and the
// four questions about the active page.
#pragma once

#include <string>

namespace agentmsg {
// Decoded requests as the dispatcher hands them over; defined with the message set.
struct fillin_reply_context;
struct checklogon_reply_context;
struct notice_requestaborted;
struct notice_kxaversion;
struct notice_highlightID;
struct notice_senddata;
}  // namespace agentmsg

namespace ffactions {

class kxagent_callbacks {
 public:
  virtual void onfillin(agentmsg::fillin_reply_context& reply) = 0;             // 0
  virtual void onrequestaborted(const agentmsg::notice_requestaborted& n) = 0;  // 1
  virtual void onkxagentversion(const agentmsg::notice_kxaversion& n) = 0;     // 2
  virtual void onhighlight(const agentmsg::notice_highlightID& n) = 0;         // 3
  virtual void onsenddata(const agentmsg::notice_senddata& n) = 0;             // 4
  virtual void onchecklogon(agentmsg::checklogon_reply_context& reply) = 0;    // 5
  virtual void onstarttraining() = 0;                                           // 6
  virtual void oncacheupdated() = 0;                                            // 7
  virtual void onreserved() = 0;                                                // 8
  virtual void onaddprofile() = 0;                                              // 9
  virtual void oneditprofile() = 0;                                             // 10
  virtual void onstartFLM() = 0;                                                // 11
  virtual void ondontprompttrainG() = 0;                                        // 12
  virtual void ondontprompttrainL() = 0;                                        // 13
  virtual void onshowiconsettings() = 0;                                        // 14
  virtual void onrequestfillin() = 0;                                           // 15
  virtual void onstarttrainingpsw() = 0;                                        // 16
  virtual void onhelp() = 0;                                                    // 17

 protected:
  ~kxagent_callbacks() = default;
};

}  // namespace ffactions

namespace ffagent_window {

class page_callbacks {
 public:
  virtual bool thepage_is_trained() = 0;
  virtual bool thescreen_is_passwordchange() = 0;
  virtual bool thepage_is_goodforlogon() = 0;
  virtual void thepage_manifestoptions(std::wstring& iconkey, std::wstring& iconlocation) = 0;

 protected:
  ~page_callbacks() = default;
};

}  // namespace ffagent_window
