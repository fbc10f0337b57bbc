#include "tools/kxtrace/trace_view.h"

#include <gtest/gtest.h>

#include <vector>

namespace kxtrace {
namespace {

struct rec_t {
  char kind;
  std::string text;
  std::uint32_t thread = 7;
};

std::vector<std::uint8_t> make_file(const std::vector<rec_t>& records) {
  const std::string header = "trace3\r\nTrace Ver: 3.0.2\r\n.\r\n";
  std::vector<std::uint8_t> out(header.begin(), header.end());
  for (const auto& r : records) {
    std::vector<std::uint8_t> buf(tracecore::record_size(r.text.size()));
    tracecore::encode_record(r.thread, r.kind, r.text, buf.data());
    out.insert(out.end(), buf.begin(), buf.end());
  }
  return out;
}

std::string view(const std::vector<rec_t>& records, const view_options_t& options = {}) {
  const auto bytes = make_file(records);
  return format_file(tracecore::decode_file(bytes.data(), bytes.size()), options);
}

// The lines after the header.
std::string body(const std::string& text) {
  const auto end = text.find(".\n");
  return end == std::string::npos ? text : text.substr(end + 2);
}

TEST(TraceViewTest, IndentsByScopeDepthAndCarriesTheTime) {
  const auto text = view({{'t', "12/09/26"}, {'T', "23:42:01.123"}, {'>', "Mozilla::OnActi"}, {'U', "inside"},
                          {'<', ""}, {'E', "0 null document"}});
  EXPECT_EQ(text,
            "trace3\nTrace Ver: 3.0.2\n.\n"
            "00000007 12/09/26 23:42:01.123 > Mozilla::OnActi\n"
            "00000007 12/09/26 23:42:01.123   U inside\n"
            "00000007 12/09/26 23:42:01.123 <\n"
            "00000007 12/09/26 23:42:01.123 E ERR 0 null document\n");
}

TEST(TraceViewTest, SaysWhereATruncatedFileStops) {
  auto bytes = make_file({{'U', "kept"}, {'U', "cut off"}});
  bytes.resize(bytes.size() - 2);
  const auto text = format_file(tracecore::decode_file(bytes.data(), bytes.size()));
  EXPECT_NE(text.find("U kept\n"), std::string::npos);
  EXPECT_NE(text.find("-- stopped at byte 40: truncated record text (1 records read)\n"), std::string::npos) << text;
}

TEST(TraceViewTest, SurvivesEveryTruncation) {
  const auto full = make_file({{'>', "a"}, {'U', "'`I09`'text of some length"}, {'E', "5 '`I04`'x"}, {'<', ""}});
  for (const bool colour : {false, true}) {
    for (size_t n = 0; n <= full.size(); ++n) {
      const auto file = tracecore::decode_file(full.data(), n);
      view_options_t options;
      options.colour = colour;
      EXPECT_FALSE(format_file(file, options).empty() && n > 8) << n;
    }
  }
}

// How one record's text is shown: plain, coloured on a terminal, and with --raw.
TEST(TraceViewTest, ColourMarkersBecomeLineColours) {
  struct case_t {
    char kind;
    std::string text;
    std::string plain;   // the line after time and indentation
    std::string colour;  // the same line on a terminal
    std::string raw;
  } cases[] = {
      {'U', "'`I09`'APP: c:\\b.exe", "U APP: c:\\b.exe", "\033[94m#U APP: c:\\b.exe\033[0m", "U '`I09`'APP: c:\\b.exe"},
      {'U', "'`I0E`'x", "U x", "\033[93m#U x\033[0m", "U '`I0E`'x"},
      {'U', "'`I04`'Invalid KXAgent", "U Invalid KXAgent", "\033[31m#U Invalid KXAgent\033[0m",
       "U '`I04`'Invalid KXAgent"},
      {'U', "'`I0a`'lower case", "U lower case", "\033[92m#U lower case\033[0m", "U '`I0a`'lower case"},
      // The default colour needs no escape.
      {'U', "'`I07`'plain", "U plain", "#U plain", "U '`I07`'plain"},
      // Not a colour from 0 to 15, not hexadecimal, too short, no text after it: left as written.
      {'U', "'`I1F`'big", "U '`I1F`'big", "#U '`I1F`'big", "U '`I1F`'big"},
      {'U', "'`IZZ`'odd", "U '`IZZ`'odd", "#U '`IZZ`'odd", "U '`IZZ`'odd"},
      {'U', "'`I09`", "U '`I09`", "#U '`I09`", "U '`I09`"},
      {'U', "'`I09`'", "U", "\033[94m#U\033[0m", "U '`I09`'"},
      // Errors: marked, in the error colour, a marker after the code taken out.
      {'E', "-2147467261 NSPTR(x)", "E ERR -2147467261 NSPTR(x)", "\033[91m#E ERR -2147467261 NSPTR(x)\033[0m",
       "E ERR -2147467261 NSPTR(x)"},
      {'E', "0 '`I04`'no agent", "E ERR 0 no agent", "\033[91m#E ERR 0 no agent\033[0m", "E ERR 0 '`I04`'no agent"},
      // Scope lines carry no colour.
      {'>', "KXIntrn::recognizePage", "> KXIntrn::recognizePage", "#> KXIntrn::recognizePage",
       "> KXIntrn::recognizePage"},
  };
  const std::string prefix = "00000007 --/--/-- --:--:--.--- ";
  for (const auto& c : cases) {
    view_options_t coloured, raw;
    coloured.colour = true;
    raw.raw = true;
    EXPECT_EQ(body(view({{c.kind, c.text}})), prefix + c.plain + "\n") << c.text;
    std::string expected_colour = c.colour;
    expected_colour.replace(expected_colour.find('#'), 1, prefix);
    EXPECT_EQ(body(view({{c.kind, c.text}}, coloured)), expected_colour + "\n") << c.text;
    EXPECT_EQ(body(view({{c.kind, c.text}}, raw)), prefix + c.raw + "\n") << c.text;
  }
}

TEST(TraceViewTest, ConsoleAttributesMapToAnsiColours) {
  const std::pair<int, const char*> cases[] = {
      {0, "\033[30m"},  {1, "\033[34m"},  {2, "\033[32m"},  {3, "\033[36m"}, {4, "\033[31m"}, {5, "\033[35m"},
      {6, "\033[33m"},  {7, ""},          {8, "\033[90m"},  {9, "\033[94m"}, {10, "\033[92m"}, {11, "\033[96m"},
      {12, "\033[91m"}, {13, "\033[95m"}, {14, "\033[93m"}, {15, "\033[97m"}, {16, ""},         {-1, ""},
  };
  for (const auto& [attribute, escape] : cases) EXPECT_EQ(ansi_colour(attribute), escape) << attribute;
}

// A damaged file deciphers to arbitrary bytes; none of them may reach the terminal as a control.
TEST(TraceViewTest, ControlCharactersInTextsAreShownEscaped) {
  view_options_t coloured;
  coloured.colour = true;
  const auto text = view({{'U', std::string("a\033[2Jb\r\nc\td\x7f", 12)}, {'U', std::string("z\0y", 3)}}, coloured);
  EXPECT_NE(text.find("U a\\x1b[2Jb\\x0d\\x0ac\td\\x7f"), std::string::npos) << text;
  EXPECT_NE(text.find("U z\\x00y"), std::string::npos) << text;
  EXPECT_EQ(text.find("\033[2J"), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(TraceViewTest, StopLineIsColouredOnATerminal) {
  auto bytes = make_file({{'U', "kept"}, {'U', "cut off"}});
  bytes.resize(bytes.size() - 2);
  view_options_t coloured;
  coloured.colour = true;
  const auto text = format_file(tracecore::decode_file(bytes.data(), bytes.size()), coloured);
  EXPECT_NE(text.find("\033[93m-- stopped at byte 40"), std::string::npos) << text;
}

// Two threads with nested scopes; each filter keeps its records and the depth they really have.
TEST(TraceViewTest, FiltersKeepTheTrueDepth) {
  const std::vector<rec_t> records = {
      {'>', "Mozilla::OnActi", 0x1a4},      {'U', "'`I02`'Active document x", 0x1a4},
      {'>', "KXIntrn::recognizePage", 0xbeef}, {'E', "0 '`I04`'null entry", 0xbeef},
      {'>', "inner", 0x1a4},                {'E', "-2147467261 NSPTR(cpdomelement)", 0x1a4},
      {'<', "", 0x1a4},                     {'U', "done", 0x1a4},
      {'<', "", 0xbeef},                    {'<', "", 0x1a4},
  };
  struct case_t {
    const char* name;
    std::optional<std::uint32_t> thread = {};
    std::string grep = {};
    bool errors_only = false;
    std::string expected;
  };
  const std::string t1 = "000001a4 --/--/-- --:--:--.--- ", t2 = "0000beef --/--/-- --:--:--.--- ";
  const case_t cases[] = {
      {.name = "thread", .thread = 0xbeef,
       .expected = t2 + "> KXIntrn::recognizePage\n" + t2 + "  E ERR 0 null entry\n" + t2 + "<\n"},
      {.name = "errors", .errors_only = true,
       .expected = t2 + "  E ERR 0 null entry\n" + t1 + "    E ERR -2147467261 NSPTR(cpdomelement)\n"},
      // The text as shown, marker taken out; the error code is part of it.
      {.name = "grep", .grep = "document", .expected = t1 + "  U Active document x\n"},
      {.name = "grep code", .grep = "-2147467261", .expected = t1 + "    E ERR -2147467261 NSPTR(cpdomelement)\n"},
      {.name = "grep marker", .grep = "I04", .expected = ""},
      {.name = "all three", .thread = 0x1a4, .grep = "NSPTR", .errors_only = true,
       .expected = t1 + "    E ERR -2147467261 NSPTR(cpdomelement)\n"},
      {.name = "nothing", .thread = 0x1a5, .expected = ""},
  };
  for (const auto& c : cases) {
    view_options_t options;
    options.thread = c.thread;
    options.grep = c.grep;
    options.errors_only = c.errors_only;
    EXPECT_EQ(body(view(records, options)), c.expected) << c.name;
  }
}

TEST(TraceViewTest, ShowArguments) {
  std::string error;
  const auto a = parse_show_args({"--thread", "0x1A4", "--grep", "two words", "--errors", "--no-color", "f.trc3"}, error);
  ASSERT_TRUE(a) << error;
  EXPECT_EQ(a->options.thread, 0x1a4u);
  EXPECT_EQ(a->options.grep, "two words");
  EXPECT_TRUE(a->options.errors_only);
  EXPECT_FALSE(a->options.raw);
  EXPECT_EQ(a->colour, colour_mode_t::never);
  EXPECT_EQ(a->path, "f.trc3");

  const auto b = parse_show_args({"--raw", "-", "--thread", "000001a4"}, error);
  ASSERT_TRUE(b) << error;
  EXPECT_TRUE(b->options.raw);
  EXPECT_EQ(b->path, "-");
  EXPECT_EQ(b->options.thread, 0x1a4u);
  EXPECT_EQ(b->colour, colour_mode_t::automatic);

  const std::pair<std::vector<std::string>, const char*> bad[] = {
      {{}, "no trace file given"},
      {{"--thread"}, "--thread needs a thread id"},
      {{"--thread", "12g", "f"}, "--thread wants a hexadecimal thread id, not '12g'"},
      {{"--thread", "123456789", "f"}, "--thread wants a hexadecimal thread id, not '123456789'"},
      {{"--thread", "0x", "f"}, "--thread wants a hexadecimal thread id, not '0x'"},
      {{"f", "--grep"}, "--grep needs a text"},
      {{"--colour", "f"}, "unknown option --colour"},
      {{"a", "b"}, "one trace file at a time"},
  };
  for (const auto& [args, message] : bad) {
    error.clear();
    EXPECT_FALSE(parse_show_args(args, error)) << message;
    EXPECT_EQ(error, message);
  }
}

TEST(TraceViewTest, ColourOnlyOnATerminalUnlessTold) {
  struct case_t {
    colour_mode_t mode = colour_mode_t::automatic;
    bool terminal = true;       // the output is a terminal
    bool no_color_env = false;  // NO_COLOR is set
    bool expected;
  } cases[] = {
      {.expected = true},
      {.terminal = false, .expected = false},
      {.no_color_env = true, .expected = false},
      {.mode = colour_mode_t::never, .expected = false},
      {.mode = colour_mode_t::always, .terminal = false, .no_color_env = true, .expected = true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(use_colour(c.mode, c.terminal, c.no_color_env), c.expected)
        << static_cast<int>(c.mode) << c.terminal << c.no_color_env;
}

}  // namespace
}  // namespace kxtrace
