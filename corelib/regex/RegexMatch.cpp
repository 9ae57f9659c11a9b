// Searching a subject with a node program.
//
// Backtracking keeps its choice points on the heap rather than on the
// thread's stack, so a long subject cannot exhaust the stack of the script
// thread that searches. Group positions along the path taken are kept in a
// trail and written, innermost last-visited first, only when the whole match
// succeeds: a group inside a loop reports its last iteration.
//
// A search has a budget of work so that a pathological pattern such as
// "(a+)+b" against a long run of a's ends with a clear failure instead of
// running for years; ordinary searches of window texts stay far below it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "RegexEngine.h"
#include "RegexNodes.h"

namespace {

// The fuzz build lowers the base budget so that its time goes to many inputs
// rather than to running out the budget of each pathological one.
#ifndef QM_REGEX_BASE_WORK
#define QM_REGEX_BASE_WORK (1u << 24)
#endif
const uint64_t kBaseWork = QM_REGEX_BASE_WORK;
const uint64_t kWorkPerSubjectByte = 64;
const size_t kMaxStackEntries = 1u << 20;

// An alternative still to try (count < 0), or a repeat that can still give
// back characters (node is the repeat, pos its start, count its current
// length).
struct Choice {
  int node;
  ptrdiff_t count;
  const unsigned char *pos;
  size_t trail;
};

// A group node passed on the current path.
struct Mark {
  unsigned char opcode;
  const unsigned char *pos;
};

// A stack that starts in place and moves to the heap when it grows.
template <typename T, size_t Local>
class Stack {
public:
  Stack() = default;
  Stack(const Stack &) = delete;
  Stack &operator=(const Stack &) = delete;
  ~Stack() {
    if (items_ != local_)
      free(items_);
  }

  // nullptr, or the failure text.
  const char *Push(const T &item) {
    if (size_ == capacity_) {
      if (capacity_ >= kMaxStackEntries)
        return "backtrack stack full";
      size_t capacity = capacity_ * 2;
      T *items = static_cast<T *>(malloc(capacity * sizeof(T)));
      if (!items)
        return "out of space";
      memcpy(items, items_, size_ * sizeof(T));
      if (items_ != local_)
        free(items_);
      items_ = items;
      capacity_ = capacity;
    }
    items_[size_++] = item;
    return nullptr;
  }
  T &Top() { return items_[size_ - 1]; }
  void Pop() { --size_; }
  bool Empty() const { return size_ == 0; }
  size_t Size() const { return size_; }
  void Truncate(size_t size) { size_ = size; }
  const T &operator[](size_t i) const { return items_[i]; }

private:
  T local_[Local];
  T *items_ = local_;
  size_t size_ = 0;
  size_t capacity_ = Local;
};

enum Outcome { kNoMatch = 0, kMatch = 1, kAbandoned = -1 };

class Matcher {
public:
  Matcher(RegexProgram *program, const unsigned char *subject, size_t subjectLength)
      : program_(program), code_(RegexProgramCode(program)), size_(program->programSize),
        subject_(subject), budget_(kBaseWork + kWorkPerSubjectByte * static_cast<uint64_t>(subjectLength)) {}

  // One attempt at `at`: the program must match starting there.
  // Every attempt starts from empty slots; since only a successful attempt
  // writes them, and that ends the search, clearing them once is enough.
  Outcome Attempt(const unsigned char *at) {
    if (!slotsCleared_) {
      for (int i = 0; i < 10; ++i) {
        program_->start[i] = nullptr;
        program_->end[i] = nullptr;
      }
      slotsCleared_ = true;
    }
    choices_.Truncate(0);
    trail_.Truncate(0);
    const unsigned char *pos = at;
    int node = 1;
    for (;;) {
      if (++work_ > budget_)
        return Abandon("step limit reached");
      bool ok = Step(node, pos);
      if (abandoned_)
        return kAbandoned;
      if (ok && node < 0) {
        Succeed(at, pos);
        return kMatch;
      }
      if (!ok && !Backtrack(node, pos))
        return abandoned_ ? kAbandoned : kNoMatch;
    }
  }

private:
  bool Valid(int node) const { return node >= 1 && node + kRegexNodeHeader <= size_; }

  const char *Operand(int node) const { return reinterpret_cast<const char *>(code_ + RegexOperand(node)); }

  // Runs the node at `node`; on success moves `node` to what comes next
  // (-1 after RX_END). False means this path fails here.
  bool Step(int &node, const unsigned char *&pos) {
    if (!Valid(node)) {
      RegexReport("corrupted pointers");
      return false;
    }
    unsigned char opcode = code_[node];
    int next = RegexNext(code_, node);
    switch (opcode) {
    case RX_END:
      node = -1;
      return true;
    case RX_AT_START:
      if (pos != subject_)
        return false;
      break;
    case RX_AT_END:
      if (*pos != '\0')
        return false;
      break;
    case RX_ANY_CHAR:
      if (*pos == '\0')
        return false;
      ++pos;
      break;
    case RX_LITERAL: {
      const char *text = Operand(node);
      if (static_cast<unsigned char>(text[0]) != *pos)
        return false;
      size_t length = strlen(text);
      if (length > 1 && strncmp(text, reinterpret_cast<const char *>(pos), length) != 0)
        return false;
      pos += length;
      break;
    }
    case RX_IN_SET:
    case RX_NOT_IN_SET:
      if (*pos == '\0' || InSet(node, *pos) != (opcode == RX_IN_SET))
        return false;
      ++pos;
      break;
    case RX_EMPTY:
    case RX_LOOP_BACK:
      break;
    case RX_ALTERNATIVE:
      if (IsAlternative(next) && !Push(Choice{next, -1, pos, trail_.Size()}))
        return false;
      next = RegexOperand(node);
      break;
    case RX_REPEAT0:
    case RX_REPEAT1: {
      ptrdiff_t minimum = opcode == RX_REPEAT1 ? 1 : 0;
      ptrdiff_t count = Count(RegexOperand(node), pos);
      count = BackOff(next, pos, count, minimum);
      if (count < minimum)
        return false;
      if (count > minimum && !Push(Choice{node, count, pos, trail_.Size()}))
        return false;
      pos += count;
      break;
    }
    default:
      if ((opcode > RX_GROUP_OPEN && opcode <= RX_GROUP_OPEN + kRegexMaxGroups) ||
          (opcode > RX_GROUP_CLOSE && opcode <= RX_GROUP_CLOSE + kRegexMaxGroups)) {
        if (const char *failure = trail_.Push(Mark{opcode, pos})) {
          Abandon(failure);
          return false;
        }
        break;
      }
      RegexReport("memory corruption");
      return false;
    }
    node = next;
    return true;
  }

  // Resumes at the most recent choice point that still has a way to go.
  bool Backtrack(int &node, const unsigned char *&pos) {
    while (!choices_.Empty()) {
      if (++work_ > budget_) {
        Abandon("step limit reached");
        return false;
      }
      Choice &choice = choices_.Top();
      trail_.Truncate(choice.trail);
      if (choice.count < 0) {
        int alternative = choice.node;
        pos = choice.pos;
        int following = RegexNext(code_, alternative);
        if (IsAlternative(following))
          choice.node = following;
        else
          choices_.Pop();
        node = RegexOperand(alternative);
        return true;
      }
      int repeat = choice.node;
      int next = RegexNext(code_, repeat);
      ptrdiff_t minimum = code_[repeat] == RX_REPEAT1 ? 1 : 0;
      ptrdiff_t count = BackOff(next, choice.pos, choice.count - 1, minimum);
      if (count < minimum) {
        choices_.Pop();
        continue;
      }
      pos = choice.pos + count;
      if (count > minimum)
        choice.count = count;
      else
        choices_.Pop();
      node = next;
      return true;
    }
    return false;
  }

  // Sets are short; a plain loop beats a library call per character.
  bool InSet(int node, unsigned char c) const {
    for (const unsigned char *member = code_ + RegexOperand(node); *member != '\0'; ++member)
      if (*member == c)
        return true;
    return false;
  }

  bool IsAlternative(int node) const { return Valid(node) && code_[node] == RX_ALTERNATIVE; }

  // How often the one-character operand matches from `from`, greedily.
  ptrdiff_t Count(int operand, const unsigned char *from) {
    const unsigned char *scan = from;
    if (!Valid(operand)) {
      RegexReport("internal foulup");
      return 0;
    }
    switch (code_[operand]) {
    case RX_ANY_CHAR:
      scan += strlen(reinterpret_cast<const char *>(from));
      break;
    case RX_LITERAL: {
      unsigned char c = code_[RegexOperand(operand)];
      if (c != '\0')
        while (*scan == c)
          ++scan;
      break;
    }
    case RX_IN_SET:
      while (*scan != '\0' && InSet(operand, *scan))
        ++scan;
      break;
    case RX_NOT_IN_SET:
      while (*scan != '\0' && !InSet(operand, *scan))
        ++scan;
      break;
    default:
      RegexReport("internal foulup");
      return 0;
    }
    work_ += static_cast<uint64_t>(scan - from);
    return scan - from;
  }

  // The longest count not above `count` after which the literal that
  // follows the repeat can begin; below `minimum` when there is none.
  ptrdiff_t BackOff(int next, const unsigned char *start, ptrdiff_t count, ptrdiff_t minimum) {
    if (!Valid(next) || code_[next] != RX_LITERAL)
      return count;
    unsigned char c = code_[RegexOperand(next)];
    while (count >= minimum && start[count] != c)
      --count;
    return count;
  }

  bool Push(const Choice &choice) {
    if (const char *failure = choices_.Push(choice)) {
      Abandon(failure);
      return false;
    }
    return true;
  }

  Outcome Abandon(const char *text) {
    if (!abandoned_) {
      abandoned_ = true;
      RegexReport(text);
    }
    return kAbandoned;
  }

  void Succeed(const unsigned char *at, const unsigned char *pos) {
    for (size_t i = trail_.Size(); i-- > 0;) {
      const Mark &mark = trail_[i];
      const char *where = reinterpret_cast<const char *>(mark.pos);
      if (mark.opcode > RX_GROUP_CLOSE) {
        const char *&slot = program_->end[mark.opcode - RX_GROUP_CLOSE];
        if (!slot)
          slot = where;
      } else {
        const char *&slot = program_->start[mark.opcode - RX_GROUP_OPEN];
        if (!slot)
          slot = where;
      }
    }
    program_->start[0] = reinterpret_cast<const char *>(at);
    program_->end[0] = reinterpret_cast<const char *>(pos);
  }

  RegexProgram *program_;
  const unsigned char *code_;
  int size_;
  const unsigned char *subject_;
  uint64_t budget_;
  uint64_t work_ = 0;
  bool abandoned_ = false;
  bool slotsCleared_ = false;
  Stack<Choice, 32> choices_;
  Stack<Mark, 32> trail_;
};

// A program made by RegexCompile: check byte first, ending in the RX_END
// node, so that every operand string ends inside the program.
bool WellFormed(const RegexProgram *program) {
  const unsigned char *code = RegexProgramCode(program);
  int size = program->programSize;
  if (code[0] != kRegexCheckByte)
    return false;
  if (size < 1 + 2 * kRegexNodeHeader || size >= kRegexProgramLimit)
    return false;
  if (code[size - 3] != RX_END || code[size - 2] != 0 || code[size - 1] != 0)
    return false;
  if (program->must) {
    const char *first = reinterpret_cast<const char *>(code);
    if (program->must < first || program->must + program->mustLength >= first + size)
      return false;
  }
  return true;
}

bool ContainsMust(const RegexProgram *program, const char *subject) {
  const char *must = program->must;
  size_t length = static_cast<size_t>(program->mustLength);
  for (const char *at = strchr(subject, must[0]); at; at = strchr(at + 1, must[0]))
    if (strncmp(at, must, length) == 0)
      return true;
  return false;
}

} // namespace

int RegexMatch(RegexProgram *program, const char *subject) {
  if (!program || !subject) {
    RegexReport("NULL parameter");
    return 0;
  }
  if (!WellFormed(program)) {
    RegexReport("corrupted program");
    return 0;
  }
  if (program->must && !ContainsMust(program, subject))
    return 0;

  const unsigned char *text = reinterpret_cast<const unsigned char *>(subject);
  Matcher matcher(program, text, strlen(subject));
  if (program->anchored)
    return matcher.Attempt(text) == kMatch ? 1 : 0;
  if (program->firstChar != 0) {
    char first = static_cast<char>(program->firstChar);
    for (const char *at = strchr(subject, first); at; at = strchr(at + 1, first)) {
      Outcome outcome = matcher.Attempt(reinterpret_cast<const unsigned char *>(at));
      if (outcome != kNoMatch)
        return outcome == kMatch ? 1 : 0;
    }
    return 0;
  }
  const unsigned char *at = text;
  do {
    Outcome outcome = matcher.Attempt(at);
    if (outcome != kNoMatch)
      return outcome == kMatch ? 1 : 0;
  } while (*at++ != '\0');
  return 0;
}
