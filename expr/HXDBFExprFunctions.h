// The function table of the expression language: which names are functions, how many
// arguments each takes, the type the parser gives its result, its size, width and decimals as a
// key, and its evaluation.
#pragma once
#include <string_view>

#include "expr/HXDBFExprParser.h"

namespace zarbel {

struct TExprFunction {
    const char* Name;
    int MinArgs;        // checked when the call is compiled
    int MaxArgs;
    TFieldType Type;    // ftUnknown: the type of the first argument
    bool Aggregate;     // SUM, MIN, MAX, AVG, COUNT: scope aggregate, no value
    bool ConstantScope; // GETDATE
    // Size, width and decimals of the call node from its arguments (compile time).
    void (*Shape)(TDBFExprNode& n);
    // The call's result into n.Value. The arguments are evaluated through p.Eval, only as far as
    // the function needs them.
    void (*Eval)(THXDBFExprParser& p, TDBFExprNode& n);
};

// The function of that name (any case), or null.
const TExprFunction* FindExprFunction(std::string_view name);
// Every function of the table, in table order, and their number.
const TExprFunction* ExprFunctions();
int ExprFunctionCount();

// "THXDBFExprParser.Execute: " + text, raised.
[[noreturn]] void ExprExecuteError(const std::string& text);

}  // namespace zarbel
