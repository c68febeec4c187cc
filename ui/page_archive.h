#pragma once
// The page archive compiled into the executable (packed from ui/pages/) and
// the process-wide slot that holds it once opened.

#include <cstdint>
#include <memory>
#include <span>

#include "uiengine/archive.h"

namespace kx::ui {

std::span<const std::uint8_t> packedPages();

// Empty until start-up opens the archive; read by the data-load callback.
std::unique_ptr<uiengine::Archive>& archiveSlot();

}  // namespace kx::ui
