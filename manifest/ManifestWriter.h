// Writing a Manifest as manifest XML: tabs for indentation, one attribute per line, attributes only
// when they carry something.
#pragma once

#include <ostream>
#include <string>

#include "manifest/Manifest.h"

namespace manifest {

// The format version the writer stamps into the descriptor.
inline constexpr const char* kFormatVersion = "2.4.3";

class ManifestWriter {
 public:
  explicit ManifestWriter(bool omitAccid = false) : omitAccid_(omitAccid) {}

  // Writes |m| (prepared for writing first, version stamped when asked) after |out|'s content.
  // An empty manifest writes nothing.
  void write(Manifest& m, std::string& out, bool stampVersion);

 private:
  void open(const char* tag);
  void close(const char* tag);
  void text(const char* name, const std::string& value);
  void flag(const char* name, bool value);
  void number(const char* name, std::int32_t value);  // no text for 0
  void extraLines(const std::string& extra);

  void context(const FormContext& c);
  void detection(const FormDetection& d);
  void options(const FormOptions& o);
  void fields(const std::vector<ManifestField>& fields);

  std::string* out_ = nullptr;
  int level_ = 0;
  bool omitAccid_;
};

// The manifest as text with the version stamp (the text sent to the agent).
void manifestToText(Manifest& m, std::string& text, bool omitAccid = false);
void writeManifest(Manifest& m, std::ostream& out, bool stampVersion);

}  // namespace manifest
