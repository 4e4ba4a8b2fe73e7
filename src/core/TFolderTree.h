#pragma once

#include <functional>
#include <string>

namespace tarnwick::core {

// Deletes the folder at `path` with everything in it, without ever following a symbolic link: a
// link inside the folder is removed itself (what it points to stays), and when `path` itself is a
// link only the link goes. Nothing outside the folder is touched. What cannot be deleted stays
// where it is, silently, and so do the folders above it. `eachEntry` runs once for every entry
// visited (the caller keeps its window responsive there); it may be empty. A missing folder is not
// an error.
void DeleteFolderTree(const std::string& path, const std::function<void()>& eachEntry = {});

} // namespace tarnwick::core
