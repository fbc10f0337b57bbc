// A failed HRESULT raised as an exception: the error the component's guards and window procedures
// catch and trace as a COM error.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace errors {

class com_error : public std::exception {
 public:
  explicit com_error(std::int32_t hr) : hr_(hr) {}
  std::int32_t Error() const noexcept { return hr_; }
  // The system's text for the code, or "HRESULT 0x%08X" where it has none.
  std::string ErrorMessage() const;
  const char* what() const noexcept override { return "com_error"; }

 private:
  std::int32_t hr_;
};

#if defined(_WIN32)
// The system's text for |code| on one line (line breaks become spaces), or empty when it has none.
std::string system_message(std::int32_t code);
#endif

}  // namespace errors
