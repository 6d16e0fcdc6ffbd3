// Which preference file is meant: the folder given, the current one, or the one the layout
// installed names.
#include "ctl/ctl.h"
#include "keeper/keeper.h"
#include "platform/tools.h"
#include "product_facts.h"

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

std::string join(const std::string& folder, const std::string& relative) {
  if (folder.empty()) return relative;
  const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
  std::string path = folder;
  if (path.back() != '/' && path.back() != '\\') path += separator;
  for (const char c : relative) path += c == '/' ? separator : c;
  return path;
}

}  // namespace

Folder chooseFolderFrom(const FolderFacts& facts) {
  if (!facts.option.empty()) {
    const bool absolute = isAbsolute(facts.option) || facts.current.empty();
    return {absolute ? facts.option : join(facts.current, facts.option), FolderSource::Option,
            facts.layout};
  }
  if (facts.currentHasFile && !facts.elevated) {
    return {facts.current, FolderSource::CurrentFolder, facts.layout};
  }
  if (facts.layout == Layout::PerUser && !facts.userFolder.empty()) {
    return {facts.userFolder, FolderSource::UserDefault, facts.layout};
  }
  if (facts.layout == Layout::Shared && !facts.sharedFolder.empty()) {
    return {facts.sharedFolder, FolderSource::Installed, facts.layout};
  }
  if (facts.elevated) return {"", FolderSource::NotChosen, facts.layout};
  return {facts.current, FolderSource::Fallback, facts.layout};
}

Folder chooseFolder(const std::string& option) {
  FolderFacts facts;
  facts.option = option;
  facts.current = fromPlatform(platform::currentFolder);
  facts.currentHasFile = platform::regularFileExists(keeper::PREFERENCE_FILE);
  facts.layout = platform::installedLayout();
  facts.sharedFolder = fromPlatform(platform::installedDataFolder);
  facts.userFolder = fromPlatform(platform::userDataFolder);
  facts.elevated = platform::runningElevated();
  return chooseFolderFrom(facts);
}

void openSafelyWhenElevated() {
  if (platform::runningElevated()) platform::openOnlyByOwnPath();
}

std::string describeSource(FolderSource source) {
  switch (source) {
    case FolderSource::Option:
      return "given with --folder";
    case FolderSource::CurrentFolder:
      return "the current folder, which holds Data/Pref.txt";
    case FolderSource::Installed:
      return "the installed shared folder (HKLM\\" RESKEEPER_REGISTRY_KEY
             ", " RESKEEPER_DATA_FOLDER_VALUE ")";
    case FolderSource::UserDefault:
      return "this user's own folder (" + userFolderHint() + ")";
    case FolderSource::Fallback:
      return "the current folder (no other folder is known)";
    case FolderSource::NotChosen:
      return "none: running as an administrator, the current folder is taken only when "
             "--folder names it";
  }
  return "";
}

std::string userFolderHint() {
  return platform::userFolderWords().folder;
}

std::string layoutName(Layout layout) {
  switch (layout) {
    case Layout::PerUser:
      return "per-user";
    case Layout::Shared:
      return "shared";
    case Layout::NotInstalled:
      break;
  }
  return "none";
}

std::string preferenceFilePath(const Folder& folder) {
  if (folder.source == FolderSource::NotChosen) return "";
  return join(folder.path, keeper::PREFERENCE_FILE);
}

}  // namespace ctl
