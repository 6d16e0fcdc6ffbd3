// A fresh temporary folder per test, removed with everything in it afterwards, and small
// helpers to put bytes in files and take them out again.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of `name` inside the folder, as the program's narrow text.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);
bool exists(const std::string& path);

// Shows bytes with CR, LF, tab and non-printing bytes made visible, for failure messages.
std::string visible(const std::string& bytes);

}  // namespace testing_support
