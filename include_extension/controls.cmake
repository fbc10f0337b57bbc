# The page side: kx_controls is portable (DOM access, control enumeration, labels, fill-in and
# submit) and is tested natively over the snapshot DOM; kx_controls_win holds the searches for the
# browser's native windows. Included from CMakeLists.txt.
add_library(kx_controls STATIC
  Utils.cpp
  DOMNSElement.cpp
  DOMDocumentXBL.cpp
  Controls.cpp
  Labels.cpp
  Fill.cpp
  FillGuard.cpp)
target_link_libraries(kx_controls PUBLIC kx_options kx_xpcom kx_browser_runtime kx_manifest kx_tracecore)

kx_test(controls_unittests
  SOURCES Utils_unittest.cpp DOMNSElement_unittest.cpp Controls_unittest.cpp Labels_unittest.cpp
          Fill_unittest.cpp FillGuard_unittest.cpp Pages_unittest.cpp
  LIBS kx_controls kx_dom_snapshot kx_tracecore_testing)

if(KX_WINDOWS)
  add_library(kx_controls_win STATIC UtilsWin.cpp)
  target_link_libraries(kx_controls_win PUBLIC kx_options kx_tracecore user32)
  kx_test(controls_win_unittests SOURCES UtilsWin_unittest.cpp LIBS kx_controls_win kx_tracecore_testing)
endif()

kx_bench(controls_bench SOURCES ${CMAKE_SOURCE_DIR}/bench/controls_bench.cpp LIBS kx_controls kx_dom_snapshot)
if(TARGET controls_bench)
  target_compile_definitions(controls_bench PRIVATE KX_PAGES_DIR="${CMAKE_SOURCE_DIR}/tests/pages")
endif()

# "kxff page" reads page snapshots: link the snapshot DOM into kxff once every folder is added.
function(kx_controls_link_page_tool)
  if(NOT TARGET kxff OR NOT TARGET kx_dom_snapshot)
    return()
  endif()
  target_link_libraries(kxff PRIVATE kx_dom_snapshot)
  # The command-line checks run natively; the same page code runs under Wine in controls_unittests.
  if(KX_TESTS AND NOT KX_WINDOWS)
    set(pages ${CMAKE_SOURCE_DIR}/tests/pages)
    add_test(NAME kxff_page_controls COMMAND kxff page controls ${pages}/login_iframe.json)
    set_tests_properties(kxff_page_controls PROPERTIES PASS_REGULAR_EXPRESSION
      "\"parent\": \"https://www.harborsavings.example/banking/login_frame.html\"[^}]*\"dispname\": \"Customer number:\"")
    add_test(NAME kxff_page_fill COMMAND kxff page fill ${pages}/login.json
             --manifest ${pages}/fill/login.kxm --data ${pages}/fill/login.fill.json)
    set_tests_properties(kxff_page_fill PROPERTIES PASS_REGULAR_EXPRESSION
      "\"result\": \"0x00000000\".*\"type\": \"submit\",[^}]*\"target\": \"form#loginForm\"")
    # The same fill on the page taken for an http page of the https form: refused, nothing written.
    add_test(NAME kxff_page_fill_refused COMMAND kxff page fill ${pages}/login.json --url http://mail.northwind.example/login
             --manifest ${pages}/fill/login.kxm --data ${pages}/fill/login.fill.json)
    set_tests_properties(kxff_page_fill_refused PROPERTIES PASS_REGULAR_EXPRESSION
      "\"refused\": \"an https form on a page that is not https\",.*\"events\": \\[\\]")
    # A sign-in page with a hidden frame of its own site and a shown frame of another site, both
    # repeating the form: only the page's own form gets the values, and the tool says why not the rest.
    add_test(NAME kxff_page_fill_frames COMMAND kxff page fill ${pages}/frames/signin.json
             --manifest ${pages}/frames/signin.kxm --data ${pages}/frames/signin.fill.json)
    set_tests_properties(kxff_page_fill_frames PROPERTIES
      PASS_REGULAR_EXPRESSION "\"reason\": \"hidden frame\".*\"reason\": \"frame of another site\".*\"target\": \"input#pass\",[^}]*\"detail\": \"lakeside-pw\".*\"type\": \"submit\""
      FAIL_REGULAR_EXPRESSION "\"target\": \"frame[0-9]")
    add_test(NAME kxff_page_pwchange COMMAND kxff page pwchange ${pages}/password_change.json
             --data ${pages}/fill/pwchange.fill.json)
    set_tests_properties(kxff_page_pwchange PROPERTIES PASS_REGULAR_EXPRESSION
      "\"target\": \"input#oldpw\",[^}]*\"detail\": \"old-pw\".*\"target\": \"input#newpw2\",[^}]*\"detail\": \"new-pw\"")
    # Why a page is (not) recognised: the committed manifest on its own page, then on another site.
    add_test(NAME kxff_page_recognize COMMAND kxff page recognize ${pages}/login.json --manifest ${pages}/fill/login.kxm)
    set_tests_properties(kxff_page_recognize PROPERTIES PASS_REGULAR_EXPRESSION
      "\"id\": 29014,.*\"urlKind\": 3,.*\"score\": \"0x3648\",.*\"recognized\": \\[.*\"slot\": 0,.*\"modeName\": \"trained\"")
    add_test(NAME kxff_page_recognize_other_site COMMAND kxff page recognize ${pages}/login.json
             --url https://www.other.example/login --manifest ${pages}/fill/login.kxm)
    set_tests_properties(kxff_page_recognize_other_site PROPERTIES PASS_REGULAR_EXPRESSION
      "\"urlKind\": 2,.*\"recognized\": \\[\\],.*\"modeName\": \"training prompt\"")
    add_test(NAME kxff_quicklink_resolve COMMAND kxff quicklink resolve ${pages}/fill/quicklinks.txt "kxql://open/#id=2")
    set_tests_properties(kxff_quicklink_resolve PROPERTIES PASS_REGULAR_EXPRESSION
      "\"found\": true,[^}]*\"out\": \"https://mail.northwind.example/login[?]kxprofileid=1\"")
    add_test(NAME kxff_quicklink_strip COMMAND kxff quicklink strip "https://a.example/p?x=1&kxprofileid=7")
    set_tests_properties(kxff_quicklink_strip PROPERTIES PASS_REGULAR_EXPRESSION
      "\"out\": \"https://a.example/p[?]x=1\",[^}]*\"profile\": 7")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL kx_controls_link_page_tool)

kx_fuzzer(page_snapshot_fuzzer
  SOURCE ${CMAKE_SOURCE_DIR}/fuzz/page_snapshot_fuzzer.cpp
  LIBS kx_controls kx_dom_snapshot
  CORPUS ${CMAKE_SOURCE_DIR}/fuzz/corpus/page_snapshot)
