// The built-in functions of the expression language.
#include "expr/HXDBFExprFunctions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "platform/codepage_tables.h"
#include "platform/env.h"
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

// Text of argument i, or the empty text for a null (a null text reads as empty). Not for
// n.Value's own text.
std::string_view TextOf(THXDBFExprParser& p, TDBFExprNode& n, std::size_t i) {
    TDBFExprNode& a = *n.Args[i];
    const TExprValue& v = p.Eval(a);
    if (v.Type == varString) return v.S;
    a.Scratch.clear();
    v.AppendText(a.Scratch);
    return a.Scratch;
}

// The result text and the node's size and width as its length (functions whose width is the
// length of what they give).
void ResultText(TDBFExprNode& n, std::string_view text) {
    n.Value.SetString(text);
    n.DataSize = n.Width = static_cast<int>(text.size());
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// ---- Shapes ----

void ShapeResultLength(TDBFExprNode& n) {  // fixed when the arguments are constants
    n.DataSize = n.Width = n.Args.empty() ? 0 : n.Args[0]->DataSize;
    n.Decimals = 0;
}

void ShapeCount1(TDBFExprNode& n) {  // LEFT, RIGHT, SPACE, PAD*: the constant count or length
    const std::size_t i = n.Args.size() > 1 ? 1 : 0;
    const int c = std::clamp(ConstInt(n, i, n.Args[0]->DataSize), 0, kMaxLength);
    n.DataSize = n.Width = c;
    n.Decimals = 0;
}

void ShapeSubstr(TDBFExprNode& n) {
    const int count = std::clamp(ConstInt(n, 2, 0), 0, kMaxLength);
    n.Width = count;
    n.DataSize = count ? count : n.Args[0]->DataSize;
    n.Decimals = 0;
}

void ShapeWidth(TDBFExprNode& n, int width, int decimals) {
    n.DataSize = n.Width = width;
    n.Decimals = decimals;
}
void ShapeFixed14(TDBFExprNode& n) { ShapeWidth(n, 14, 0); }
void ShapeYear(TDBFExprNode& n) { ShapeWidth(n, 4, 0); }
void ShapeTwo(TDBFExprNode& n) { ShapeWidth(n, 2, 0); }
void ShapeDate(TDBFExprNode& n) { ShapeWidth(n, 8, 0); }
void ShapeTime(TDBFExprNode& n) { ShapeWidth(n, 6, 0); }

void ShapeVal(TDBFExprNode& n) {
    n.DataSize = n.Args[0]->DataSize;
    n.Width = std::min(n.Args[0]->Width, 10);
    n.Decimals = 0;
}

void ShapeStrZero(TDBFExprNode& n) {
    const int len = std::clamp(ConstInt(n, 1, 10), 0, kMaxLength);
    ShapeWidth(n, len, 0);
}

void ShapeIif(TDBFExprNode& n) {
    if (n.Args.size() < 3) return;
    n.DataSize = std::max(n.Args[1]->DataSize, n.Args[2]->DataSize);
    n.Width = n.Args[1]->Width;
    n.Decimals = n.Args[1]->Decimals;
}

bool IsDateNode(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }
bool IsStringNode(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString || t == ftGuid; }
bool IsNumericNode(TFieldType t) {
    return t == ftSmallint || t == ftInteger || t == ftWord || t == ftFloat || t == ftCurrency || t == ftBCD ||
           t == ftAutoInc || t == ftLargeint;
}

void ShapeDescend(TDBFExprNode& n) {
    const TDBFExprNode& a = *n.Args[0];
    if (IsDateNode(a.DataType)) ShapeWidth(n, 10, 0);
    else if (IsNumericNode(a.DataType)) ShapeWidth(n, 13, 2);
    else if (a.DataType == ftBoolean) ShapeWidth(n, 1, 0);
    else n.DataSize = a.DataSize, n.Width = a.Width, n.Decimals = a.Decimals;
}

// ---- Text ----

// UPPER, LOWER, ANSIUPPER, ANSILOWER: a null gives the pad character over the argument's size.
template <char (*Map)(char)>
void EvalCase(THXDBFExprParser& p, TDBFExprNode& n) {
    const TExprValue& v = p.Eval(*n.Args[0]);
    if (v.IsNull()) return Pads(p, n.Value, n.Args[0]->DataSize);
    TextArg(p, n, 0, n.Value.Str());
    for (char& c : n.Value.S) c = Map(c);
}
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char LocaleUpper(char c) { return AnsiUpperChar(c); }
char LocaleLower(char c) { return static_cast<char>(cptables::kAnsiLower[static_cast<unsigned char>(c)]); }

void EvalSubstr(THXDBFExprParser& p, TDBFExprNode& n) {
    const std::string_view s = TextOf(p, n, 0);
    const long long start = std::max(IntArg(p, n, 1), 1LL);
    long long count = n.Args.size() > 2 ? std::max(IntArg(p, n, 2), 0LL) : 0;
    if (start > static_cast<long long>(s.size())) return n.Value.SetString({});
    const std::size_t b = static_cast<std::size_t>(start - 1);
    if (count < 1) count = static_cast<long long>(s.size() - b);  // to the end
    n.Value.SetString(s.substr(b, static_cast<std::size_t>(count)));
}

void EvalStuff(THXDBFExprParser& p, TDBFExprNode& n) {
    const std::string_view s = TextOf(p, n, 0);
    const long long start = std::max(IntArg(p, n, 1), 1LL);
    const long long del = std::max(IntArg(p, n, 2), 0LL);
    const std::string_view ins = n.Args.size() > 3 ? TextOf(p, n, 3) : std::string_view();
    const std::size_t at = static_cast<std::size_t>(std::min<long long>(start - 1, static_cast<long long>(s.size())));
    const std::size_t cut = static_cast<std::size_t>(std::min<long long>(del, static_cast<long long>(s.size() - at)));
    std::string& out = n.Value.Str();
    out.assign(s.substr(0, at));
    out.append(ins);
    out.append(s.substr(at + cut));
    n.DataSize = n.Width = static_cast<int>(out.size());
}

// Occurrences are counted from the left, without overlap, in the text as passed; a replaced
// text is never searched again. With count 0 (or none) every occurrence is replaced.
void EvalStrtran(THXDBFExprParser& p, TDBFExprNode& n) {
    const std::string_view s = TextOf(p, n, 0);
    const std::string_view search = TextOf(p, n, 1);
    const std::string_view repl = n.Args.size() > 2 ? TextOf(p, n, 2) : std::string_view();
    const long long count = n.Args.size() > 4 ? std::max(IntArg(p, n, 4), 0LL) : 0;
    const long long first = count > 0 && n.Args.size() > 3 ? std::max(IntArg(p, n, 3), 1LL) : 1;
    std::string& out = n.Value.Str();
    out.clear();
    if (search.empty()) {  // nothing to find: the text unchanged (a naive loop would never end)
        out.assign(s);
        n.DataSize = n.Width = static_cast<int>(out.size());
        return;
    }
    std::size_t at = 0;
    long long seen = 0, replaced = 0;
    for (;;) {
        const std::size_t f = s.find(search, at);
        if (f == std::string_view::npos || (count > 0 && replaced >= count)) break;
        ++seen;
        out.append(s.substr(at, f - at));
        if (seen >= first) {
            out.append(repl);
            ++replaced;
        } else {
            out.append(search);
        }
        at = f + search.size();
    }
    out.append(s.substr(at));
    n.DataSize = n.Width = static_cast<int>(out.size());
}

template <bool Left, bool Right>
void EvalTrim(THXDBFExprParser& p, TDBFExprNode& n) {
    std::string_view s = TextOf(p, n, 0);
    if (Left)
        while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    if (Right)
        while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    ResultText(n, s);
}

// PADR (0), PADL (1), PADC (2).
template <int Side>
void EvalPad(THXDBFExprParser& p, TDBFExprNode& n) {
    TDBFExprNode& a = *n.Args[0];
    const TExprValue& v = p.Eval(a);
    std::string& t = a.Scratch;  // the text form of x
    t.clear();
    char buf[kNumTextMax];
    if (v.IsNull()) {
        t.assign(static_cast<std::size_t>(std::max(a.DataSize, 0)), ' ');
    } else if (v.Type == varDouble || v.Type == varCurrency || v.Type == varInteger) {
        const double d = v.Type == varInteger ? static_cast<double>(v.I) : v.D;
        const std::size_t k = std::isfinite(d) && std::fabs(d) < 1e30
                                  ? FormatFloatFixed(d, std::clamp(a.Decimals, 0, 30), '.', buf)
                                  : FormatFloatGeneral(d, '.', buf);
        t.assign(buf, k);
    } else if (v.Type == varDate) {
        t = DateTimeToStr(v.D);
    } else if (v.Type == varString) {
        t.assign(v.S);
    } else {
        v.AppendText(t);
    }
    const int len = LengthArg(p, n, 1, Side == 0 ? "PADR" : Side == 1 ? "PADL" : "PADC");
    char fill = ' ';
    if (n.Args.size() > 2) {
        const std::string_view f = TextOf(p, n, 2);
        if (!f.empty()) fill = f[0];
    }
    std::string& out = n.Value.Str();
    const std::size_t L = static_cast<std::size_t>(len);
    if (t.size() >= L) {
        out.assign(t, 0, L);
    } else {
        const std::size_t gap = L - t.size();
        const std::size_t left = Side == 0 ? 0 : Side == 1 ? gap : gap / 2;
        out.assign(left, fill);
        out.append(t);
        out.append(gap - left, fill);
    }
    n.DataSize = n.Width = len;
}

void EvalLeft(THXDBFExprParser& p, TDBFExprNode& n) {
    const std::string_view s = TextOf(p, n, 0);
    const long long c = std::max(IntArg(p, n, 1), 0LL);
    n.Value.SetString(s.substr(0, static_cast<std::size_t>(std::min<long long>(c, static_cast<long long>(s.size())))));
}

void EvalRight(THXDBFExprParser& p, TDBFExprNode& n) {
    const std::string_view s = TextOf(p, n, 0);
    const long long c = std::min<long long>(std::max(IntArg(p, n, 1), 0LL), static_cast<long long>(s.size()));
    n.Value.SetString(s.substr(s.size() - static_cast<std::size_t>(c)));
}

void EvalSpace(THXDBFExprParser& p, TDBFExprNode& n) {
    const int c = LengthArg(p, n, 0, "SPACE");
    Pads(p, n.Value, c);
    n.DataSize = n.Width = c;
}

// ---- Conversion ----

// YYYYMMDD (and hhmmss) of a date value into out.
void DateDigits(double dt, bool withTime, std::string& out) {
    int y, m, d, hh, mm, ss, ms;
    DecodeDate(dt, y, m, d);
    DecodeTime(dt, hh, mm, ss, ms);
    char buf[16];
    for (int j = 3; j >= 0; --j, y /= 10) buf[j] = static_cast<char>('0' + y % 10);
    const int rest[5] = {m, d, hh, mm, ss};
    for (int k = 0; k < 5; ++k) {
        buf[4 + 2 * k] = static_cast<char>('0' + rest[k] / 10);
        buf[5 + 2 * k] = static_cast<char>('0' + rest[k] % 10);
    }
    out.assign(buf, withTime ? 14 : 8);
}

bool InDateRange(const TExprValue& v) {
    return v.Type == varDate && std::isfinite(v.D) && v.D > -693594 && v.D < 2958466;  // years 1 .. 9999
}

template <bool WithTime>
void EvalDateText(THXDBFExprParser& p, TDBFExprNode& n) {
    const TExprValue& v = p.Eval(*n.Args[0]);
    if (!InDateRange(v)) return Pads(p, n.Value, WithTime ? 14 : 8);
    DateDigits(v.D, WithTime, n.Value.Str());
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

void EvalVal(THXDBFExprParser& p, TDBFExprNode& n) {
    std::string_view s = TextOf(p, n, 0);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    std::size_t run = 0;
    while (run < s.size()) {
        const char c = s[run];
        if (c >= '0' && c <= '9') {
            ++run;
        } else if ((c == '+' || c == '-' || c == '.') && run + 1 < s.size() && s[run + 1] >= '0' && s[run + 1] <= '9') {
            ++run;
        } else {
            break;
        }
    }
    double d = 0;
    if (!ParseFloat(run ? s.substr(0, run) : s, '.', d)) d = 0;
    n.Value.SetDouble(d);
}

void EvalStrZero(THXDBFExprParser& p, TDBFExprNode& n) {
    if (n.Args.size() > 2) return n.Value.SetNull();  // other argument counts give no value
    const TExprValue& v = p.Eval(*n.Args[0]);
    if (v.IsNull()) return n.Value.SetNull();
    const int len = n.Args.size() > 1 ? LengthArg(p, n, 1, "STRZERO") : 10;
    const double d = v.AsDouble();
    char buf[kNumTextMax];
    const std::size_t k = std::isfinite(d) && std::fabs(d) < 9e18
                              ? FormatInt64(static_cast<std::int64_t>(std::trunc(d)), buf)
                              : FormatFloatGeneral(d, '.', buf);
    std::string& out = n.Value.Str();
    // zeros on the left, the minus sign stays in front of the digits: STRZERO(-5, 4) = "00-5"
    out.assign(k < static_cast<std::size_t>(len) ? static_cast<std::size_t>(len) - k : 0u, '0');
    out.append(buf, k);
    n.DataSize = n.Width = len;
}

// ---- Date and time ----

template <int Part>  // 0 year, 1 month, 2 day, 3 hour, 4 minute, 5 second
void EvalDatePart(THXDBFExprParser& p, TDBFExprNode& n) {
    const TExprValue& v = p.Eval(*n.Args[0]);
    double dt;
    if (v.IsNull() || !v.AsDate(dt) || !(dt > -693594 && dt < 2958466)) return n.Value.SetNull();
    int y, m, d, hh, mm, ss, ms;
    DecodeDate(dt, y, m, d);
    DecodeTime(dt, hh, mm, ss, ms);
    const int parts[6] = {y, m, d, hh, mm, ss};
    n.Value.SetInt(parts[Part]);
}

// GETDATE(s): s read as a date in the locale's short date form; GETDATE(): now, by the clock of
// the table's environment.
void EvalGetDate(THXDBFExprParser& p, TDBFExprNode& n) {
    if (n.Args.empty()) return n.Value.SetDate(p.DataSet() ? p.DataSet()->Env().Now() : TEnv::Default().Now());
    const TExprValue& v = p.Eval(*n.Args[0]);
    TDateTime dt;
    if (v.Type == varDate) return n.Value.SetDate(v.D);
    if (v.IsNull() || !TryStrToDateTime(TextOf(p, n, 0), dt)) return n.Value.SetNull();
    n.Value.SetDate(dt);
}

template <bool Day>
void EvalDateOrTime(THXDBFExprParser& p, TDBFExprNode& n) {
    const TExprValue& v = p.Eval(*n.Args[0]);
    double dt;
    if (v.IsNull() || !v.AsDate(dt)) return n.Value.SetNull();
    const double whole = std::trunc(dt);
    n.Value.SetDate(Day ? whole : dt - whole);
}

// ---- Other ----

void EvalIif(THXDBFExprParser& p, TDBFExprNode& n) {
    TDBFExprNode& branch = p.Eval(*n.Args[0]).AsBoolean() ? *n.Args[1] : *n.Args[2];
    n.Value.Assign(p.Eval(branch));
    if (n.Value.Type != varString) n.Value.S.clear();
    n.Width = branch.Width;
    n.Decimals = branch.Decimals;
    n.DataSize = branch.DataSize;
}

void EvalDescend(THXDBFExprParser& p, TDBFExprNode& n) {
    const TDBFExprNode& a = *n.Args[0];
    const TExprValue& v = p.Eval(*n.Args[0]);
    if (v.IsNull()) {
        if (IsDateNode(a.DataType)) return ShapeWidth(n, 10, 0), n.Value.SetInt(5231808);
        if (IsStringNode(a.DataType)) return Pads(p, n.Value, a.Width);
        if (IsNumericNode(a.DataType)) return ShapeWidth(n, 13, 2), n.Value.SetInt(0);
        if (a.DataType == ftBoolean) return n.Value.SetBool(false);
        throw Exception("Field type for DESCEND() not avaliable!");
    }
    switch (v.Type) {
        case varDate:
            ShapeWidth(n, 10, 0);
            return n.Value.SetInt(static_cast<std::int32_t>(2816789 - static_cast<long long>(std::trunc(v.D))));
        case varString: {
            std::string& out = n.Value.Str();
            out.assign(v.S);
            for (char& c : out)
                if (c != '\0') c = static_cast<char>(256 - static_cast<unsigned char>(c));
            n.DataSize = a.DataSize, n.Width = a.Width, n.Decimals = a.Decimals;
            return;
        }
        case varInteger:
            ShapeWidth(n, 13, 2);
            return n.Value.SetInt(static_cast<std::int32_t>(-static_cast<std::int64_t>(v.I)));
        case varDouble:
        case varCurrency:
            ShapeWidth(n, 13, 2);
            return n.Value.SetDouble(-v.D);
        case varBoolean: return n.Value.SetBool(!v.B);
        default: throw Exception("Non supported argument type in DESCEND() function!");
    }
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

// The parser's result types: every function gives a string except the date and time parts
// (integer), GETDATE (date-time), DATE, TIME and the aggregates.
const TExprFunction kFunctions[] = {
    {"UPPER", 1, 1, ftString, false, false, ShapeOfArg, EvalCase<AsciiUpper>},
    {"LOWER", 1, 1, ftString, false, false, ShapeOfArg, EvalCase<AsciiLower>},
    {"ANSIUPPER", 1, 1, ftString, false, false, ShapeOfArg, EvalCase<LocaleUpper>},
    {"ANSILOWER", 1, 1, ftString, false, false, ShapeOfArg, EvalCase<LocaleLower>},
    {"SUBSTRING", 2, 3, ftString, false, false, ShapeSubstr, EvalSubstr},
    {"SUBSTR", 2, 3, ftString, false, false, ShapeSubstr, EvalSubstr},
    {"STUFF", 3, 4, ftString, false, false, ShapeResultLength, EvalStuff},
    {"STRTRAN", 2, 5, ftString, false, false, ShapeResultLength, EvalStrtran},
    {"ALLTRIM", 1, 1, ftString, false, false, ShapeResultLength, EvalTrim<true, true>},
    {"TRIM", 1, 1, ftString, false, false, ShapeResultLength, EvalTrim<false, true>},
    {"TRIMLEFT", 1, 1, ftString, false, false, ShapeResultLength, EvalTrim<true, false>},
    {"LTRIM", 1, 1, ftString, false, false, ShapeResultLength, EvalTrim<true, false>},
    {"TRIMRIGHT", 1, 1, ftString, false, false, ShapeResultLength, EvalTrim<false, true>},
    {"RTRIM", 1, 1, ftString, false, false, ShapeResultLength, EvalTrim<false, true>},
    {"PADR", 2, 3, ftString, false, false, ShapeCount1, EvalPad<0>},
    {"PADL", 2, 3, ftString, false, false, ShapeCount1, EvalPad<1>},
    {"PADC", 2, 3, ftString, false, false, ShapeCount1, EvalPad<2>},
    {"DTOS", 1, 1, ftString, false, false, ShapeFixed8, EvalDateText<false>},
    {"DTTOS", 1, 1, ftString, false, false, ShapeFixed14, EvalDateText<true>},
    {"STR", 1, 3, ftString, false, false, ShapeStr, EvalStr},
    {"VAL", 1, 1, ftString, false, false, ShapeVal, EvalVal},
    {"YEAR", 1, 1, ftInteger, false, false, ShapeYear, EvalDatePart<0>},
    {"MONTH", 1, 1, ftInteger, false, false, ShapeTwo, EvalDatePart<1>},
    {"DAY", 1, 1, ftInteger, false, false, ShapeTwo, EvalDatePart<2>},
    {"HOUR", 1, 1, ftInteger, false, false, ShapeTwo, EvalDatePart<3>},
    {"MINUTE", 1, 1, ftInteger, false, false, ShapeTwo, EvalDatePart<4>},
    {"SECOND", 1, 1, ftInteger, false, false, ShapeTwo, EvalDatePart<5>},
    {"GETDATE", 0, 1, ftDateTime, false, true, ShapeFixed14, EvalGetDate},
    {"DATE", 1, 1, ftDate, false, false, ShapeDate, EvalDateOrTime<true>},
    {"TIME", 1, 1, ftTime, false, false, ShapeTime, EvalDateOrTime<false>},
    {"IF", 3, 3, ftString, false, false, ShapeIif, EvalIif},
    {"IIF", 3, 3, ftString, false, false, ShapeIif, EvalIif},
    {"LEFT", 2, 2, ftString, false, false, ShapeCount1, EvalLeft},
    {"RIGHT", 2, 2, ftString, false, false, ShapeCount1, EvalRight},
    {"SPACE", 1, 1, ftString, false, false, ShapeCount1, EvalSpace},
    // STRZERO with more than two arguments compiles and gives no value
    {"STRZERO", 1, 1 << 30, ftString, false, false, ShapeStrZero, EvalStrZero},
    {"DESCEND", 1, 1, ftString, false, false, ShapeDescend, EvalDescend},
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
