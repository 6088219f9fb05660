// The script assembler: listing lines to commands with postfix expressions, block and loop
// positions resolved, labels and variables numbered, and every file of the compiled set written.
#include "tools/lib/assembler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/format_keys.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/command_defs.h"
#include "tools/lib/pack_writer.h"

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

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (uint8_t)c >= 0x80; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

// Splits one line into tokens; false with `error` set on a bad character or text.
bool Tokenize(const std::string& line, std::vector<Token>* out, std::string* error) {
  static const char* const kOps[] = {"||", "&&", "==", "!=", "<=", ">=", "+=", "-=", "*=", "/=", "%=", "&=", "|=",
                                     "^=", "<",  ">",  "+",  "-",  "*",  "/",  "%",  "&",  "|",  "^",  "(",  ")",
                                     "[",  "]",  ",",  "=",  "@"};
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
        t.i = (int64_t)strtoull(line.substr(start + 2, k - start - 2).c_str(), nullptr, 16);
      } else {
        while (k < line.size() && ((line[k] >= '0' && line[k] <= '9') || line[k] == '.')) k++;
        std::string n = line.substr(start, k - start);
        if (n.find('.') != std::string::npos) {
          t.kind = Token::REAL;
          t.r = strtod(n.c_str(), nullptr);
        } else {
          t.kind = Token::INT;
          t.i = (int64_t)strtoull(n.c_str(), nullptr, 10);
        }
      }
      out->push_back(t);
      continue;
    }
    if (c == '"') {
      size_t end = k + 1;
      while (end < line.size() && line[end] != '"') end += line[end] == '\\' && end + 1 < line.size() ? 2 : 1;
      if (end >= line.size()) {
        *error = "unterminated text";
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
      t.i = atoll(line.substr(start, k - start).c_str());
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
      *error = std::string("unexpected character '") + c + "'";
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

void TextLiteral(std::string* code, const std::string& text) {
  char delimiter = '"';
  for (char c : std::string("\"'`~|\x01"))
    if (text.find(c) == std::string::npos) {
      delimiter = c;
      break;
    }
  Item(code, 'M', std::string(1, delimiter) + text + delimiter);
}

// Expressions over a token list, by precedence climbing.
class ExprParser {
 public:
  ExprParser(const std::vector<Token>& tokens, size_t* at, const std::map<std::string, VarInfo>* vars)
      : t_(tokens), at_(*at), vars_(vars) {}
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

  bool Binary(int minPrecedence, Expr* out) {
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
    if (IsOp("-")) {
      at_++;
      if (!Unary(out)) return false;
      Item(&out->code, 'R');
      return true;
    }
    return Primary(out);
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
        TextLiteral(&out->code, tok.text);
        out->type = T_TEXT;
        return true;
      case Token::VAR:
        return Variable((int)tok.i, T_INT, out);
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

  const std::vector<Token>& t_;
  size_t& at_;
  const std::map<std::string, VarInfo>* vars_;
  std::string error_;
};

struct Block {
  bool isLoop;
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

class Assembler {
 public:
  bool Run(const std::string& listing, AssembledSet* out);

 private:
  bool Line(const std::vector<Token>& t);
  bool Fail(const std::string& e) {
    error_ = e;
    return false;
  }
  FileState& File() { return files_.back(); }
  bool ParseExpr(const std::vector<Token>& t, size_t* at, Expr* e) {
    std::string error;
    ExprParser p(t, at, &vars_);
    if (!p.Parse(e, &error)) return Fail(error);
    return true;
  }
  // Appends one argument record with its expression; returns its index.
  size_t AddArgument(uint8_t param, uint8_t kind, uint8_t op, const std::string& code) {
    ScriptImage& img = File().image;
    img.arguments.push_back({param, kind, op, (uint32_t)code.size(), (uint32_t)img.expressions.size()});
    img.expressions += code;
    img.commands.back().argCount++;
    return img.arguments.size() - 1;
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
  bool Declare(const std::vector<Token>& t, size_t at, bool command, uint8_t scope);
  bool OptionalCount(int code, const std::vector<Token>& t, size_t at);
  bool Values(int intBase, int realBase, int textBase, const std::vector<Token>& t, size_t at);
  bool NeedFile() { return files_.empty() ? Fail("no file started") : true; }
  void Emit(AssembledSet* out);

  std::map<std::string, VarInfo> vars_;
  int nextVar_ = 1000;
  int highestVar_ = 999;
  std::vector<FileState> files_;
  std::vector<LabelDef> labels_;
  std::vector<Definition> definitions_;
  std::vector<std::pair<int32_t, std::string>> messages_;
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

bool Assembler::Declare(const std::vector<Token>& t, size_t at, bool command, uint8_t scope) {
  uint8_t type = TypeByName(t[at].text);
  if (!type || t[at + 1].kind != Token::IDENT) return Fail("expected a type and a name");
  std::string name = t[at + 1].text;
  size_t nameAt = at + 1;
  at += 2;
  int number = -1;
  if (t[at].kind == Token::OP && t[at].text == "@" && t[at + 1].kind == Token::INT) {
    number = (int)t[at + 1].i;
    at += 2;
  }
  if (number < 0) number = vars_.count(name) ? vars_[name].number : nextVar_++;
  if (number > highestVar_) highestVar_ = number;
  vars_[name] = {number, type};
  if (command) {
    // The name expression: the variable, with its sizes as subscripts.
    at = nameAt;
    Expr target;
    if (!ParseExpr(t, &at, &target)) return false;
    int code = type == T_INT ? CMD_DECLARE_INT : type == T_REAL ? CMD_DECLARE_REAL : CMD_DECLARE_STRING;
    AddCommand(code);
    AddArgument(0, 1, 0, target.code);
    if (t[at].kind == Token::OP && t[at].text == "=") {
      at++;
      Expr value;
      if (!ParseExpr(t, &at, &value)) return false;
      AddArgument(1, KindFor(type == T_TEXT ? 1 : 0, value.type), 0, value.code);
    }
    return t[at].kind == Token::END ? true : Fail("unexpected text after the declaration");
  }
  Definition d{scope, (uint16_t)(files_.empty() ? 0 : files_.size() - 1), (uint16_t)number, type, {}, 0, 0, ""};
  if (t[at].kind == Token::OP && t[at].text == "[") {
    for (at++; !(t[at].kind == Token::OP && t[at].text == "]"); at++) {
      if (t[at].kind == Token::INT) d.dims.push_back((int32_t)t[at].i);
      else if (!(t[at].kind == Token::OP && t[at].text == ",")) return Fail("array sizes must be numbers");
    }
    at++;
  }
  if (t[at].kind == Token::OP && t[at].text == "=") {
    at++;
    if (type == T_TEXT) {
      Expr value;
      if (!ParseExpr(t, &at, &value)) return false;
      d.textCode = value.code;
    } else {
      bool negative = t[at].kind == Token::OP && t[at].text == "-";
      const Token& lit = t[negative ? at + 1 : at];
      if (lit.kind != Token::INT && lit.kind != Token::REAL) return Fail("a defined number needs a literal value");
      double r = lit.kind == Token::REAL ? lit.r : (double)lit.i;
      int64_t i = lit.kind == Token::INT ? lit.i : (int64_t)lit.r;
      d.intValue = negative ? -i : i;
      d.realValue = negative ? -r : r;
    }
  }
  definitions_.push_back(d);
  return true;
}

bool Assembler::OptionalCount(int code, const std::vector<Token>& t, size_t at) {
  AddCommand(code);
  if (t[at].kind == Token::END) return true;
  Expr e;
  if (!ParseExpr(t, &at, &e)) return false;
  AddArgument(0, KindFor(0, e.type), 0, e.code);
  return true;
}

bool Assembler::Values(int intBase, int realBase, int textBase, const std::vector<Token>& t, size_t at) {
  int k = 0;
  while (t[at].kind != Token::END) {
    if (k > 0) {
      if (!(t[at].kind == Token::OP && t[at].text == ",")) return Fail("expected ','");
      at++;
    }
    k++;
    Expr e;
    if (!ParseExpr(t, &at, &e)) return false;
    if (e.type == T_TEXT) AddArgument((uint8_t)(textBase + k), 3, 0, e.code);
    else if (e.type == T_REAL) AddArgument((uint8_t)(realBase + k), 2, 0, e.code);
    else AddArgument((uint8_t)(intBase + k), 1, 0, e.code);
  }
  File().image.commands.back().callCount = (uint8_t)k;
  return true;
}

bool Assembler::Line(const std::vector<Token>& t) {
  if (t[0].kind == Token::END) return true;
  const std::string& word = t[0].kind == Token::IDENT ? t[0].text : "";
  size_t at = 1;
  if (t[0].kind == Token::OP && t[0].text == "*" && t[1].kind == Token::IDENT) {
    if (!NeedFile()) return false;
    labels_.push_back({t[1].text, (int32_t)NextPosition(), (uint16_t)(files_.size() - 1), (uint8_t)File().blockDepth,
                       (uint8_t)File().loopDepth});
    return true;
  }
  if (word == "config") {
    for (; t[at].kind == Token::IDENT; at += 3) {
      if (!(t[at + 1].kind == Token::OP && t[at + 1].text == "=")) return Fail("expected key=value");
      const Token& v = t[at + 2];
      config_[t[at].text] = v.kind == Token::TEXT ? v.text : std::to_string(v.i);
    }
    return true;
  }
  if (word == "message") {
    if (t[1].kind != Token::INT || t[2].kind != Token::TEXT) return Fail("message ID \"text\"");
    messages_.push_back({(int32_t)t[1].i, t[2].text});
    return true;
  }
  if (word == "global") return Declare(t, 1, false, 1);
  if (!NeedFile()) return false;
  if (word == "local") return Declare(t, 1, false, 2);
  if (word == "text") {
    // A message line: its bytes are stored as they are, for the message command to copy.
    if (t[1].kind != Token::TEXT || t[2].kind != Token::END) return Fail("text \"literal\"");
    AddCommand(CMD_MESSAGE_TEXT);
    AddArgument(0, 3, 0, t[1].text);
    return true;
  }
  if (word == "dim") return Declare(t, 1, true, 0);
  FileState& f = File();
  if (word == "if" || word == "elseif") {
    Expr cond;
    if (!ParseExpr(t, &at, &cond)) return false;
    if (word == "if") {
      AddCommand(CMD_IF);
      AddArgument(0, 1, 0, cond.code);
      Block b{false};
      b.nextAlternative = (int64_t)AddArgument(1, 1, 0, "");
      b.ends.push_back(AddArgument(2, 1, 0, ""));
      f.blocks.push_back(b);
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
  if (word == "else") {
    if (f.blocks.empty() || f.blocks.back().isLoop) {
      AddCommand(CMD_ELSE);
      return true;
    }
    AddCommand(CMD_ELSE);
    Block& b = f.blocks.back();
    if (b.nextAlternative >= 0) SetPosition((size_t)b.nextAlternative, NextPosition());
    b.nextAlternative = -1;
    return true;
  }
  if (word == "endif") {
    if (f.blocks.empty() || f.blocks.back().isLoop) {
      AddCommand(CMD_END_IF);
      return true;
    }
    for (size_t a : f.blocks.back().ends) SetPosition(a, NextPosition());
    f.blocks.pop_back();
    f.blockDepth--;
    AddCommand(CMD_END_IF);
    return true;
  }
  if (word == "loop") {
    Expr count;
    if (!ParseExpr(t, &at, &count)) return false;
    AddCommand(CMD_LOOP);
    AddArgument(0, KindFor(0, count.type), 0, count.code);
    Block b{true};
    b.loopEnd = AddArgument(1, 1, 0, "");
    f.blocks.push_back(b);
    f.loopDepth++;
    return true;
  }
  if (word == "endloop") {
    if (f.blocks.empty() || !f.blocks.back().isLoop) {
      AddCommand(CMD_LOOP_END);
      return true;
    }
    SetPosition(f.blocks.back().loopEnd, NextPosition());
    f.blocks.pop_back();
    f.loopDepth--;
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
    if (t[at].kind == Token::OP && t[at].text == ",") at++;
    return Values(0, 16, 32, t, at);
  }
  if (word == "messageend" && t[at].kind == Token::INT) {
    // The compiler's marks: the record's first word is mark 1, its second mark 2.
    if (t[at + 1].kind != Token::OP || t[at + 1].text != "," || t[at + 2].kind != Token::INT ||
        t[at + 3].kind != Token::END)
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
    static const char* const kAssignOps[] = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="};
    int op = -1;
    for (int k = 0; k < 9; k++)
      if (t[at].kind == Token::OP && t[at].text == kAssignOps[k]) op = k;
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
  int code = FindCommandCode(word);
  if (code < 0) return Fail("unknown command " + word);
  AddCommand(code);
  const CommandSpec& command = CommandSpecs()[(size_t)code];
  while (t[at].kind == Token::IDENT) {
    int id = FindParamId(code, t[at].text);
    if (id < 0) return Fail("command " + word + " has no parameter " + t[at].text);
    static const char* const kOps[] = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="};
    int op = -1;
    for (int k = 0; k < 9; k++)
      if (t[at + 1].kind == Token::OP && t[at + 1].text == kOps[k]) op = k;
    if (op < 0) return Fail("expected '=' after " + t[at].text);
    at += 2;
    Expr e;
    if (!ParseExpr(t, &at, &e)) return false;
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

  BinaryWriter kve;
  kve.Bytes(std::string(8, '\0'));
  kve.U32((uint32_t)messages_.size());
  kve.U32(0);
  for (const auto& m : messages_) {
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

bool Assembler::Run(const std::string& listing, AssembledSet* out) {
  std::istringstream in(listing);
  std::string text;
  while (std::getline(in, text)) {
    line_++;
    std::vector<Token> tokens;
    std::string error;
    // A file name is taken as written, up to the end of the line; "file" with parameters
    // (NAME=...) is the file command instead.
    size_t first = text.find_first_not_of(" \t");
    if (first != std::string::npos && text.compare(first, 5, "file ") == 0 && text.find('=', first) == std::string::npos) {
      FileState f;
      f.name = text.substr(text.find_first_not_of(" \t", first + 5));
      while (!f.name.empty() && (f.name.back() == ' ' || f.name.back() == '\r')) f.name.pop_back();
      files_.push_back(f);
      continue;
    }
    if (!Tokenize(text, &tokens, &error) || !Line(tokens)) {
      out->error = "line " + std::to_string(line_) + ": " + (error.empty() ? error_ : error);
      return false;
    }
  }
  for (const FileState& f : files_)
    if (!f.blocks.empty()) {
      out->error = "file " + f.name + ": a block or loop is not closed";
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
  std::vector<Token> tokens;
  if (!Tokenize(text, &tokens, error)) return false;
  size_t at = 0;
  Expr e;
  ExprParser p(tokens, &at, nullptr);
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
