// What the communication window calls on the component: the eighteen request handlers, and the
// four questions about the active page.
#pragma once

#include <string>

#include "agentcomm/AgentMessages.h"

namespace ffactions {

class kxagent_callbacks {
 public:
  virtual void onfillin(kxmessages::fillin_reply_context_t& reply) = 0;                // 0
  virtual void onrequestaborted(const kxmessages::notice_requestaborted_t& n) = 0;    // 1
  virtual void onkxagentversion(const kxmessages::notice_kxaversion_t& n) = 0;        // 2
  virtual void onhighlight(const kxmessages::notice_highlight_t& n) = 0;              // 3
  virtual void onsenddata(const kxmessages::notice_senddata_t& n) = 0;                // 4
  virtual void onchecklogon(kxmessages::checklogon_reply_context_t& reply) = 0;       // 5
  virtual void onstarttraining() = 0;                                                  // 6
  virtual void oncacheupdated() = 0;                                                   // 7
  virtual void onreserved() = 0;                                                       // 8
  virtual void onaddprofile() = 0;                                                     // 9
  virtual void oneditprofile() = 0;                                                    // 10
  virtual void onstartFLM() = 0;                                                       // 11
  virtual void ondontprompttrainG() = 0;                                               // 12
  virtual void ondontprompttrainL() = 0;                                               // 13
  virtual void onshowiconsettings() = 0;                                               // 14
  virtual void onrequestfillin() = 0;                                                  // 15
  virtual void onstarttrainingpsw() = 0;                                               // 16
  virtual void onhelp() = 0;                                                           // 17

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
