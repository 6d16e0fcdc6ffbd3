// Shared set-up of the store's tests: a fresh folder, the real file calls, no injected
// failures, and no document left open.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_testing.h"
#include "prefs/prefs.h"
#include "prefs/prefs_testing.h"
#include "support/file_lines.h"
#include "support/temp_folder.h"

namespace testing_support {

class StoreTest : public ::testing::Test {
 protected:
  // Writes `bytes` to a file of the folder and gives its path.
  std::string fileWith(const std::string& bytes, const std::string& name = "Pref.txt") {
    const std::string path = folder.file(name);
    writeBytes(path, bytes);
    return path;
  }

  // Left in this order: a document left open closes before the file calls are put back.
  platform::ScopedPlatformDefaults platformDefaults;
  prefs::ScopedStoreDefaults storeDefaults;
  TempFolder folder;
};

// One line of an open document, as the test compares it.
using LineView = FileLine;

inline std::vector<LineView> documentLines() {
  return openDocumentLines();
}

inline std::string groupName() {
  platform::Owned<char> name = prefs::currentGroupName();
  return name ? std::string(name.get()) : std::string("<no memory>");
}

}  // namespace testing_support
