// The script assembler: listing lines to commands with postfix expressions, block and loop
// positions resolved, labels and variables numbered, and every file of the compiled set written.
#include "tools/lib/assembler.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/format_keys.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/command_defs.h"
#include "tools/lib/listing_text.h"
#include "tools/lib/message_table.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/system_variables.h"

namespace {

enum : uint8_t { T_INT = 1, T_REAL = 2, T_TEXT = 3 };

constexpr int CMD_ELSE_IF = 11, CMD_DECLARE_REAL = 26, CMD_JUMP = 34, CMD_CALL = 35, CMD_IF = 36, CMD_ELSE = 37;
constexpr int CMD_BREAK_BLOCK = 38, CMD_REPEAT_BLOCK = 39, CMD_END_IF = 40, CMD_DECLARE_INT = 42, CMD_ASSIGN = 45;
constexpr int CMD_LOOP = 47, CMD_BREAK_LOOP = 48, CMD_CONTINUE_LOOP = 49, CMD_LOOP_END = 50, CMD_RETURN = 68;
constexpr int CMD_MESSAGE_END = 70, CMD_DECLARE_STRING = 81, CMD_MESSAGE_TEXT = 97;

struct Token {
  enum Kind { END, INT, REAL, TEXT, IDENT, VAR, OP } kind = END;
  std::string text;
  int64_t i = 0;
  double r = 0;
};

// The tokens of one line, read through an index that gives the end token past the last, so no
// rule can read beyond the line however it ends.
struct Tokens {
  std::vector<Token> list;
  const Token& operator[](size_t k) const {
    static const Token kEnd;
    return k < list.size() ? list[k] : kEnd;
  }
};

// Bounds of the compiled formats and of what the runtime holds.
constexpr size_t MAX_TEXT_VALUE = 4095;        // a text value stays below 4096 bytes
constexpr size_t MAX_MESSAGE_TEXT = 8190;      // bytes of one message line
constexpr int MAX_EXPRESSION_NESTING = 200;    // parentheses, unary minus and subscripts
constexpr int64_t MAX_VARIABLE_NUMBER = 65535; // numbers travel in 16 bits
constexpr size_t MAX_OPEN_BLOCKS = 255;        // label depths are stored in a byte
constexpr size_t MAX_NAME_BYTES = 255;         // label names are stored with a byte length
constexpr int MAX_CALL_VALUES = 16;            // integers, reals and texts of a call or return
constexpr int MAX_DIMENSIONS = 8;
constexpr size_t MAX_MESSAGES = 256;           // texts past these the runtime never reads
constexpr size_t MAX_COUNT16 = 65535;          // script files, definitions

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (uint8_t)c >= 0x80; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

// Splits one line into tokens; false with `error` set on a bad character or text.
bool Tokenize(const std::string& line, Tokens* tokens, std::string* error) {
  std::vector<Token>* out = &tokens->list;
  static const char* const kOps[] = {"||", "&&", "==", "!=", "<=", ">=", "+=", "-=", "*=", "/=", "%=", "&=", "|=",
                                     "^=", "<",  ">",  "+",  "-",  "*",  "/",  "%",  "&",  "|",  "^",  "(",  ")",
                                     "[",  "]",  ",",  "=",  "@"};
  // Listings arrive in code page 932 (kvasm converts them); tests and seeds may hand one over
  // in UTF-8, which a line of Japanese in code page 932 almost never is.
  const bool doubleByte = !IsUtf8(line);
  size_t k = 0;
  while (k < line.size()) {
    char c = line[k];
    if (c == ' ' || c == '\t' || c == '\r') {
      k++;
      continue;
    }
    if (c == '#') break;
    Token t;
    if (c >= '0' && c <= '9') {
      size_t start = k;
      if (c == '0' && k + 1 < line.size() && (line[k + 1] == 'x' || line[k + 1] == 'X')) {
        k += 2;
        while (k < line.size() && isxdigit((unsigned char)line[k])) k++;
        t.kind = Token::INT;
        if (k == start + 2 || k - start - 2 > 16) {
          *error = "bad hexadecimal number " + line.substr(start, k - start);
          return false;
        }
        t.i = (int64_t)strtoull(line.substr(start + 2, k - start - 2).c_str(), nullptr, 16);
      } else {
        while (k < line.size() && ((line[k] >= '0' && line[k] <= '9') || line[k] == '.')) k++;
        std::string n = line.substr(start, k - start);
        if (std::count(n.begin(), n.end(), '.') > 1) {
          *error = "bad number " + n;
          return false;
        }
        if (n.find('.') != std::string::npos) {
          t.kind = Token::REAL;
          t.r = strtod(n.c_str(), nullptr);
        } else {
          t.kind = Token::INT;
          errno = 0;
          t.i = (int64_t)strtoull(n.c_str(), nullptr, 10);
          if (errno == ERANGE || t.i < 0) {
            *error = "number " + n + " is too large";
            return false;
          }
        }
      }
      out->push_back(t);
      continue;
    }
    if (c == '"') {
      size_t end = k + 1;
      // In code page 932 a double-byte character is stepped over whole: its second byte may be
      // a backslash (ソ, 表), which escapes nothing. A line handed over in UTF-8 has no such
      // characters, and its bytes are taken one by one.
      while (end < line.size() && line[end] != '"') {
        uint8_t b = (uint8_t)line[end];
        bool lead = doubleByte && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
        end += (lead || b == '\\') && end + 1 < line.size() ? 2 : 1;
      }
      if (end >= line.size()) {
        *error = "unterminated text";
        return false;
      }
      if (end - k - 1 > MAX_MESSAGE_TEXT) {
        *error = "a text longer than " + std::to_string(MAX_MESSAGE_TEXT) + " bytes";
        return false;
      }
      t.kind = Token::TEXT;
      t.text = line.substr(k + 1, end - k - 1);
      out->push_back(t);
      k = end + 1;
      continue;
    }
    if (c == '$') {
      size_t start = ++k;
      while (k < line.size() && line[k] >= '0' && line[k] <= '9') k++;
      t.kind = Token::VAR;
      t.i = k - start > 6 ? MAX_VARIABLE_NUMBER + 1 : atoll(line.substr(start, k - start).c_str());
      if (k == start || t.i > MAX_VARIABLE_NUMBER) {
        *error = "'$' needs a variable number from 0 to " + std::to_string(MAX_VARIABLE_NUMBER);
        return false;
      }
      out->push_back(t);
      continue;
    }
    if (IsIdentStart(c)) {
      size_t start = k++;
      while (k < line.size() && IsIdentChar(line[k])) k++;
      t.kind = Token::IDENT;
      t.text = line.substr(start, k - start);
      out->push_back(t);
      continue;
    }
    bool matched = false;
    for (const char* op : kOps) {
      size_t n = strlen(op);
      if (line.compare(k, n, op) == 0) {
        t.kind = Token::OP;
        t.text = op;
        out->push_back(t);
        k += n;
        matched = true;
        break;
      }
    }
    if (!matched) {
      char shown[8];
      if ((uint8_t)c < 0x20 || (uint8_t)c == 0x7F) snprintf(shown, sizeof shown, "\\x%02X", (uint8_t)c);
      else snprintf(shown, sizeof shown, "%c", c);
      *error = std::string("unexpected character '") + shown + "'";
      return false;
    }
  }
  out->push_back(Token{});
  return true;
}

struct VarInfo {
  int number;
  uint8_t type;
};

struct Expr {
  std::string code;
  uint8_t type = T_INT;
};

void Item(std::string* code, char op, const std::string& operand = "") {
  code->push_back(op);
  code->push_back((char)(operand.size() & 0xFF));
  code->push_back((char)(operand.size() >> 8));
  *code += operand;
}

std::string VarOperand(int number) {
  std::string s(3, '\0');
  s[1] = (char)(number & 0xFF);
  s[2] = (char)((number >> 8) & 0xFF);
  return s;
}

std::string LittleEndian(uint64_t v, int bytes) {
  std::string s;
  for (int k = 0; k < bytes; k++) s.push_back((char)(v >> (8 * k)));
  return s;
}

void IntLiteral(std::string* code, int64_t v) {
  if (v >= INT8_MIN && v <= INT8_MAX) Item(code, 'B', LittleEndian((uint64_t)v, 1));
  else if (v >= INT16_MIN && v <= INT16_MAX) Item(code, 'W', LittleEndian((uint64_t)v, 2));
  else if (v >= INT32_MIN && v <= INT32_MAX) Item(code, 'I', LittleEndian((uint64_t)v, 4));
  else Item(code, 'L', LittleEndian((uint64_t)v, 8));
}

const char kTextDelimiters[] = "\"'`~|\x01";

// The first delimiter the text does not hold; 0 when it holds them all.
char TextDelimiter(const std::string& text) {
  for (const char* d = kTextDelimiters; *d; d++)
    if (text.find(*d) == std::string::npos) return *d;
  return 0;
}

// A text literal fits the evaluator when it is short enough for a text value and some
// delimiter can close it.
bool TextLiteralFits(const std::string& text, std::string* error) {
  if (text.size() > MAX_TEXT_VALUE) {
    *error = "a text value longer than " + std::to_string(MAX_TEXT_VALUE) + " bytes";
    return false;
  }
  if (!TextDelimiter(text)) {
    *error = "a text holding every one of \" ' ` ~ | and byte 1 cannot be written";
    return false;
  }
  return true;
}

void TextLiteral(std::string* code, const std::string& text) {
  Item(code, 'M', std::string(1, TextDelimiter(text)) + text + TextDelimiter(text));
}

// The types of variables by number, for `$N`: a number nobody declared is taken as an integer.
using NumberTypes = std::map<int, uint8_t>;

// Expressions over a token list, by precedence climbing; nesting is bounded so no listing can
// take the assembler's stack.
class ExprParser {
 public:
  ExprParser(const Tokens& tokens, size_t* at, const std::map<std::string, VarInfo>* vars,
             const NumberTypes* numberTypes)
      : t_(tokens), at_(*at), vars_(vars), numberTypes_(numberTypes) {}
  bool Parse(Expr* out, std::string* error) {
    bool ok = Binary(1, out);
    if (!ok) *error = error_;
    return ok;
  }

 private:
  const Token& Peek() const { return t_[at_]; }
  bool IsOp(const char* op) const { return Peek().kind == Token::OP && Peek().text == op; }
  bool Fail(const std::string& e) {
    error_ = e;
    return false;
  }

  static int Precedence(const std::string& op) {
    if (op == "||") return 1;
    if (op == "&&") return 2;
    if (op == "|") return 3;
    if (op == "^") return 4;
    if (op == "&") return 5;
    if (op == "==" || op == "!=") return 6;
    if (op == "<" || op == ">" || op == "<=" || op == ">=") return 7;
    if (op == "+" || op == "-") return 8;
    if (op == "*" || op == "/" || op == "%") return 9;
    return 0;
  }
  static char Opcode(const std::string& op) {
    if (op == "||") return '|';
    if (op == "&&") return '&';
    if (op == "|") return 'O';
    if (op == "&") return 'A';
    if (op == "==") return '=';
    if (op == "!=") return '!';
    if (op == ">=") return 'Z';
    if (op == "<=") return 'S';
    return op[0];
  }

  // Counts one level of nesting for the life of a parse step.
  struct Nested {
    explicit Nested(int* depth) : depth_(depth) { ++*depth_; }
    ~Nested() { --*depth_; }
    int* depth_;
  };
  bool TooDeep() { return Fail("expression nested more than " + std::to_string(MAX_EXPRESSION_NESTING) + " deep"); }

  bool Binary(int minPrecedence, Expr* out) {
    Nested level(&depth_);
    if (depth_ > MAX_EXPRESSION_NESTING) return TooDeep();
    if (!Unary(out)) return false;
    for (;;) {
      if (Peek().kind != Token::OP) return true;
      std::string op = Peek().text;
      int p = Precedence(op);
      if (p == 0 || p < minPrecedence) return true;
      at_++;
      Expr right;
      if (!Binary(p + 1, &right)) return false;
      out->code += right.code;
      Item(&out->code, Opcode(op));
      if (p <= 7) out->type = T_INT;
      else if (out->type == T_TEXT || right.type == T_TEXT) out->type = T_TEXT;
      else if (out->type == T_REAL || right.type == T_REAL) out->type = T_REAL;
    }
  }

  bool Unary(Expr* out) {
    int minus = 0;
    for (; IsOp("-"); at_++)
      if (++minus > MAX_EXPRESSION_NESTING) return TooDeep();
    if (!Primary(out)) return false;
    for (int k = 0; k < minus; k++) Item(&out->code, 'R');
    return true;
  }

  bool Variable(int number, uint8_t type, Expr* out) {
    out->type = type;
    if (!IsOp("[")) {
      Item(&out->code, 'H', VarOperand(number));
      return true;
    }
    at_++;
    Item(&out->code, 'V', VarOperand(number));
    for (bool first = true; !IsOp("]"); first = false) {
      if (!first) {
        if (!IsOp(",")) return Fail("expected ',' or ']'");
        at_++;
        Item(&out->code, ',');
      }
      Expr sub;
      if (!Binary(1, &sub)) return false;
      out->code += sub.code;
    }
    at_++;
    Item(&out->code, ')');
    return true;
  }

  bool Primary(Expr* out) {
    Token tok = Peek();
    at_++;
    switch (tok.kind) {
      case Token::INT:
        IntLiteral(&out->code, tok.i);
        out->type = T_INT;
        return true;
      case Token::REAL:
        Item(&out->code, 'F', [&] {
          uint64_t bits;
          memcpy(&bits, &tok.r, sizeof bits);
          return LittleEndian(bits, 8);
        }());
        out->type = T_REAL;
        return true;
      case Token::TEXT:
        if (!TextLiteralFits(tok.text, &error_)) return false;
        TextLiteral(&out->code, tok.text);
        out->type = T_TEXT;
        return true;
      case Token::VAR: {
        uint8_t type = T_INT;
        if (numberTypes_) {
          auto known = numberTypes_->find((int)tok.i);
          if (known != numberTypes_->end()) type = known->second;
        }
        return Variable((int)tok.i, type, out);
      }
      case Token::OP:
        if (tok.text == "(") {
          if (!Binary(1, out)) return false;
          if (!IsOp(")")) return Fail("expected ')'");
          at_++;
          return true;
        }
        return Fail("unexpected '" + tok.text + "'");
      case Token::IDENT: {
        if ((tok.text == "str" || tok.text == "num" || tok.text == "ref") && IsOp("(")) {
          at_++;
          if (tok.text == "ref") {
            const Token& name = Peek();
            int number = -1;
            if (name.kind == Token::VAR) number = (int)name.i;
            else if (name.kind == Token::IDENT && vars_ && vars_->count(name.text)) number = vars_->at(name.text).number;
            if (number < 0) return Fail("ref needs a variable");
            at_++;
            Item(&out->code, 'v', VarOperand(number));
            out->type = T_INT;
          } else {
            if (!Binary(1, out)) return false;
            Item(&out->code, tok.text == "str" ? 's' : 'i');
            out->type = tok.text == "str" ? T_TEXT : T_INT;
          }
          if (!IsOp(")")) return Fail("expected ')'");
          at_++;
          return true;
        }
        if (!vars_ || !vars_->count(tok.text)) return Fail("unknown variable " + tok.text);
        const VarInfo& v = vars_->at(tok.text);
        return Variable(v.number, v.type, out);
      }
      default:
        return Fail("expression expected");
    }
  }

  const Tokens& t_;
  size_t& at_;
  const std::map<std::string, VarInfo>* vars_;
  const NumberTypes* numberTypes_;
  int depth_ = 0;
  std::string error_;
};

struct Block {
  bool isLoop;
  int line = 0;                   // where the block or loop opened
  size_t loopEnd = 0;             // argument to patch with the loop end
  std::vector<size_t> ends;       // arguments to patch with the block end
  int64_t nextAlternative = -1;   // argument to patch with the next alternative, -1 none
};

struct FileState {
  std::string name;
  ScriptImage image;
  std::vector<Block> blocks;
  int blockDepth = 0, loopDepth = 0;
};

struct LabelDef {
  std::string name;
  int32_t position;
  uint16_t file;
  uint8_t blockDepth, loopDepth;
};

struct Definition {
  uint8_t scope;
  uint16_t file;
  uint16_t number;
  uint8_t type;
  std::vector<int32_t> dims;
  int64_t intValue = 0;
  double realValue = 0;
  std::string textCode;
};

bool IsOp(const Token& t, const char* op) { return t.kind == Token::OP && t.text == op; }

// The assignment operators in the order of their codes.
const char* const kAssignOps[] = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="};

int AssignOp(const Token& t) {
  for (int k = 0; k < 9; k++)
    if (IsOp(t, kAssignOps[k])) return k;
  return -1;
}

// The keys `config` takes.
bool IsConfigKey(const std::string& key) {
  static const char* const kKeys[] = {"width",  "height", "title",  "show",       "sound",             "debug",
                                      "gamethread", "sizing", "framed", "loosefirst", "loosefirstrelease", "project"};
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

class Assembler {
 public:
  bool Run(const std::string& listing, AssembledSet* out);

 private:
  bool Line(const Tokens& t);
  bool Fail(const std::string& e) {
    error_ = e;
    return false;
  }
  // A mistake found after the listing was read, told at the line it concerns.
  bool FailAt(int line, const std::string& e) {
    line_ = line;
    return Fail(e);
  }
  FileState& File() { return files_.back(); }
  bool ParseExpr(const Tokens& t, size_t* at, Expr* e) {
    std::string error;
    ExprParser p(t, at, &vars_, &numberTypes_);
    if (!p.Parse(e, &error)) return Fail(error);
    return true;
  }
  // Appends one argument record with its expression; returns its index (the command's count of
  // arguments is a byte: `Line` refuses a command with more).
  size_t AddArgument(uint8_t param, uint8_t kind, uint8_t op, const std::string& code) {
    ScriptImage& img = File().image;
    img.arguments.push_back({param, kind, op, (uint32_t)code.size(), (uint32_t)img.expressions.size()});
    img.expressions += code;
    img.commands.back().argCount++;
    return img.arguments.size() - 1;
  }
  bool RoomForArgument() {
    return File().image.commands.back().argCount < 255 ? true : Fail("a command with more than 255 arguments");
  }
  void AddCommand(int code, uint8_t callCount = 0) {
    File().image.commands.push_back({(uint8_t)code, 0, callCount, (uint32_t)line_});
  }
  uint32_t NextPosition() { return (uint32_t)File().image.commands.size(); }
  void SetPosition(size_t argument, uint32_t position) { File().image.arguments[argument].length = position; }
  static uint8_t KindFor(uint8_t valueType, uint8_t exprType) {
    if (valueType == 1) return exprType == T_REAL ? 4 : 3;
    if (valueType == 2 && exprType == T_TEXT) return 3;
    return exprType == T_REAL ? 2 : 1;
  }
  bool Declare(const Tokens& t, size_t at, bool command, uint8_t scope);
  bool DeclaredNumber(const Tokens& t, size_t* at, int* number);
  bool OptionalCount(int code, const Tokens& t, size_t at);
  bool Values(int intBase, int realBase, int textBase, const Tokens& t, size_t at);
  bool OpenBlock(bool isLoop);
  bool Message(const Tokens& t);
  bool Config(const Tokens& t);
  bool NeedFile() { return files_.empty() ? Fail("no file started (a 'file NAME' line comes first)") : true; }
  bool Finish();
  void Emit(AssembledSet* out);

  std::map<std::string, VarInfo> vars_;
  NumberTypes numberTypes_;
  int nextVar_ = 1000;
  int highestVar_ = 999;
  std::vector<FileState> files_;
  std::vector<LabelDef> labels_;
  std::vector<Definition> definitions_;
  std::vector<MessageEntry> messages_;
  std::map<std::string, std::string> config_;
  int line_ = 0;
  std::string error_;
};

uint8_t TypeByName(const std::string& s) {
  if (s == "int") return T_INT;
  if (s == "real") return T_REAL;
  if (s == "str") return T_TEXT;
  return 0;
}

// `@NUMBER` at `at`, when there: the variable's fixed number.
bool Assembler::DeclaredNumber(const Tokens& t, size_t* at, int* number) {
  if (!IsOp(t[*at], "@")) return true;
  if (*number >= 0) return Fail("the variable's number is given twice");
  const Token& n = t[*at + 1];
  if (n.kind != Token::INT || n.i > MAX_VARIABLE_NUMBER)
    return Fail("'@' needs a variable number from 0 to " + std::to_string(MAX_VARIABLE_NUMBER));
  *number = (int)n.i;
  *at += 2;
  return true;
}

// A definition: `int NAME[@N][[SIZES]][@N] [= VALUE]`; the number may stand before or after
// the sizes. As a command (`dim`) the sizes are expressions and no number is taken.
bool Assembler::Declare(const Tokens& t, size_t at, bool command, uint8_t scope) {
  uint8_t type = TypeByName(t[at].text);
  if (t[at].kind != Token::IDENT || !type || t[at + 1].kind != Token::IDENT)
    return Fail("expected a type (int, real or str) and a name");
  std::string name = t[at + 1].text;
  size_t nameAt = at + 1;
  at += 2;
  int number = -1;
  if (!command && !DeclaredNumber(t, &at, &number)) return false;
  if (command) {
    number = vars_.count(name) ? vars_[name].number : nextVar_++;
    if (number > highestVar_) highestVar_ = number;
    vars_[name] = {number, type};
    numberTypes_[number] = type;
    // The name expression: the variable, with its sizes as subscripts.
    at = nameAt;
    Expr target;
    if (!ParseExpr(t, &at, &target)) return false;
    int code = type == T_INT ? CMD_DECLARE_INT : type == T_REAL ? CMD_DECLARE_REAL : CMD_DECLARE_STRING;
    AddCommand(code);
    AddArgument(0, 1, 0, target.code);
    if (IsOp(t[at], "=")) {
      at++;
      Expr value;
      if (!ParseExpr(t, &at, &value)) return false;
      AddArgument(1, KindFor(type == T_TEXT ? 1 : 0, value.type), 0, value.code);
    }
    if (nextVar_ > MAX_VARIABLE_NUMBER + 1) return Fail("more variables than numbers up to 65535");
    return t[at].kind == Token::END ? true : Fail("unexpected text after the declaration");
  }
  Definition d{scope, (uint16_t)(files_.empty() ? 0 : files_.size() - 1), 0, type, {}, 0, 0, ""};
  if (IsOp(t[at], "[")) {
    for (at++;; at += 2) {
      if (t[at].kind != Token::INT || t[at].i > INT32_MAX) return Fail("array sizes must be numbers");
      d.dims.push_back((int32_t)t[at].i);
      if (IsOp(t[at + 1], "]")) break;
      if (!IsOp(t[at + 1], ",")) return Fail("expected ',' or ']' after an array size");
    }
    at += 2;
    if (d.dims.size() > (size_t)MAX_DIMENSIONS) return Fail("an array has at most 8 dimensions");
    if (!DeclaredNumber(t, &at, &number)) return false;
  }
  if (number < 0) number = vars_.count(name) ? vars_[name].number : nextVar_++;
  if (number > MAX_VARIABLE_NUMBER) return Fail("more variables than numbers up to 65535");
  if (number > highestVar_) highestVar_ = number;
  vars_[name] = {number, type};
  numberTypes_[number] = type;
  d.number = (uint16_t)number;
  if (IsOp(t[at], "=")) {
    at++;
    if (type == T_TEXT) {
      Expr value;
      if (!ParseExpr(t, &at, &value)) return false;
      if (value.code.size() > MAX_COUNT16) return Fail("the initial text is too long");
      d.textCode = value.code;
    } else {
      bool negative = IsOp(t[at], "-");
      const Token& lit = t[negative ? at + 1 : at];
      if (lit.kind != Token::INT && lit.kind != Token::REAL) return Fail("a defined number needs a literal value");
      // A real given to an integer is cut toward zero, when an integer can hold it.
      if (type == T_INT && lit.kind == Token::REAL && !(lit.r > -9.2e18 && lit.r < 9.2e18))
        return Fail("the value is out of an integer's range");
      double r = lit.kind == Token::REAL ? lit.r : (double)lit.i;
      int64_t i = lit.kind == Token::INT ? lit.i : type == T_INT ? (int64_t)lit.r : 0;
      d.intValue = negative ? -i : i;
      d.realValue = negative ? -r : r;
      at += negative ? 2 : 1;
    }
  }
  if (t[at].kind != Token::END) return Fail("unexpected text after the definition");
  if (definitions_.size() >= MAX_COUNT16) return Fail("more than 65535 definitions");
  definitions_.push_back(d);
  return true;
}

bool Assembler::OptionalCount(int code, const Tokens& t, size_t at) {
  AddCommand(code);
  if (t[at].kind == Token::END) return true;
  Expr e;
  if (!ParseExpr(t, &at, &e)) return false;
  AddArgument(0, KindFor(0, e.type), 0, e.code);
  return t[at].kind == Token::END ? true : Fail("unexpected text after the count");
}

bool Assembler::Values(int intBase, int realBase, int textBase, const Tokens& t, size_t at) {
  int k = 0, ints = 0, reals = 0, texts = 0;
  while (t[at].kind != Token::END) {
    if (k > 0) {
      if (!IsOp(t[at], ",")) return Fail("expected ','");
      at++;
    }
    k++;
    Expr e;
    if (!ParseExpr(t, &at, &e)) return false;
    int& count = e.type == T_TEXT ? texts : e.type == T_REAL ? reals : ints;
    if (++count > MAX_CALL_VALUES) return Fail("more than 16 values of one type");
    if (e.type == T_TEXT) AddArgument((uint8_t)(textBase + k), 3, 0, e.code);
    else if (e.type == T_REAL) AddArgument((uint8_t)(realBase + k), 2, 0, e.code);
    else AddArgument((uint8_t)(intBase + k), 1, 0, e.code);
  }
  File().image.commands.back().callCount = (uint8_t)k;
  return true;
}

bool Assembler::OpenBlock(bool isLoop) {
  FileState& f = File();
  if (f.blocks.size() >= MAX_OPEN_BLOCKS) return Fail("blocks and loops nested more than 255 deep");
  Block b{isLoop};
  b.line = line_;
  f.blocks.push_back(b);
  return true;
}

bool Assembler::Config(const Tokens& t) {
  size_t at = 1;
  for (; t[at].kind == Token::IDENT; at += 3) {
    const std::string& key = t[at].text;
    if (!IsConfigKey(key)) return Fail("config has no key " + key);
    if (!IsOp(t[at + 1], "=")) return Fail("expected " + key + "=value");
    const Token& v = t[at + 2];
    if (v.kind == Token::TEXT) config_[key] = v.text;
    else if (v.kind == Token::INT) config_[key] = std::to_string(v.i);
    else return Fail("config " + key + " needs a number or a text");
  }
  return t[at].kind == Token::END ? true : Fail("expected key=value");
}

// The listing's own texts come first in the table, where the runtime finds them before the
// standard ones; the table holds at most 256 texts in all.
bool Assembler::Message(const Tokens& t) {
  if (t[1].kind != Token::INT || t[1].i > INT32_MAX || t[2].kind != Token::TEXT || t[3].kind != Token::END)
    return Fail("expected message ID \"text\"");
  messages_.push_back({(int32_t)t[1].i, t[2].text});
  if (CompleteMessageTable(messages_).size() > MAX_MESSAGES)
    return Fail("the message table holds at most 256 texts, the runtime's own ones included");
  return true;
}

bool Assembler::Line(const Tokens& t) {
  if (t[0].kind == Token::END) return true;
  const std::string& word = t[0].kind == Token::IDENT ? t[0].text : "";
  size_t at = 1;
  if (IsOp(t[0], "*") && t[1].kind == Token::IDENT) {
    if (!NeedFile()) return false;
    if (t[1].text.size() > MAX_NAME_BYTES) return Fail("a label name longer than 255 bytes");
    if (t[2].kind != Token::END) return Fail("unexpected text after the label");
    labels_.push_back({t[1].text, (int32_t)NextPosition(), (uint16_t)(files_.size() - 1), (uint8_t)File().blockDepth,
                       (uint8_t)File().loopDepth});
    return true;
  }
  if (word == "config") return Config(t);
  if (word == "message") return Message(t);
  if (word == "global") return Declare(t, 1, false, 1);
  if (!NeedFile()) return false;
  if (word == "local") return Declare(t, 1, false, 2);
  if (word == "text") {
    // A message line: its bytes are stored as they are, for the message command to copy.
    if (t[1].kind != Token::TEXT || t[2].kind != Token::END) return Fail("expected text \"literal\"");
    AddCommand(CMD_MESSAGE_TEXT);
    AddArgument(0, 3, 0, t[1].text);
    return true;
  }
  if (word == "dim") return Declare(t, 1, true, 0);
  FileState& f = File();
  if (word == "if" || word == "elseif") {
    Expr cond;
    if (!ParseExpr(t, &at, &cond)) return false;
    if (t[at].kind != Token::END) return Fail("unexpected text after the condition");
    if (word == "if") {
      if (!OpenBlock(false)) return false;
      AddCommand(CMD_IF);
      AddArgument(0, 1, 0, cond.code);
      Block& b = f.blocks.back();
      b.nextAlternative = (int64_t)AddArgument(1, 1, 0, "");
      b.ends.push_back(AddArgument(2, 1, 0, ""));
      f.blockDepth++;
      return true;
    }
    if (f.blocks.empty() || f.blocks.back().isLoop) {
      // Unmatched structure words are written as they stand, for the runtime to refuse.
      AddCommand(CMD_ELSE_IF);
      AddArgument(0, 1, 0, cond.code);
      return true;
    }
    AddCommand(CMD_ELSE);
    Block& b = f.blocks.back();
    if (b.nextAlternative >= 0) SetPosition((size_t)b.nextAlternative, NextPosition());
    AddCommand(CMD_ELSE_IF);
    AddArgument(0, 1, 0, cond.code);
    b.nextAlternative = (int64_t)AddArgument(1, 1, 0, "");
    return true;
  }
  bool bare = t[1].kind == Token::END;
  if (word == "else") {
    if (!bare) return Fail("unexpected text after else");
    AddCommand(CMD_ELSE);
    if (f.blocks.empty() || f.blocks.back().isLoop) return true;
    Block& b = f.blocks.back();
    if (b.nextAlternative >= 0) SetPosition((size_t)b.nextAlternative, NextPosition());
    b.nextAlternative = -1;
    return true;
  }
  if (word == "endif") {
    if (!bare) return Fail("unexpected text after endif");
    if (!f.blocks.empty() && !f.blocks.back().isLoop) {
      for (size_t a : f.blocks.back().ends) SetPosition(a, NextPosition());
      f.blocks.pop_back();
      f.blockDepth--;
    }
    AddCommand(CMD_END_IF);
    return true;
  }
  if (word == "loop") {
    Expr count;
    if (!ParseExpr(t, &at, &count)) return false;
    if (t[at].kind != Token::END) return Fail("unexpected text after the loop count");
    if (!OpenBlock(true)) return false;
    AddCommand(CMD_LOOP);
    AddArgument(0, KindFor(0, count.type), 0, count.code);
    f.blocks.back().loopEnd = AddArgument(1, 1, 0, "");
    f.loopDepth++;
    return true;
  }
  if (word == "endloop") {
    if (!bare) return Fail("unexpected text after endloop");
    if (!f.blocks.empty() && f.blocks.back().isLoop) {
      SetPosition(f.blocks.back().loopEnd, NextPosition());
      f.blocks.pop_back();
      f.loopDepth--;
    }
    AddCommand(CMD_LOOP_END);
    return true;
  }
  if (word == "break") return OptionalCount(CMD_BREAK_LOOP, t, at);
  if (word == "continue") return OptionalCount(CMD_CONTINUE_LOOP, t, at);
  if (word == "breakblock") return OptionalCount(CMD_BREAK_BLOCK, t, at);
  if (word == "repeatblock") return OptionalCount(CMD_REPEAT_BLOCK, t, at);
  if (word == "jump" || word == "call") {
    std::string code;
    if (t[1].kind == Token::IDENT) {
      if (!TextLiteralFits(t[1].text, &error_)) return false;
      TextLiteral(&code, t[1].text);
      at = 2;
    } else {
      Expr e;
      if (!ParseExpr(t, &at, &e)) return false;
      code = e.code;
    }
    if (word == "jump") {
      AddCommand(CMD_JUMP);
      AddArgument(0, 3, 0, code);
      return t[at].kind == Token::END ? true : Fail("unexpected text after the jump");
    }
    AddCommand(CMD_CALL);
    AddArgument(0, 3, 0, code);
    if (IsOp(t[at], ",")) at++;
    return Values(0, 16, 32, t, at);
  }
  if (word == "messageend" && t[at].kind == Token::INT) {
    // The compiler's marks: the record's first word is mark 1, its second mark 2.
    if (!IsOp(t[at + 1], ",") || t[at + 2].kind != Token::INT || t[at + 3].kind != Token::END)
      return Fail("expected messageend MARK1, MARK2");
    uint32_t mark1 = (uint32_t)t[at].i;
    AddCommand(CMD_MESSAGE_END);
    size_t record = AddArgument((uint8_t)mark1, (uint8_t)(mark1 >> 16), (uint8_t)(mark1 >> 24), "");
    File().image.arguments[record].spare = (uint8_t)(mark1 >> 8);
    File().image.arguments[record].length = (uint32_t)t[at + 2].i;
    return true;
  }
  if (word == "return") {
    AddCommand(CMD_RETURN);
    return Values(-1, 15, 31, t, at);
  }
  // An assignment: a variable target, an operator, a value.
  if (t[0].kind == Token::VAR || (t[0].kind == Token::IDENT && vars_.count(word))) {
    at = 0;
    Expr target;
    if (!ParseExpr(t, &at, &target)) return false;
    int op = AssignOp(t[at]);
    if (op < 0) return Fail("expected an assignment operator");
    at++;
    Expr value;
    if (!ParseExpr(t, &at, &value)) return false;
    if (t[at].kind != Token::END) return Fail("unexpected text after the value");
    AddCommand(CMD_ASSIGN);
    AddArgument(0, 1, (uint8_t)op, target.code);
    uint8_t kind = target.type == T_TEXT ? KindFor(1, value.type)
                   : target.type == T_REAL ? 2
                                           : KindFor(0, value.type);
    AddArgument(1, kind, 0, value.code);
    return true;
  }
  // A name followed by an assignment or a subscript is a variable the listing never declared.
  if (t[0].kind == Token::IDENT && (AssignOp(t[1]) >= 0 || IsOp(t[1], "[")))
    return Fail("unknown variable " + word + " (declare it with global, local or dim)");
  int code = FindCommandCode(word);
  if (code < 0) return Fail(t[0].kind == Token::IDENT ? "unknown command " + word : "expected a command");
  AddCommand(code);
  const CommandSpec& command = CommandSpecs()[(size_t)code];
  while (t[at].kind == Token::IDENT) {
    int id = FindParamId(code, t[at].text);
    if (id < 0) return Fail("command " + word + " has no parameter " + t[at].text);
    int op = AssignOp(t[at + 1]);
    if (op < 0) return Fail("expected '=' after " + t[at].text);
    at += 2;
    Expr e;
    if (!ParseExpr(t, &at, &e)) return false;
    if (!RoomForArgument()) return false;
    AddArgument((uint8_t)id, KindFor(command.params[(size_t)id].valueType, e.type), (uint8_t)op, e.code);
  }
  return t[at].kind == Token::END ? true : Fail("expected param=value");
}

// The texts of the C runtime's error numbers 0-36, in its own wording, as the compiled set
// carries them for the save-data messages.
const char* const kRuntimeErrorTexts[37] = {
    "No error", "Operation not permitted", "No such file or directory", "No such process",
    "Interrupted function call", "Input/output error", "No such device or address", "Arg list too long",
    "Exec format error", "Bad file descriptor", "No child processes", "Resource temporarily unavailable",
    "Not enough space", "Permission denied", "Bad address", "Unknown error", "Resource device", "File exists",
    "Improper link", "No such device", "Not a directory", "Is a directory", "Invalid argument",
    "Too many open files in system", "Too many open files", "Inappropriate I/O control operation",
    "Unknown error", "File too large", "No space left on device", "Invalid seek", "Read-only file system",
    "Too many links", "Broken pipe", "Domain error", "Result too large", "Unknown error",
    "Resource deadlock avoided",
};

std::string ConfigText(const std::map<std::string, std::string>& c, const char* key, const std::string& def) {
  auto it = c.find(key);
  return it == c.end() ? def : it->second;
}
int32_t ConfigInt(const std::map<std::string, std::string>& c, const char* key, int32_t def) {
  auto it = c.find(key);
  return it == c.end() ? def : (int32_t)atoll(it->second.c_str());
}

void Assembler::Emit(AssembledSet* out) {
  const std::vector<CommandSpec>& specs = CommandSpecs();
  BinaryWriter kvc;
  kvc.Bytes(std::string(8, '\0'));
  kvc.U32((uint32_t)specs.size());
  kvc.U32(0);
  for (const CommandSpec& s : specs) {
    kvc.Bytes(s.name.c_str(), s.name.size() + 1);
    kvc.U8((uint8_t)s.params.size());
    for (const ParamSpec& p : s.params) {
      kvc.Bytes(p.name.c_str(), p.name.size() + 1);
      kvc.U8(p.valueType);
      kvc.U8(p.checkKind);
    }
  }
  for (const char* text : kRuntimeErrorTexts) kvc.Bytes(text, strlen(text) + 1);
  for (int k = 0; k < 256; k++) kvc.U8((uint8_t)k);
  out->files["kvbin\\kvc.kbn"] = kvc.Data();

  std::vector<MessageEntry> messages = CompleteMessageTable(messages_);
  BinaryWriter kve;
  kve.Bytes(std::string(8, '\0'));
  kve.U32((uint32_t)messages.size());
  kve.U32(0);
  for (const auto& m : messages) {
    kve.U32((uint32_t)m.first);
    kve.Bytes(m.second.c_str(), m.second.size() + 1);
  }
  out->files["kvbin\\kve.kbn"] = kve.Data();

  BinaryWriter kvt;
  kvt.U32(0);
  kvt.U32(480);
  kvt.U32((uint32_t)highestVar_);
  kvt.U32((uint32_t)ConfigInt(config_, "project", 0));
  out->files["kvbin\\kvt.kbn"] = kvt.Data();

  BinaryWriter list;
  list.Bytes(std::string(8, '\0'));
  list.U32((uint32_t)files_.size());
  for (size_t n = 0; n < files_.size(); n++) {
    list.U32((uint32_t)n);
    list.U32((uint32_t)files_[n].name.size());
    list.Bytes(files_[n].name);
    list.Bytes(std::string(16, '\0'));
    list.U32((uint32_t)(n + 1));
  }
  out->files["kvbin\\kvt_list.kbn"] = list.Data();

  // Labels are stored in order of their hash's top byte, with the first index of each byte.
  std::vector<std::pair<uint32_t, size_t>> order;
  for (size_t k = 0; k < labels_.size(); k++)
    order.push_back({MurmurHash2(labels_[k].name.data(), labels_[k].name.size(), 0), k});
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return (a.first >> 24) < (b.first >> 24); });
  BinaryWriter kvl;
  kvl.Bytes(std::string(8, '\0'));
  kvl.U32((uint32_t)labels_.size());
  for (uint32_t top = 0; top < 256; top++) {
    uint32_t first = (uint32_t)order.size();
    for (size_t k = 0; k < order.size(); k++)
      if ((order[k].first >> 24) >= top) {
        first = (uint32_t)k;
        break;
      }
    kvl.U32(first);
  }
  for (const auto& [hash, k] : order) {
    const LabelDef& l = labels_[k];
    kvl.U8((uint8_t)l.name.size());
    kvl.Bytes(l.name);
    kvl.U32(hash);
    kvl.U32((uint32_t)l.position);
    kvl.U16(l.file);
    kvl.U8(l.blockDepth);
    kvl.U8(l.loopDepth);
  }
  out->files["kvbin\\kvl.kbn"] = kvl.Data();

  BinaryWriter kvv;
  kvv.Bytes(std::string(8, '\0'));
  kvv.U16((uint16_t)definitions_.size());
  for (const Definition& d : definitions_) {
    kvv.U8(d.scope);
    kvv.U16(d.file);
    kvv.U16(d.number);
    kvv.U8(d.type);
    kvv.U8((uint8_t)d.dims.size());
    for (int32_t size : d.dims) kvv.U32((uint32_t)size);
    if (d.type == T_INT) {
      kvv.U64((uint64_t)d.intValue);
    } else if (d.type == T_REAL) {
      uint64_t bits;
      memcpy(&bits, &d.realValue, sizeof bits);
      kvv.U64(bits);
    } else {
      kvv.U16((uint16_t)d.textCode.size());
      kvv.Bytes(d.textCode);
    }
  }
  out->files["kvbin\\kvv.kbn"] = kvv.Data();

  BinaryWriter cfg;
  cfg.Bytes(std::string(16, '\0'));
  cfg.U32((uint32_t)ConfigInt(config_, "width", 640));
  cfg.U32((uint32_t)ConfigInt(config_, "height", 480));
  cfg.U32((uint32_t)ConfigInt(config_, "show", 1));
  cfg.Bytes(std::string("\x01\x02\x03\x04\x05\x00\x00\x00", 8));
  cfg.Bytes(std::string("\x01\x02\x00\x00", 4));
  cfg.U32((uint32_t)ConfigInt(config_, "gamethread", 0));
  cfg.U32((uint32_t)ConfigInt(config_, "debug", 0));
  cfg.U32((uint32_t)ConfigInt(config_, "sound", 0));
  cfg.U32((uint32_t)ConfigInt(config_, "sizing", 0));
  cfg.U32((uint32_t)ConfigInt(config_, "framed", 1));
  cfg.U32(0);
  cfg.U32((uint32_t)ConfigInt(config_, "loosefirst", 0));
  cfg.U32((uint32_t)ConfigInt(config_, "loosefirstrelease", 0));
  cfg.U32(0);
  std::string title = ConfigText(config_, "title", "KIVOR");
  cfg.U16((uint16_t)title.size());
  cfg.Bytes(title);
  out->files["kvbin\\kvcfg.kbn"] = cfg.Data();

  for (size_t n = 0; n < files_.size(); n++) {
    char name[32];
    snprintf(name, sizeof name, "kvbin\\kvt%05d.kbn", (int)n);
    out->files[name] = EncodeScriptFile(files_[n].image);
    out->scripts.push_back(files_[n].image);
  }
  for (const auto& [name, info] : vars_) out->variables[name] = info.number;
}

// The checks that need the whole listing; the system variables the listing does not define
// itself are defined here, so every game reads them.
bool Assembler::Finish() {
  for (const FileState& f : files_)
    if (!f.blocks.empty()) {
      const Block& b = f.blocks.back();
      return FailAt(b.line, b.isLoop ? "this loop is not closed (endloop missing)" : "this if is not closed (endif missing)");
    }
  if (files_.size() > MAX_COUNT16) return Fail("more than 65535 script files");
  std::set<int> defined;
  for (const Definition& d : definitions_) defined.insert(d.number);
  std::vector<Definition> system;
  for (const SystemVariableRun& run : SystemVariableRuns())
    for (int n = run.first; n <= run.last; n++)
      if (!defined.count(n)) {
        Definition d{1, 0, (uint16_t)n, run.type, {}, 0, 0, ""};
        if (run.elements > 0) d.dims.push_back(run.elements);
        system.push_back(d);
      }
  definitions_.insert(definitions_.begin(), system.begin(), system.end());
  if (definitions_.size() > MAX_COUNT16) return Fail("more than 65535 definitions");
  return true;
}

bool Assembler::Run(const std::string& listing, AssembledSet* out) {
  for (const SystemVariableRun& run : SystemVariableRuns())
    for (int n = run.first; n <= run.last; n++) numberTypes_[n] = run.type;
  std::istringstream in(listing);
  std::string text;
  bool ok = true;
  while (ok && std::getline(in, text)) {
    line_++;
    Tokens tokens;
    std::string error;
    // A file name is taken as written, up to the end of the line; "file" with parameters
    // (NAME=...) is the file command instead.
    size_t first = text.find_first_not_of(" \t");
    if (first != std::string::npos && text.compare(first, 5, "file ") == 0 && text.find('=', first) == std::string::npos) {
      size_t start = text.find_first_not_of(" \t\r", first + 5);
      FileState f;
      f.name = start == std::string::npos ? "" : text.substr(start);
      while (!f.name.empty() && (f.name.back() == ' ' || f.name.back() == '\t' || f.name.back() == '\r')) f.name.pop_back();
      if (f.name.empty()) ok = Fail("file needs a name");
      files_.push_back(f);
      continue;
    }
    if (!Tokenize(text, &tokens, &error)) ok = Fail(error);
    else ok = Line(tokens);
  }
  if (ok) ok = Finish();
  if (!ok) {
    out->error = "line " + std::to_string(line_) + ": " + error_;
    return false;
  }
  Emit(out);
  return true;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), (std::streamsize)bytes.size());
  return (bool)f;
}

}  // namespace

std::string EncodeScriptFile(const ScriptImage& image, bool scramble) {
  BinaryWriter a, b, d;
  for (const ScriptImageCommand& c : image.commands) {
    a.U8(c.code);
    a.U8(c.argCount);
    a.U8(c.callCount);
    a.U8(0);
    d.U32(c.line);
  }
  for (const ScriptImageArgument& r : image.arguments) {
    b.U8(r.paramId);
    b.U8(r.spare);
    b.U8(r.kind);
    b.U8(r.op);
    b.U32(r.length);
    b.U32(r.offset);
  }
  std::string segments[4] = {a.Data(), b.Data(), image.expressions, d.Data()};
  uint8_t key[4];
  ComputeScriptKey(key);
  BinaryWriter out;
  out.Bytes(std::string(8, '\0'));
  out.U32((uint32_t)image.commands.size());
  for (const std::string& s : segments) out.U32((uint32_t)s.size());
  out.U32(0);
  for (std::string s : segments) {
    if (scramble)
      for (size_t i = 0; i < s.size(); i++) s[i] = (char)(s[i] ^ key[i & 3]);
    out.Bytes(s);
  }
  return out.Data();
}

bool AssembleListing(const std::string& listing, AssembledSet* out) {
  Assembler a;
  return a.Run(listing, out);
}

bool CompileExpression(const std::string& text, std::string* code, std::string* error) {
  Tokens tokens;
  if (!Tokenize(text, &tokens, error)) return false;
  size_t at = 0;
  Expr e;
  ExprParser p(tokens, &at, nullptr, nullptr);
  if (!p.Parse(&e, error)) return false;
  if (tokens[at].kind != Token::END) {
    *error = "unexpected text after the expression";
    return false;
  }
  *code = e.code;
  return true;
}

bool WriteLooseSet(const std::string& folder, const AssembledSet& set) {
  for (const auto& [name, bytes] : set.files) {
    std::string path = name;
    for (char& c : path)
      if (c == '\\') c = '/';
    if (!WriteFile(std::filesystem::path(folder) / path, bytes)) return false;
  }
  return true;
}

bool WritePackedSet(const std::string& folder, const AssembledSet& set, const std::string& packName) {
  std::vector<PackWriterFile> files;
  for (const auto& [name, bytes] : set.files) {
    PackWriterFile f;
    f.name = name;
    f.bytes = bytes;
    files.push_back(f);
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::string error;
  return WritePackFile((std::filesystem::path(folder) / packName).string(), files, PackWriterOptions{}, &error);
}
