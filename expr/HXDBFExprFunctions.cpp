// The built-in functions of the expression language.
#include "expr/HXDBFExprFunctions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/exception.h"
#include "platform/numtext.h"

namespace zarbel {

void ExprExecuteError(const std::string& text) { throw Exception("THXDBFExprParser.Execute: " + text); }

namespace {

constexpr int kMaxLength = 65535;

// ---- Helpers ----

// A constant integer argument (a length, a count), or fallback when the argument is absent or
// not a constant.
int ConstInt(const TDBFExprNode& n, std::size_t i, int fallback) {
    if (i >= n.Args.size() || n.Args[i]->Kind != enConstant || n.Args[i]->Value.IsNull()) return fallback;
    const double d = n.Args[i]->Value.AsDouble();
    if (!std::isfinite(d)) return fallback;
    return static_cast<int>(std::clamp(std::trunc(d), -1e9, 1e9));
}

// An argument's value as a count or position (truncated; null and non-finite as 0).
long long IntArg(THXDBFExprParser& p, TDBFExprNode& n, std::size_t i) {
    const double d = p.Eval(*n.Args[i]).AsDouble();
    if (!std::isfinite(d)) return 0;
    return static_cast<long long>(std::clamp(std::trunc(d), -1e15, 1e15));
}

// A length argument: negative counts as 0, above 65,535 fails.
int LengthArg(THXDBFExprParser& p, TDBFExprNode& n, std::size_t i, const char* function) {
    const long long v = IntArg(p, n, i);
    if (v > kMaxLength)
        ExprExecuteError("Length " + std::to_string(v) + " in " + function + " call is above " + std::to_string(kMaxLength));
    return v < 0 ? 0 : static_cast<int>(v);
}

// The pad character repeated count times.
void Pads(THXDBFExprParser& p, TExprValue& out, int count) {
    out.Str().assign(static_cast<std::size_t>(std::max(count, 0)), p.Pad());
}

// The text of argument i into out's text (out is not an argument's value).
void TextArg(THXDBFExprParser& p, TDBFExprNode& n, std::size_t i, std::string& out) {
    const TExprValue& v = p.Eval(*n.Args[i]);
    if (v.Type == varString) {
        out.assign(v.S);
    } else {
        out.clear();
        v.AppendText(out);
    }
}

// ---- Shapes ----

void ShapeOfArg(TDBFExprNode& n) {
    n.DataSize = n.Args[0]->DataSize;
    n.Width = n.Args[0]->Width;
    n.Decimals = 0;
}

void ShapeFixed8(TDBFExprNode& n) { n.DataSize = n.Width = 8; n.Decimals = 0; }

void ShapeStr(TDBFExprNode& n) {
    const int len = std::clamp(ConstInt(n, 1, n.Args[0]->Width), 0, kMaxLength);
    n.DataSize = n.Width = len;
    n.Decimals = 0;
}

// ---- Text ----

void EvalUpper(THXDBFExprParser& p, TDBFExprNode& n) {
    const TExprValue& v = p.Eval(*n.Args[0]);
    if (v.IsNull()) return Pads(p, n.Value, n.Args[0]->DataSize);
    TextArg(p, n, 0, n.Value.Str());
    for (char& c : n.Value.S)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// ---- Conversion ----

void EvalDtos(THXDBFExprParser& p, TDBFExprNode& n) {
    const TExprValue& v = p.Eval(*n.Args[0]);
    if (v.Type != varDate || !std::isfinite(v.D) || v.D <= -693594 || v.D >= 2958466) return Pads(p, n.Value, 8);
    int y, m, d;
    DecodeDate(v.D, y, m, d);
    char buf[8];
    for (int j = 3; j >= 0; --j, y /= 10) buf[j] = static_cast<char>('0' + y % 10);
    buf[4] = static_cast<char>('0' + m / 10);
    buf[5] = static_cast<char>('0' + m % 10);
    buf[6] = static_cast<char>('0' + d / 10);
    buf[7] = static_cast<char>('0' + d % 10);
    n.Value.SetString(std::string_view(buf, 8));
}

void EvalStr(THXDBFExprParser& p, TDBFExprNode& n) {
    const TDBFExprNode& arg = *n.Args[0];
    const TExprValue& v = p.Eval(*n.Args[0]);
    const int len = n.Args.size() > 1 ? LengthArg(p, n, 1, "STR") : std::clamp(arg.Width, 0, kMaxLength);
    const int dec = n.Args.size() > 2 ? static_cast<int>(std::clamp<long long>(IntArg(p, n, 2), 0, 30))
                                      : std::clamp(arg.Decimals, 0, 30);
    n.DataSize = n.Width = len;
    if (v.IsNull()) return Pads(p, n.Value, p.Unpadded() ? 0 : arg.Width);
    const double d = v.AsDouble();
    char buf[kNumTextMax];
    std::size_t k = std::isfinite(d) && std::fabs(d) < 1e30 ? FormatFloatFixed(d, dec, '.', buf) : kNumTextMax + 1;
    std::string& s = n.Value.Str();
    if (k > static_cast<std::size_t>(len)) {
        s.assign(static_cast<std::size_t>(len), '*');  // does not fit: stars, as xBase prints it
        return;
    }
    s.assign(static_cast<std::size_t>(len) - k, ' ');
    s.append(buf, k);
}

// ---- Aggregates: recognised, typed and scoped; they give no value ----

void EvalAggregate(THXDBFExprParser&, TDBFExprNode& n) { n.Value.SetNull(); }

void ShapeAggregate(TDBFExprNode& n) {
    if (!n.Args.empty() && n.Args[0]->DataType == n.DataType) {
        n.DataSize = n.Args[0]->DataSize;
        n.Width = n.Args[0]->Width;
        n.Decimals = n.Args[0]->Decimals;
    } else {
        n.DataSize = n.Width = 10;
        n.Decimals = 0;
    }
}

const TExprFunction kFunctions[] = {
    {"UPPER", 1, 1, ftString, false, false, ShapeOfArg, EvalUpper},
    {"DTOS", 1, 1, ftString, false, false, ShapeFixed8, EvalDtos},
    {"STR", 1, 3, ftString, false, false, ShapeStr, EvalStr},
    {"SUM", 1, 1, ftFloat, true, false, ShapeAggregate, EvalAggregate},
    {"MIN", 1, 1, ftUnknown, true, false, ShapeAggregate, EvalAggregate},
    {"MAX", 1, 1, ftUnknown, true, false, ShapeAggregate, EvalAggregate},
    {"AVG", 1, 1, ftFloat, true, false, ShapeAggregate, EvalAggregate},
    {"COUNT", 1, 1, ftInteger, true, false, ShapeAggregate, EvalAggregate},
};

}  // namespace

const TExprFunction* FindExprFunction(std::string_view name) {
    for (const TExprFunction& f : kFunctions) {
        const std::size_t len = std::strlen(f.Name);
        if (len != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < len && same; ++i) same = AnsiUpperChar(name[i]) == f.Name[i];
        if (same) return &f;
    }
    return nullptr;
}

const TExprFunction* ExprFunctions() { return kFunctions; }
int ExprFunctionCount() { return static_cast<int>(sizeof(kFunctions) / sizeof(kFunctions[0])); }

}  // namespace zarbel
