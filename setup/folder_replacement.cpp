#include "setup/folder_replacement.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace kx {

namespace {

namespace fs = std::filesystem;

std::string failure(const std::string& what, const fs::path& path, const std::error_code& error) {
  return what + " " + path.string() + ": " + error.message();
}

std::vector<fs::path> itemsOf(const fs::path& folder) {
  std::vector<fs::path> items;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    items.push_back(it->path().filename());
  std::sort(items.begin(), items.end());
  return items;
}

}  // namespace

FolderReplacement::FolderReplacement(fs::path folder)
    : packageFolder(std::move(folder)), stagingFolder(packageFolder / ".installing"),
      asideFolder(packageFolder / ".replaced") {}

StepResult FolderReplacement::prepare() {
  restoreAsideItems();
  std::error_code error;
  fs::remove_all(stagingFolder, error);
  if (error) return StepResult::failure(failure("cannot remove", stagingFolder, error));
  fs::create_directories(stagingFolder, error);
  if (error) return StepResult::failure(failure("cannot create", stagingFolder, error));
  return StepResult::success();
}

void FolderReplacement::restoreAsideItems() {
  // An item still aside is the old version: it goes back where its new one
  // never arrived, and is dropped where the new one is in place. One that
  // cannot go back stays aside for the next run rather than being lost.
  std::error_code error;
  bool allBack = true;
  for (const fs::path& name : itemsOf(asideFolder)) {
    if (fs::exists(packageFolder / name, error) || fs::is_symlink(packageFolder / name, error)) continue;
    fs::rename(asideFolder / name, packageFolder / name, error);
    allBack = allBack && !error;
  }
  if (allBack) fs::remove_all(asideFolder, error);
}

StepResult FolderReplacement::commit() {
  std::error_code error;
  fs::create_directories(asideFolder, error);
  if (error) return StepResult::failure(failure("cannot create", asideFolder, error));
  std::vector<fs::path> movedIn;
  std::string problem;
  for (const fs::path& name : itemsOf(stagingFolder)) {
    const fs::path installed = packageFolder / name;
    if (fs::exists(installed, error) || fs::is_symlink(installed, error)) {
      fs::rename(installed, asideFolder / name, error);
      if (error) {
        problem = failure("cannot move aside", installed, error);
        break;
      }
    }
    fs::rename(stagingFolder / name, installed, error);
    if (error) {
      problem = failure("cannot move in", installed, error);
      break;
    }
    movedIn.push_back(name);
  }
  if (!problem.empty()) {
    for (const fs::path& name : movedIn) fs::rename(packageFolder / name, stagingFolder / name, error);
    restoreAsideItems();
    return StepResult::failure(problem);
  }
  fs::remove_all(asideFolder, error);
  fs::remove_all(stagingFolder, error);
  return StepResult::success();
}

void FolderReplacement::discard() {
  std::error_code error;
  fs::remove_all(stagingFolder, error);
}

}  // namespace kx
