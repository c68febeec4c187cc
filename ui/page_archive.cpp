#include "ui/page_archive.h"

namespace kx::ui {

std::unique_ptr<uiengine::Archive>& archiveSlot() {
  static std::unique_ptr<uiengine::Archive> slot;
  return slot;
}

}  // namespace kx::ui
