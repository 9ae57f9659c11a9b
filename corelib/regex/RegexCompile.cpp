// Pattern to node program. The same parser runs twice: a sizing pass that
// emits nothing and finds every syntax error, then the emitting pass into a
// block of exactly the counted size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "RegexEngine.h"
#include "RegexNodes.h"

namespace {

const char kMetaCharacters[] = "^$.[()|?+*\\";

// Properties of a parsed item.
enum {
  kHasWidth = 1,         // never matches the empty string
  kSimple = 2,           // always exactly one character: a repeat operand
  kStartsWithRepeat = 4  // begins with * or ?: worth a must-substring
};

bool IsQuantifier(unsigned char c) { return c == '*' || c == '+' || c == '?'; }

class Compiler {
public:
  // code == nullptr: the sizing pass.
  Compiler(const char *pattern, unsigned char *code, int capacity)
      : p_(reinterpret_cast<const unsigned char *>(pattern)), code_(code), capacity_(capacity) {}

  const char *error() const { return error_; }
  // Bytes counted or emitted so far, the check byte included. 64 bits, so an
  // enormous pattern cannot wrap the count before it is refused.
  uint64_t size() const { return size_; }

  void CheckByte() { Byte(kRegexCheckByte); }

  // The whole pattern, or the inside of a group.
  int Pattern(bool group, int *flags) {
    *flags = kHasWidth;
    int start = 0;
    int number = 0;
    if (group) {
      if (groups_ >= kRegexMaxGroups)
        return Fail("too many ()");
      number = ++groups_;
      start = Node(static_cast<unsigned char>(RX_GROUP_OPEN + number));
    }
    int branchFlags;
    int branch = Branch(&branchFlags);
    if (error_)
      return 0;
    if (group)
      Tail(start, branch);
    else
      start = branch;
    Merge(flags, branchFlags);
    while (*p_ == '|') {
      ++p_;
      branch = Branch(&branchFlags);
      if (error_)
        return 0;
      Tail(start, branch);
      Merge(flags, branchFlags);
    }
    int closing = Node(static_cast<unsigned char>(group ? RX_GROUP_CLOSE + number : RX_END));
    Tail(start, closing);
    for (int node = start; node != 0; node = Next(node))
      OperandTail(node, closing);
    if (group) {
      if (*p_ != ')')
        return Fail("unmatched ()");
      ++p_;
    } else if (*p_ != '\0') {
      return Fail(*p_ == ')' ? "unmatched ()" : "junk on end");
    }
    return start;
  }

private:
  static void Merge(int *flags, int branchFlags) {
    if (!(branchFlags & kHasWidth))
      *flags &= ~kHasWidth;
    *flags |= branchFlags & kStartsWithRepeat;
  }

  int Branch(int *flags) {
    *flags = 0;
    int branch = Node(RX_ALTERNATIVE);
    int previous = 0;
    bool anyPiece = false;
    while (*p_ != '\0' && *p_ != '|' && *p_ != ')') {
      int pieceFlags;
      int piece = Piece(&pieceFlags);
      if (error_)
        return 0;
      *flags |= pieceFlags & kHasWidth;
      if (!anyPiece)
        *flags |= pieceFlags & kStartsWithRepeat;
      else
        Tail(previous, piece);
      previous = piece;
      anyPiece = true;
    }
    if (!anyPiece)
      Node(RX_EMPTY);
    return branch;
  }

  int Piece(int *flags) {
    int atomFlags;
    int atom = Atom(&atomFlags);
    if (error_)
      return 0;
    unsigned char quantifier = *p_;
    if (!IsQuantifier(quantifier)) {
      *flags = atomFlags;
      return atom;
    }
    if (!(atomFlags & kHasWidth) && quantifier != '?')
      return Fail("*+ operand could be empty");
    *flags = quantifier == '+' ? kHasWidth : kStartsWithRepeat;
    bool simple = (atomFlags & kSimple) != 0;
    if (quantifier == '*' && simple) {
      Insert(RX_REPEAT0, atom);
    } else if (quantifier == '*') {
      // Either the item and back to this choice, or nothing.
      Insert(RX_ALTERNATIVE, atom);
      OperandTail(atom, Node(RX_LOOP_BACK));
      OperandTail(atom, atom);
      Tail(atom, Node(RX_ALTERNATIVE));
      Tail(atom, Node(RX_EMPTY));
    } else if (quantifier == '+' && simple) {
      Insert(RX_REPEAT1, atom);
    } else if (quantifier == '+') {
      // The item, then either back to it or nothing.
      int again = Node(RX_ALTERNATIVE);
      Tail(atom, again);
      Tail(Node(RX_LOOP_BACK), atom);
      Tail(again, Node(RX_ALTERNATIVE));
      Tail(atom, Node(RX_EMPTY));
    } else {
      // Either the item or nothing.
      Insert(RX_ALTERNATIVE, atom);
      Tail(atom, Node(RX_ALTERNATIVE));
      int nothing = Node(RX_EMPTY);
      Tail(atom, nothing);
      OperandTail(atom, nothing);
    }
    ++p_;
    if (IsQuantifier(*p_))
      return Fail("nested *?+");
    return atom;
  }

  int Atom(int *flags) {
    *flags = 0;
    switch (*p_) {
    case '^':
      ++p_;
      return Node(RX_AT_START);
    case '$':
      ++p_;
      return Node(RX_AT_END);
    case '.':
      ++p_;
      *flags = kHasWidth | kSimple;
      return Node(RX_ANY_CHAR);
    case '[':
      ++p_;
      return Set(flags);
    case '(': {
      ++p_;
      int inner;
      int group = Pattern(true, &inner);
      if (error_)
        return 0;
      *flags = inner & (kHasWidth | kStartsWithRepeat);
      return group;
    }
    case '\0':
    case '|':
    case ')':
      return Fail("internal urp");
    case '?':
    case '+':
    case '*':
      return Fail("?+* follows nothing");
    case '\\': {
      ++p_;
      if (*p_ == '\0')
        return Fail("trailing \\");
      int node = Node(RX_LITERAL);
      Byte(*p_++);
      Byte(0);
      *flags = kHasWidth | kSimple;
      return node;
    }
    default:
      return Run(flags);
    }
  }

  // A run of ordinary characters. Its last character stands alone when a
  // quantifier follows, so that "abc*" repeats only the c.
  int Run(int *flags) {
    size_t length = strcspn(reinterpret_cast<const char *>(p_), kMetaCharacters);
    if (length == 0)
      return Fail("internal disaster");
    if (length > 1 && IsQuantifier(p_[length]))
      --length;
    int node = Node(RX_LITERAL);
    for (size_t i = 0; i < length; ++i)
      Byte(*p_++);
    Byte(0);
    *flags = kHasWidth | (length == 1 ? kSimple : 0);
    return node;
  }

  // Members in the order written, ranges expanded, duplicates kept.
  int Set(int *flags) {
    int node;
    if (*p_ == '^') {
      node = Node(RX_NOT_IN_SET);
      ++p_;
    } else {
      node = Node(RX_IN_SET);
    }
    if (*p_ == ']' || *p_ == '-')
      Byte(*p_++);
    while (*p_ != '\0' && *p_ != ']') {
      if (*p_ != '-') {
        Byte(*p_++);
        continue;
      }
      ++p_;
      if (*p_ == ']' || *p_ == '\0') {
        Byte('-');
        continue;
      }
      // The character before the '-' is already a member.
      int from = p_[-2];
      int to = *p_;
      if (from > to)
        return Fail("invalid [] range");
      for (int c = from + 1; c <= to; ++c)
        Byte(static_cast<unsigned char>(c));
      ++p_;
    }
    Byte(0);
    if (*p_ != ']')
      return Fail("unmatched []");
    ++p_;
    *flags = kHasWidth | kSimple;
    return node;
  }

  int Fail(const char *text) {
    if (!error_)
      error_ = text;
    return 0;
  }

  // Emitting: writes stay inside the block even if the passes disagreed;
  // the caller refuses the program then.
  void Byte(unsigned char value) {
    if (code_ && size_ < static_cast<uint64_t>(capacity_))
      code_[size_] = value;
    ++size_;
  }

  // A fresh header (link 0) at the end; its offset, or 0 when sizing.
  int Node(unsigned char opcode) {
    int at = static_cast<int>(size_);
    Byte(opcode);
    Byte(0);
    Byte(0);
    return code_ ? at : 0;
  }

  // Moves everything from `at` to the end up by one header and writes a
  // fresh header at `at`.
  void Insert(unsigned char opcode, int at) {
    size_ += kRegexNodeHeader;
    if (!code_ || size_ > static_cast<uint64_t>(capacity_))
      return;
    int end = static_cast<int>(size_) - kRegexNodeHeader;
    memmove(code_ + at + kRegexNodeHeader, code_ + at, static_cast<size_t>(end - at));
    code_[at] = opcode;
    code_[at + 1] = 0;
    code_[at + 2] = 0;
  }

  int Next(int node) const { return code_ ? RegexNext(code_, node) : 0; }

  // Links the last node of the chain that starts at `node` to `target`.
  void Tail(int node, int target) {
    if (!code_ || node == 0 || size_ > static_cast<uint64_t>(capacity_))
      return;
    int last = node;
    for (int next = Next(last); next != 0; next = Next(next))
      last = next;
    int distance = code_[last] == RX_LOOP_BACK ? last - target : target - last;
    code_[last + 1] = static_cast<unsigned char>((distance >> 8) & 0xFF);
    code_[last + 2] = static_cast<unsigned char>(distance & 0xFF);
  }

  // Links the end of an alternative's operand chain to `target`.
  void OperandTail(int node, int target) {
    if (!code_ || node == 0 || code_[node] != RX_ALTERNATIVE)
      return;
    Tail(RegexOperand(node), target);
  }

  const unsigned char *p_;
  unsigned char *code_;
  int capacity_;
  uint64_t size_ = 0;
  int groups_ = 0;
  const char *error_ = nullptr;
};

// Spares attempts that cannot succeed: a required first character, the
// anchor, and the longest literal of a pattern that starts with repetition.
void FillHints(RegexProgram *program, int flags) {
  const unsigned char *code = RegexProgramCode(program);
  const int first = 1;
  int next = RegexNext(code, first);
  if (next == 0 || code[next] != RX_END)
    return;
  int node = RegexOperand(first);
  if (code[node] == RX_LITERAL)
    program->firstChar = code[RegexOperand(node)];
  else if (code[node] == RX_AT_START)
    program->anchored = 1;
  if (!(flags & kStartsWithRepeat))
    return;
  const char *longest = nullptr;
  size_t longestLength = 0;
  for (; node != 0; node = RegexNext(code, node)) {
    if (code[node] != RX_LITERAL)
      continue;
    const char *text = reinterpret_cast<const char *>(code + RegexOperand(node));
    size_t length = strlen(text);
    if (length >= longestLength) {
      longest = text;
      longestLength = length;
    }
  }
  program->must = longest;
  program->mustLength = static_cast<int>(longestLength);
}

} // namespace

RegexProgram *RegexCompile(const char *pattern) {
  if (!pattern) {
    RegexReport("NULL argument");
    return nullptr;
  }
  int flags;
  Compiler sizing(pattern, nullptr, 0);
  sizing.CheckByte();
  sizing.Pattern(false, &flags);
  if (sizing.error()) {
    RegexReport(sizing.error());
    return nullptr;
  }
  if (sizing.size() >= static_cast<uint64_t>(kRegexProgramLimit)) {
    RegexReport("regexp too big");
    return nullptr;
  }
  int size = static_cast<int>(sizing.size());
  RegexProgram *program = static_cast<RegexProgram *>(malloc(sizeof(RegexProgram) + static_cast<size_t>(size)));
  if (!program) {
    RegexReport("out of space");
    return nullptr;
  }
  for (int i = 0; i < 10; ++i) {
    program->start[i] = nullptr;
    program->end[i] = nullptr;
  }
  program->firstChar = 0;
  program->anchored = 0;
  program->must = nullptr;
  program->mustLength = 0;
  program->programSize = size;

  Compiler emitting(pattern, RegexProgramCode(program), size);
  emitting.CheckByte();
  emitting.Pattern(false, &flags);
  if (emitting.error() || emitting.size() != static_cast<uint64_t>(size)) {
    free(program);
    RegexReport(emitting.error() ? emitting.error() : "internal disaster");
    return nullptr;
  }
  FillHints(program, flags);
  return program;
}
