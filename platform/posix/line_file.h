// A one-line file rewritten in place, for the frame log on POSIX systems.
#pragma once

#include <memory>
#include <string>

#include "platform/frame_log.h"

namespace quellora::posix {

// The file at `path`, made or emptied; nullptr when it can't be opened.
std::unique_ptr<LineFile> OpenLineFile(const std::string& path);

}  // namespace quellora::posix
