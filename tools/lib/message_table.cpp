// The complete message table: the listing's texts over the standard texts of the runtime's ids.
#include "tools/lib/message_table.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "app/message_texts.h"
#include "platform/platform.h"

namespace {

template <size_t N>
void AddTexts(const MessageText (&texts)[N], std::vector<MessageEntry>* out) {
  for (const MessageText& m : texts) {
    std::string cp932;
    if (!PlatUtf8ToCp932(m.utf8, strlen(m.utf8), &cp932)) cp932 = m.utf8;
    out->push_back({m.id, cp932});
  }
}

}  // namespace

const std::vector<MessageEntry>& StandardMessageTable() {
  static const std::vector<MessageEntry> table = [] {
    std::vector<MessageEntry> t;
    AddTexts(kBuiltinMessageTexts, &t);
    AddTexts(kOwnMessageTexts, &t);
    AddTexts(kGameMessageTexts, &t);
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

std::vector<MessageEntry> CompleteMessageTable(const std::vector<MessageEntry>& own) {
  std::vector<MessageEntry> out;
  std::set<int32_t> given;
  for (const MessageEntry& m : own)
    if (given.insert(m.first).second) out.push_back(m);
  for (const MessageEntry& m : StandardMessageTable())
    if (!given.count(m.first)) out.push_back(m);
  return out;
}
