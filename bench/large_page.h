// The large page of the benchmarks: 300 inputs over the top document and two frames, in forms of
// ten, labelled by label elements, table cells and plain text.
#pragma once

#include <memory>
#include <string>

#include "peers/dom/SnapshotDom.h"

namespace kxbench {

// |n| controls in forms of ten, with the label shapes found on real pages.
inline std::string form_page(int n, const std::string& prefix) {
  std::string html = "<div class='page'><h1>Account</h1>";
  for (int i = 0; i < n; ++i) {
    const std::string id = prefix + std::to_string(i);
    if (i % 10 == 0) html += "<form name='" + prefix + "f" + std::to_string(i / 10) + "' action='/post'><table>";
    switch (i % 5) {
      case 0:
        html += "<tr><td><label for='" + id + "'>Field <b>" + id + "</b></label></td><td><input type='text' id='" + id +
                "' name='" + id + "'></td></tr>";
        break;
      case 1:
        html += "<tr><td>* Password " + id + ":</td><td><input type='password' id='" + id + "' name='" + id +
                "'></td></tr>";
        break;
      case 2:
        html += "<tr><td colspan='2'><input type='checkbox' name='" + id + "' value='1'> Remember " + id + "</td></tr>";
        break;
      case 3:
        html += "<tr><td>Choice</td><td><select name='" + id + "'><option>One</option><option selected>Two</option>"
                "<option>Three</option></select></td></tr>";
        break;
      default:
        html += "<tr><td><span>E-mail</span> <i>(" + id + ")</i></td><td><input type='email' name='" + id +
                "'><input type='hidden' name='h" + id + "' value='x'></td></tr>";
    }
    if (i % 10 == 9 || i == n - 1) html += "</table><input type='submit' value='Save'></form>";
  }
  return html + "</div>";
}

inline std::unique_ptr<snapdom::page_t> large_page() {
  const std::string top = "<html><body><iframe src='https://www.example.test/a'></iframe>" + form_page(200, "t") +
                          "<iframe src='https://www.example.test/b'></iframe></body></html>";
  return snapdom::page_t::from_html(top, "https://www.example.test/",
                                    {{"https://www.example.test/a", form_page(50, "a")},
                                     {"https://www.example.test/b", form_page(50, "b")}});
}

}  // namespace kxbench
