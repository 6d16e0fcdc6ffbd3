// Test hooks of the preference store, for its tests and fuzz targets only: a look at the open
// document's internals, and a switch for the group index.
#pragma once

#include "platform/platform.h"
#include "prefs/store.h"

namespace prefs {

// The open document, its lines made if they can be (as the first operation that needs them
// would make them).
inline const PreferenceDocument& parsedDocument() noexcept {
  ensureParsed();
  return document();
}

// With false, documents that have not made their group index yet never make one: selection
// walks the headers.
void useGroupIndex(bool enabled) noexcept;

// The store as a test expects to find it: no document open and the group index on; put back so
// when it goes out of scope (closing a document left open, which writes it back if modified).
class ScopedStoreDefaults {
 public:
  ScopedStoreDefaults() noexcept { reset(); }
  ~ScopedStoreDefaults() { reset(); }
  ScopedStoreDefaults(const ScopedStoreDefaults&) = delete;
  ScopedStoreDefaults& operator=(const ScopedStoreDefaults&) = delete;

  // Puts the defaults back now.
  static void reset() noexcept {
    closePreferences();
    useGroupIndex(/*enabled=*/true);
  }
};

}  // namespace prefs
