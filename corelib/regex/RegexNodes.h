// The node program shared by the compiler and the matcher.
//
// Byte 0 is the check byte. Every node is an opcode, a 16-bit link stored
// high byte first, and an operand right behind that header: a NUL-terminated
// string for literals and sets, a node for alternatives and repeats. A link is
// the distance to the following node, counted from the node's first byte,
// forwards except for RX_LOOP_BACK; 0 means there is none.
#pragma once

enum RegexOpcode : unsigned char {
  RX_END = 0,
  RX_AT_START = 1,
  RX_AT_END = 2,
  RX_ANY_CHAR = 3,
  RX_IN_SET = 4,
  RX_NOT_IN_SET = 5,
  RX_ALTERNATIVE = 6,
  RX_LOOP_BACK = 7,
  RX_LITERAL = 8,
  RX_EMPTY = 9,
  RX_REPEAT0 = 10,
  RX_REPEAT1 = 11,
  RX_GROUP_OPEN = 20,   // + group number 1-9
  RX_GROUP_CLOSE = 30,  // + group number 1-9
};

const unsigned char kRegexCheckByte = 0x9C;
const int kRegexNodeHeader = 3;
// Links are 16 bits; no program may reach this size.
const int kRegexProgramLimit = 32767;
const int kRegexMaxGroups = 9;

inline int RegexLink(const unsigned char *code, int node) {
  return (code[node + 1] << 8) | code[node + 2];
}

// Offset of the node that follows `node`, or 0.
inline int RegexNext(const unsigned char *code, int node) {
  int link = RegexLink(code, node);
  if (link == 0)
    return 0;
  return code[node] == RX_LOOP_BACK ? node - link : node + link;
}

inline int RegexOperand(int node) { return node + kRegexNodeHeader; }

// Passes the text to the error hook, if one is set.
void RegexReport(const char *text);
