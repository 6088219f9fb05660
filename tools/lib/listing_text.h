// The text the tools read (listings, file names) arrives in UTF-8 and leaves in code page 932,
// the engine's encoding; text already in code page 932 passes unchanged.
#pragma once

#include <string>

// Whole UTF-8: every sequence well formed, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& bytes);

// A listing (or any text file) read by a tool: UTF-8 text, with or without a byte-order mark,
// and UTF-16 with its byte-order mark are converted to code page 932; text that is not UTF-8
// must be code page 932 already and passes unchanged. False, with `error` as "FILE:LINE: ...",
// at the first line that holds a character without a code page 932 form (named), that is
// neither UTF-8 nor code page 932, that holds a NUL byte (UTF-16 without its mark), or that
// breaks UTF-16.
bool TextToCp932(const std::string& bytes, const std::string& file, std::string* out, std::string* error);

// A name from the file system (UTF-8 on this host) as the engine spells it; a name that is not
// UTF-8 passes as it is. False when the name has no code page 932 form.
bool NameToCp932(const std::string& name, std::string* out);
