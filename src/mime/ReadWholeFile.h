#pragma once

#include <string>

namespace tarnwick::mime {

// The bytes of the file at `path`, held once. Throws core::TFileError "The <what> "<path>" cannot
// be read: <the system's reason>".
std::string ReadWholeFile(const std::string& path, const char* what);

} // namespace tarnwick::mime
