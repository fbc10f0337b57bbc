#include "tracecore/testing.h"

namespace tracecore::testing {

class capture_t::memory_tracer_t final : public tracer_t {
 public:
  explicit memory_tracer_t(std::uint32_t categories) : categories_(categories) {}
  int output_mode() override { return mode_console; }
  outputstoragememory_t* storage = nullptr;

 protected:
  std::unique_ptr<outputstorageinterface_t> make_output(int) override {
    auto s = std::make_unique<outputstoragememory_t>();
    storage = s.get();
    return s;
  }
  std::uint32_t read_category_mask() override { return categories_; }

 private:
  std::uint32_t categories_;
};

capture_t::capture_t(std::uint32_t categories) : tracer_(std::make_unique<memory_tracer_t>(categories)) {
  tracer_->configure();
  previous_ = install(tracer_.get());
}

capture_t::~capture_t() { install(previous_); }

std::vector<memory_record_t> capture_t::records() const {
  std::vector<memory_record_t> out;
  for (auto& r : tracer_->storage->records())
    if (r.kind != kind_date && r.kind != kind_time) out.push_back(std::move(r));
  return out;
}

bool capture_t::has(char kind, std::string_view text) const {
  for (const auto& r : records())
    if (r.kind == kind && r.text == text) return true;
  return false;
}

bool capture_t::contains(char kind, std::string_view part) const {
  for (const auto& r : records())
    if (r.kind == kind && r.text.find(part) != std::string::npos) return true;
  return false;
}

std::string capture_t::dump() const {
  std::string out;
  for (const auto& r : records()) {
    out += r.kind;
    out += ' ';
    out += r.text;
    out += '\n';
  }
  return out;
}

void capture_t::clear() { tracer_->storage->clear(); }

}  // namespace tracecore::testing
