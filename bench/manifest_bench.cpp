// Loading a typical manifest (two forms, eight fields) against a bare Expat parse of the same bytes,
// writing it, and testing a five-field form against a page of 200 controls.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "manifest/Escape.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "manifest/Matching.h"

namespace {

const std::string& typicalManifest() {
  static const std::string text = [] {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "manifest/testdata/logon.kxm";
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return bytes;
  }();
  return text;
}

void XMLCALL emptyStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL emptyEnd(void*, const XML_Char*) {}

void BM_BareExpatParse(benchmark::State& state) {
  const std::string& xml = typicalManifest();
  for (auto _ : state) {
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, emptyStart, emptyEnd);
    XML_Parse(p, xml.data(), static_cast<int>(xml.size()), 0);
    benchmark::DoNotOptimize(XML_Parse(p, nullptr, 0, 1));
    XML_ParserFree(p);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_BareExpatParse);

void BM_LoadAndNormalize(benchmark::State& state) {
  const std::string& xml = typicalManifest();
  Manifest m;
  for (auto _ : state) {
    manifest::parseManifest(xml.data(), xml.size(), m);
    benchmark::DoNotOptimize(m.forms.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_LoadAndNormalize);

void BM_WriteManifest(benchmark::State& state) {
  const std::string& xml = typicalManifest();
  Manifest m;
  manifest::parseManifest(xml.data(), xml.size(), m);
  std::string text;
  for (auto _ : state) {
    manifest::manifestToText(m, text);
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_WriteManifest);

// A page of 200 controls in 40 forms; the trained form's five fields are spread over the page.
struct page_t {
  std::vector<ffcontrol_record> controls;
  ffstring_table strings{"101"};
  ManifestForm form;

  std::string index(const std::string& s) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(strings.size()));
    strings.push_back(s);
    return buf;
  }

  page_t() {
    std::vector<std::string> formIndex;
    for (int f = 0; f < 40; ++f) formIndex.push_back(index("form" + std::to_string(f)));
    for (int i = 0; i < 200; ++i) {
      const int f = i / 5;
      ffcontrol_record c;
      c.type = (i % 5 == 1) ? ctl_psw : ctl_edit;
      c.formname = "form" + std::to_string(f);
      c.name = "[sid]0." + index(c.formname + ".id" + std::to_string(i) + ".name" + std::to_string(i)) + "." +
               formIndex[static_cast<std::size_t>(f)] + "..";
      controls.push_back(c);
    }
    form.detection.names = manifest::joinNames(strings);
    for (int i : {20, 61, 102, 143, 199}) {
      ManifestField field;
      field.type = field_edit;
      field.path = controls[static_cast<std::size_t>(i)].name;
      field.password = controls[static_cast<std::size_t>(i)].type == ctl_psw;
      form.fields.push_back(field);
    }
  }
};

void BM_FormMatchesControls(benchmark::State& state) {
  static const page_t page;
  for (auto _ : state) benchmark::DoNotOptimize(manifest::formMatchesControls(page.controls, page.strings, page.form));
  if (!manifest::formMatchesControls(page.controls, page.strings, page.form)) state.SkipWithError("no match");
}
BENCHMARK(BM_FormMatchesControls);

}  // namespace
