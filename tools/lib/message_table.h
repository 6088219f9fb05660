// The message table every compiled game carries: the listing's own texts first, then the text
// of every other id the runtime raises, so no message a player meets is left without its text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using MessageEntry = std::pair<int32_t, std::string>;

// The texts of every id the runtime raises, in code page 932, by id.
const std::vector<MessageEntry>& StandardMessageTable();

// `own` (code page 932, in listing order; the first text of an id counts) followed by every
// standard text whose id `own` does not give.
std::vector<MessageEntry> CompleteMessageTable(const std::vector<MessageEntry>& own);
