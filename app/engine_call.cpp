// The engine-call command: a version probe, debug-log lines and the comment dialog.
#include <cstring>
#include <string>

#include "app/engine.h"
#include "platform/platform.h"
#include "script/task.h"
#include "script/vars.h"

namespace {

constexpr int CMD_ENGINE_CALL = 105;
constexpr int32_t ENGINE_CALL_ANSWER = 502;
constexpr size_t COMMENT_TEXT_BYTES = 1024;

char g_CommentInitial[COMMENT_TEXT_BYTES];
char g_CommentResult[TEXT_VALUE_BYTES];

// The element a reference argument names, or -1 when it names none.
int32_t ReferencedElement(int position) {
  int64_t e = g_ArgRefElement[position];
  return e >= 0 && e <= INT32_MAX ? (int32_t)e : -1;
}

// The comment dialog: the text is shown with OK and Cancel. 1 OK, 0 Cancel.
int ShowCommentDialog() {
  std::string text;
  if (!PlatCp932ToUtf8(g_CommentInitial, strlen(g_CommentInitial), &text)) text = g_CommentInitial;
  static const char* const kButtons[] = {"OK", "ｷｬﾝｾﾙ"};
  int choice = g_Platform->ChoiceBox("コメント編集", text.c_str(), kButtons, 2, 0, 1, PLAT_ICON_NONE);
  if (choice != 0) return 0;
  CopyTextBounded(g_CommentResult, sizeof g_CommentResult, g_CommentInitial);
  return 1;
}

}  // namespace

int CmdEngineCall() {
  if (DecodeCommandArguments(CMD_ENGINE_CALL) != 0) return -1;
  int code = ParamPosition(0), result = ParamPosition(1), textArg = ParamPosition(22);
  int64_t subCode = code ? g_ArgInteger[code] : 0;
  const char* text = "";
  if (textArg) {
    const char* s = ReadStringElement(g_ArgReference[textArg], ReferencedElement(textArg));
    if (s) text = s;
  }
  int32_t v = result ? g_ArgReference[result] : -1;
  int32_t e = result ? ReferencedElement(result) : -1;
  switch (subCode) {
    case 1: {
      const VarRecord* var = GetVariable(v);
      if (!var || e < 0 || e >= var->mCount) break;
      if (var->mType == VAR_INT || var->mType == VAR_REAL) StoreIntElement(v, e, ENGINE_CALL_ANSWER);
      else ReportScriptError(101140, 1);
      break;
    }
    case 51:
      if (textArg) {
        char line[COMMENT_TEXT_BYTES];
        CopyTextBounded(line, sizeof line, text);
        AppendDebugLog(line);
      }
      break;
    case 10201:
      CopyTextBounded(g_CommentInitial, sizeof g_CommentInitial, text);
      if (result) StoreIntElement(v, e, ShowCommentDialog());
      else ShowCommentDialog();
      break;
    case 10205:
      if (result) StoreStringElement(v, e, g_CommentResult);
      break;
    default:
      break;
  }
  return 0;
}
