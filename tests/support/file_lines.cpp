#include "support/file_lines.h"

#include "prefs/prefs_testing.h"

namespace testing_support {

std::vector<FileLine> openDocumentLines() {
  std::vector<FileLine> lines;
  for (const prefs::PreferenceLine* line = prefs::parsedDocument().firstLine; line != nullptr;
       line = line->next) {
    const char* key = prefs::lineKey(*line);
    lines.push_back({prefs::lineKind(*line), key != nullptr ? key : "", line->text});
  }
  return lines;
}

std::string normalForm(const std::vector<FileLine>& lines, prefs::Encoding encoding) {
  std::string out = encoding == prefs::Encoding::Utf8 ? "\xEF\xBB\xBF\r\n" : "";
  if (encoding == prefs::Encoding::Ansi && !lines.empty() &&
      lines[0].kind == prefs::LineKind::Entry && lines[0].key.rfind("\xEF\xBB\xBF", 0) == 0) {
    out = "\r\n";
  }
  for (const FileLine& line : lines) {
    switch (line.kind) {
      case prefs::LineKind::Group:
        out += "[" + line.text + "]";
        break;
      case prefs::LineKind::Comment:
        out += "; " + line.text;
        break;
      case prefs::LineKind::Entry:
        out += line.key + " = " + line.text;
        break;
    }
    out += "\r\n";
  }
  return out;
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace testing_support
