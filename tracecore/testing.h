// Test support: records every trace record of the current module in memory while it lives.
//
//   tracecore::testing::capture_t trace;           // tracing on, categories as given
//   ... code under test ...
//   EXPECT_TRUE(trace.has('E', "0 null document"));
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tracecore/tracer.h"

namespace tracecore::testing {

class capture_t {
 public:
  explicit capture_t(std::uint32_t categories = 0);
  ~capture_t();
  capture_t(const capture_t&) = delete;
  capture_t& operator=(const capture_t&) = delete;

  // Records without the date and time records.
  std::vector<memory_record_t> records() const;
  // True when a record of |kind| has exactly |text|.
  bool has(char kind, std::string_view text) const;
  // True when a record of |kind| contains |part|.
  bool contains(char kind, std::string_view part) const;
  // "K text" lines, one per record, for readable failure output.
  std::string dump() const;
  void clear();

 private:
  class memory_tracer_t;
  std::unique_ptr<memory_tracer_t> tracer_;
  tracer_t* previous_ = nullptr;
};

}  // namespace tracecore::testing
