// Setting one entry of the settings file's INI text, as the settings window
// saves a change: every other line, comment and line end stays byte for
// byte. Pure text work; the settings window reads and writes the file.
#pragma once

#include <string>
#include <string_view>

namespace quellora::posix {

// `text` with the entry `name` of the section `section` set to `value` (one
// line of text, no line break). Names compare without case and without the
// blanks around them, as the reader compares them. On the line the reader
// takes the entry from (the last of that name in any section of that name)
// only the text after the blanks that follow '=' changes, the name and the
// line end stay; an entry that is missing is added after the last entry of
// the last section of that name (or its header), and a missing section at
// the end of the text. Lines the reader does not understand are kept and
// skipped. New lines end as the text's first line does (CRLF or LF), and a
// text without a line break at its end gets none.
std::string SetIniEntry(std::string_view text, std::string_view section, std::string_view name,
                        std::string_view value);

}  // namespace quellora::posix
