#pragma once
// Replacing an installed package by a new one so that a failure at any
// point leaves one complete version: the new one is built in a staging
// folder beside the old one and swapped in only once it is complete.

#include <filesystem>

#include "setup/step_result.h"

namespace kx {

class FolderReplacement {
 public:
  // `packageFolder` receives what the archive holds at its top ("game").
  explicit FolderReplacement(std::filesystem::path packageFolder);

  // Finishes or undoes what an interrupted earlier run left (an old item
  // whose new one never arrived is put back, one already replaced is
  // removed) and gives an empty staging folder.
  StepResult prepare();

  // Where the new version is built: ".installing" in the package folder.
  const std::filesystem::path& staging() const { return stagingFolder; }

  // Moves every item of the staging folder into the package folder: the old
  // item of that name is moved aside, the new one moved in, and the old ones
  // removed only when all are in. When a move fails, every item is put back
  // as it was and the new version stays behind in the staging folder.
  StepResult commit();

  // Removes the staging folder with what is in it.
  void discard();

 private:
  void restoreAsideItems();

  std::filesystem::path packageFolder;
  std::filesystem::path stagingFolder;
  std::filesystem::path asideFolder;
};

}  // namespace kx
