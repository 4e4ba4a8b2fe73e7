#pragma once

#include <fstream>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::retrieval {

// Whether a cache file holds a given record's message.
//
// Cache files are named by CacheNameOf, and that name is not unique: two messages without a
// Message-Id from the same sender on the same day get the same name, and so do a message and a
// resent copy with the same Message-Id. Whoever reads a record's cache file therefore first checks
// that the file's header part is the record's header:
// - The header part is the lines before the first empty line, or every line of a file without an
//   empty line (a message without a body).
// - Lines end with LF or CR LF; one CR right before the LF (or before the end of the file) is the
//   line end's. Everything else compares byte for byte, blanks at the end of a line included:
//   TOP and RETR both give the stored message unchanged, so the same message has the same bytes.
// - `headerLines` are the physical header lines as the server sent them in reply to TOP n 0,
//   without line ends and without empty lines (TMailMessage::Headers, TParsedHeader::Lines).
//   A record without header lines, or with an empty one, matches nothing: nothing would show
//   that a file is its message.
// - A missing or unreadable file, or a path that is not a regular file, is no match.
// - Reading is bounded by the record's header: the check stops at the first line that differs,
//   never reads a line beyond the length of the record's line, and reads at most one line end
//   past the record's last line. A file with a huge header or without any empty line is never
//   read whole.
// None of these throws but std::bad_alloc.

// The check on a stream from its current position. The stream's characters up to where the check
// stopped are consumed; its state flags are left alone.
bool HeaderPartMatches(const std::vector<std::string>& headerLines, std::istream& in);

// The check on a message text already in memory (a whole message or at least its header part).
bool HeaderPartMatches(const std::vector<std::string>& headerLines, std::string_view text);

// The check on the file at `path`.
bool CacheFileHolds(const std::vector<std::string>& headerLines, const std::string& path);

// Opens the file at `path` for reading in binary mode, positioned at its start, when it holds the
// message; nothing otherwise. Reading the stream returned reads the very file that was checked,
// even when the cache file is replaced in the meantime.
std::optional<std::ifstream> OpenCacheFile(const std::vector<std::string>& headerLines,
                                           const std::string& path);

} // namespace tarnwick::retrieval
