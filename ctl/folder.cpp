// Which folder's preference file is meant, sizes and user names as people and scripts give
// them.
#include <cstdio>

#include "ctl/ctl.h"
#include "ctl/internal.h"
#include "keeper/keeper.h"
#include "platform/tools.h"

namespace ctl {
namespace {

constexpr std::uint32_t PATH_CAPACITY = 4096;

std::string fromPlatform(std::uint32_t (*call)(char*, std::uint32_t)) {
  std::string text(PATH_CAPACITY, '\0');
  text.resize(call(text.data(), PATH_CAPACITY));
  return text;
}

bool isAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() >= 2 && path[1] == ':');
}

bool usesBackslashes(const std::string& path) {
  return path.find('\\') != std::string::npos;
}

std::string join(const std::string& folder, const std::string& relative) {
  if (folder.empty()) return relative;
  const char separator = usesBackslashes(folder) ? '\\' : '/';
  std::string path = folder;
  if (path.back() != '/' && path.back() != '\\') path += separator;
  for (const char c : relative) path += c == '/' ? separator : c;
  return path;
}

}  // namespace

Folder chooseFolder(const std::string& option) {
  const std::string here = fromPlatform(platform::currentFolder);
  if (!option.empty()) {
    // Made absolute now, since every operation enters the folder anew.
    return {isAbsolute(option) || here.empty() ? option : join(here, option), FolderSource::Option};
  }
  if (platform::regularFileExists(keeper::PREFERENCE_FILE)) {
    return {here, FolderSource::CurrentFolder};
  }
  if (std::string installed = fromPlatform(platform::installedDataFolder); !installed.empty()) {
    return {installed, FolderSource::Installed};
  }
  if (std::string own = fromPlatform(platform::userDataFolder); !own.empty()) {
    return {own, FolderSource::UserDefault};
  }
  return {here, FolderSource::Fallback};
}

std::string describeSource(FolderSource source) {
  switch (source) {
    case FolderSource::Option:
      return "given with --folder";
    case FolderSource::CurrentFolder:
      return "the current folder, which holds Data/Pref.txt";
    case FolderSource::Installed:
      return "the installed shared folder (HKLM\\Software\\reskeeper, DataFolder)";
    case FolderSource::UserDefault:
      return "this user's default folder ($HOME/.local/share/reskeeper)";
    case FolderSource::Fallback:
      return "the current folder (no other folder is known)";
  }
  return "";
}

std::string preferenceFilePath(const Folder& folder) {
  return join(folder.path, keeper::PREFERENCE_FILE);
}

bool enterFolder(const Folder& folder) {
  return platform::changeFolder(folder.path.c_str());
}

bool parseSize(const std::string& text, Size& size, std::string& error) {
  const auto bad = [&](const std::string& why) {
    error = "'" + text + "' " + why;
    return false;
  };
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return bad("is not a size: write WIDTHxHEIGHT, e.g. 1920x1080");
  std::int64_t parts[2] = {0, 0};
  const std::string pieces[2] = {text.substr(0, x), text.substr(x + 1)};
  for (int i = 0; i < 2; ++i) {
    if (pieces[i].empty() || pieces[i].size() > 9 ||
        pieces[i].find_first_not_of("0123456789") != std::string::npos) {
      return bad("is not a size: write WIDTHxHEIGHT, e.g. 1920x1080");
    }
    parts[i] = std::stoll(pieces[i]);
    if (parts[i] <= 0 || parts[i] > MAX_DIMENSION) {
      return bad("is not a possible size: width and height go from 1 to " +
                 std::to_string(MAX_DIMENSION));
    }
  }
  size = {static_cast<std::int32_t>(parts[0]), static_cast<std::int32_t>(parts[1])};
  return true;
}

UserName currentUser() {
  const keeper::UserName read = keeper::currentUserName();
  UserName user{read.text, UserNameState::Set};
  if (user.name.empty()) {
    user.state = UserNameState::Empty;
  } else if (user.name == std::string(keeper::USER_NAME_CAPACITY, ' ')) {
    user.state = UserNameState::Unset;
  }
  return user;
}

bool fitsGroupHeader(const std::string& name) {
  return name.find_first_of("]\r\n") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string displayName(const std::string& name) {
  if (!name.empty() && name.find_first_not_of(' ') == std::string::npos) {
    return "(" + std::to_string(name.size()) + " spaces)";
  }
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += c;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  return shown.empty() ? "(empty)" : shown;
}

}  // namespace ctl
