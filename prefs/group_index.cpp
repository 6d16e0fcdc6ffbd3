// Group selection by name: the document's headers in a name index, made at its first selection
// (a document that is only enumerated never needs one) and kept up to date as groups are added,
// so that selecting a group costs the same however many groups the file holds. Without the
// index (its memory could not be had, or a test switched it off) selection walks the headers.
#include "prefs/prefs_testing.h"
#include "prefs/store.h"

namespace prefs {
namespace {

bool indexEnabled = true;

// Indexes every header in file order, so that each name keeps its first; false when memory
// cannot be had.
bool makeGroupIndex(PreferenceDocument& doc) {
  if (!doc.groups.make(doc.headerCount)) return false;
  for (PreferenceLine* line = doc.firstLine; line != nullptr; line = line->next) {
    if (isGroup(line) && !doc.groups.add(line)) return false;
  }
  return true;
}

}  // namespace

PreferenceLine* findGroupHeader(const char* name) noexcept {
  PreferenceDocument& doc = document();
  if (!doc.groupsTried) {
    doc.groupsTried = true;
    if (indexEnabled) makeGroupIndex(doc);
  }
  if (doc.groups.isPresent()) {
    // A save selects the groups in file order: the next header is usually the one asked for,
    // and when no name repeats it is also the first of its name. Looking there first walks
    // no more lines than the writes into the current group's section have just walked.
    if (doc.groups.unique) {
      PreferenceLine* line = doc.currentGroup != nullptr ? doc.currentGroup->next : doc.firstLine;
      while (line != nullptr && !isGroup(line)) line = line->next;
      if (line != nullptr && namesEqual(line->text, name)) return line;
    }
    return doc.groups.find(name);
  }
  for (PreferenceLine* line = doc.firstLine; line != nullptr; line = line->next) {
    if (isGroup(line) && namesEqual(line->text, name)) return line;
  }
  return nullptr;
}

void indexNewGroup(PreferenceLine* header) noexcept {
  PreferenceDocument& doc = document();
  ++doc.headerCount;
  if (doc.groups.isPresent()) doc.groups.add(header);
}

void useGroupIndex(bool enabled) noexcept {
  indexEnabled = enabled;
}

}  // namespace prefs
