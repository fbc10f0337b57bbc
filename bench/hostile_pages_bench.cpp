// Labelling pages built against the label search through the snapshot DOM: 20,000 inputs side by
// side (each control labelled through one shared cache, as ffcontrols::label() does, but without the
// enumeration's cap on the number of controls), and a control 5,000 levels deep.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "include_extension/Controls.h"
#include "peers/dom/SnapshotDom.h"

namespace {

struct target_t {
  nsCOMPtr<nsIDOMHTMLElement> element;
  std::u16string id;
};

// Every input of |page| with its id as name and id.
std::vector<target_t> inputs(snapdom::page_t& page) {
  std::vector<target_t> out;
  nsCOMPtr<nsIDOMNodeList> list;
  PRUint32 n = 0;
  page.document()->GetElementsByTagName(nsString(u"input"), getter_AddRefs(list));
  list->GetLength(&n);
  for (PRUint32 i = 0; i < n; ++i) {
    nsCOMPtr<nsIDOMNode> node;
    list->Item(i, getter_AddRefs(node));
    nsCOMPtr<nsIDOMElement> element = do_QueryInterface(node);
    nsString id;
    element->GetAttribute(nsString(u"id"), id);
    out.push_back({do_QueryInterface(node), std::u16string(id.view())});
  }
  return out;
}

void label_all(benchmark::State& state, snapdom::page_t& page) {
  const std::vector<target_t> targets = inputs(page);
  std::size_t labelled = 0;
  for (auto _ : state) {
    fflabel_cache cache;
    labelled = 0;
    for (const target_t& t : targets) {
      std::string text;
      ffcontrol::label(t.element, ctl_edit, t.id, t.id, text, &cache);
      labelled += text.empty() ? 0 : 1;
    }
  }
  state.counters["controls"] = static_cast<double>(targets.size());
  state.counters["labelled"] = static_cast<double>(labelled);
}

void BM_LabelTwentyThousandInputs(benchmark::State& state) {
  std::string html = "<form id='f'>";
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    html += "Field " + n + " <input id='f" + n + "' name='f" + n + "'>";
  }
  auto page = snapdom::page_t::from_html(html + "</form>");
  label_all(state, *page);
}
BENCHMARK(BM_LabelTwentyThousandInputs)->Unit(benchmark::kMillisecond);

void BM_LabelFiveThousandLevelsDeep(benchmark::State& state) {
  std::string open, close;
  for (int i = 0; i < 5000; ++i) {
    open += "<div>";
    close += "</div>";
  }
  auto page = snapdom::page_t::from_html("<form>Far away " + open + "<input id='deep' name='deep'>" + close + "</form>");
  label_all(state, *page);
}
BENCHMARK(BM_LabelFiveThousandLevelsDeep)->Unit(benchmark::kMicrosecond);

}  // namespace
