#pragma once
// The parsed form of a record source's condition: a tree of nodes kept in
// one vector, children referred to by index, so that a condition of any
// shape costs two allocations and copies cheaply.

#include "db/variant.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnika {

enum class SqlOp : uint8_t {
    Literal,     // literal
    Column,      // name (qualifier optional)
    Call,        // name(children...)
    Negate,      // -a
    Not,
    And,
    Or,
    Equal,
    NotEqual,
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    Like,        // a LIKE b
    IsNull,      // a IS NULL
    In,          // a IN (children 1..)
    Between,     // a BETWEEN b AND c
    Add,
    Subtract,
    Multiply,
    Divide,
    IntDivide,   // a \ b
    Modulo,      // a Mod b
    Power,       // a ^ b
    Concat,      // a & b
};

struct SqlNode {
    SqlOp op = SqlOp::Literal;
    bool negated = false;  // NOT LIKE, IS NOT NULL, NOT IN, NOT BETWEEN
    int firstChild = 0;    // index into SqlExpression::children
    int childCount = 0;
    int position = 0;      // offset of the node's first character in the source
    Variant literal;
    std::u16string name;       // column or function
    std::u16string qualifier;  // table name before a dot, if any
};

struct SqlExpression {
    std::vector<SqlNode> nodes;
    std::vector<int> children;
    int root = -1;

    int child(const SqlNode& n, int k) const { return children[static_cast<size_t>(n.firstChild + k)]; }
};

}  // namespace varnika
