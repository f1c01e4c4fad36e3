// Evaluation of expression trees: values, comparisons, LIKE, IN, arithmetic and key texts.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "expr/HXDBFExprField.h"
#include "expr/HXDBFExprFunctions.h"
#include "expr/HXDBFExprParser.h"
#include "platform/exception.h"
#include "platform/numtext.h"

namespace zarbel {

// ---------------------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------------------

namespace {

bool ParseNumber(std::string_view s, double& out) {
    return ParseFloat(s, '.', out) || ParseFloat(s, FormatSettings().DecimalSeparator, out);
}

// A text read as a date: the locale's date (and time) form, or eight digits YYYYMMDD.
bool ParseDate(std::string_view s, double& out) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (s.size() == 8 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int y = (s[0] - '0') * 1000 + (s[1] - '0') * 100 + (s[2] - '0') * 10 + (s[3] - '0');
        const int m = (s[4] - '0') * 10 + (s[5] - '0');
        const int d = (s[6] - '0') * 10 + (s[7] - '0');
        return TryEncodeDate(y, m, d, out);
    }
    return TryStrToDateTime(s, out);
}

}  // namespace

double TExprValue::AsDouble() const {
    switch (Type) {
        case varBoolean: return B ? 1 : 0;
        case varInteger:
        case varInt64: return static_cast<double>(I);
        case varDouble:
        case varCurrency:
        case varDate: return D;
        case varString: {
            double d;
            return ParseNumber(S, d) ? d : 0;
        }
        default: return 0;
    }
}

bool TExprValue::AsBoolean() const {
    switch (Type) {
        case varBoolean: return B;
        case varString: return AnsiSameText(S, "True") || S == "T" || S == "t";
        case varInteger:
        case varInt64: return I != 0;
        case varDouble:
        case varCurrency:
        case varDate: return D != 0;
        default: return false;
    }
}

bool TExprValue::AsDate(double& out) const {
    switch (Type) {
        case varDate:
        case varDouble:
        case varCurrency: out = D; return std::isfinite(D);
        case varInteger:
        case varInt64: out = static_cast<double>(I); return true;
        case varString: return ParseDate(S, out);
        default: return false;
    }
}

void TExprValue::AppendText(std::string& out) const {
    char buf[kNumTextMax];
    switch (Type) {
        case varBoolean: out += B ? "True" : "False"; return;
        case varInteger:
        case varInt64: out.append(buf, FormatInt64(I, buf)); return;
        case varDouble:
        case varCurrency: out.append(buf, FormatFloatGeneral(D, FormatSettings().DecimalSeparator, buf)); return;
        case varDate: {
            int y, m, d;
            DecodeDate(D, y, m, d);
            const std::size_t n = FormatShortDate(y, m, d, buf);
            if (n && D == std::floor(D)) out.append(buf, n);
            else out += DateTimeToStr(D);
            return;
        }
        case varString: out += S; return;
        default: return;
    }
}

TVariant TExprValue::ToVariant() const {
    switch (Type) {
        case varBoolean: return TVariant(B);
        case varInteger: return TVariant(static_cast<std::int32_t>(I));
        case varInt64: return TVariant(static_cast<std::int64_t>(I));
        case varDouble: return TVariant(D);
        case varCurrency: return TVariant::FromCurrency(D);
        case varDate: return TVariant::FromDateTime(D);
        case varString: return TVariant(S);
        default: return TVariant::Null();
    }
}

void TExprValue::Assign(const TVariant& v) {
    switch (v.VarType()) {
        case varBoolean: SetBool(v.AsBoolean()); break;
        case varInteger: SetInt(v.AsInteger()); break;
        case varInt64: SetInt64(v.AsInt64()); break;
        case varDouble: SetDouble(v.AsDouble()); break;
        case varCurrency: SetDouble(v.AsCurrency()); Type = varCurrency; break;
        case varDate: SetDate(v.AsDateTime()); break;
        case varString: SetString(v.AsString()); break;
        default: SetNull(); break;
    }
}

void TExprValue::Assign(const TExprValue& v) {
    Type = v.Type;
    B = v.B;
    I = v.I;
    D = v.D;
    if (v.Type == varString) S.assign(v.S);
}

// ---------------------------------------------------------------------------------------
// Comparisons
// ---------------------------------------------------------------------------------------

namespace {

inline unsigned char Fold(char c, bool fold) {
    return static_cast<unsigned char>(fold ? AnsiUpperChar(c) : c);
}

// Byte order of two texts, the shorter read as padded with blanks.
int PadCompare(std::string_view a, std::string_view b, bool fold) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Fold(a[i], fold), y = Fold(b[i], fold);
        if (x != y) return x < y ? -1 : 1;
    }
    for (std::size_t i = n; i < a.size(); ++i) {
        const unsigned char x = Fold(a[i], fold);
        if (x != ' ') return x < ' ' ? -1 : 1;
    }
    for (std::size_t i = n; i < b.size(); ++i) {
        const unsigned char y = Fold(b[i], fold);
        if (y != ' ') return y < ' ' ? 1 : -1;
    }
    return 0;
}

bool HasPrefix(std::string_view text, std::string_view prefix, bool fold) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Fold(text[i], fold) != Fold(prefix[i], fold)) return false;
    return true;
}

// The whole text against a pattern of "%" (any run) and "_" (any one character). Greedy, with
// one back-track point (the last "%"): at most text x pattern steps, never exponential.
bool LikeMatch(std::string_view t, std::string_view p, bool fold) {
    std::size_t ti = 0, pi = 0, star = std::string_view::npos, mark = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == '%') {
            star = pi++;
            mark = ti;
        } else if (pi < p.size() && (p[pi] == '_' || Fold(p[pi], fold) == Fold(t[ti], fold))) {
            ++pi;
            ++ti;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            ti = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%') ++pi;
    return pi == p.size();
}

bool IsDateNodeType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }

}  // namespace

// <0, 0, >0; comparable is false when a side is null or the two cannot be compared.
int THXDBFExprParser::Compare(TDBFExprNode& n, const TExprValue& a, const TExprValue& b, bool& comparable) {
    comparable = !a.IsNull() && !b.IsNull();
    if (!comparable) return 0;
    const bool fold = (FilterOptions_ & foCaseInsensitive) && !(FilterOptions_ & foNoPartialCompare);
    if (a.Type == varString && b.Type == varString) {
        const bool dates = (n.Left && IsDateNodeType(n.Left->DataType)) || (n.Right && IsDateNodeType(n.Right->DataType));
        if (!dates) return PadCompare(a.S, b.S, fold);
    }
    double x, y;
    if (a.Type == varDate || b.Type == varDate || (n.Left && IsDateNodeType(n.Left->DataType))) {
        if (!a.AsDate(x) || !b.AsDate(y)) return comparable = false, 0;
    } else if (a.Type == varString || b.Type == varString) {
        if ((a.Type == varString && !ParseNumber(a.S, x)) || (b.Type == varString && !ParseNumber(b.S, y)))
            return comparable = false, 0;
        if (a.Type != varString) x = a.AsDouble();
        if (b.Type != varString) y = b.AsDouble();
    } else {
        x = a.AsDouble();
        y = b.AsDouble();
    }
    if (std::isnan(x) || std::isnan(y)) return comparable = false, 0;
    return x < y ? -1 : x > y ? 1 : 0;
}

// l = r as for "=" (and IN): partial, the constant side's trailing "*" is a prefix test.
bool THXDBFExprParser::Equal(TDBFExprNode& n, TDBFExprNode& ln, TDBFExprNode& rn, bool partial) {
    const TExprValue& a = ln.Value;
    const TExprValue& b = rn.Value;
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    if (partial && a.Type == varString && b.Type == varString) {
        const bool fold = (FilterOptions_ & foCaseInsensitive) != 0;
        if (rn.Kind == enConstant && !b.S.empty() && b.S.back() == '*')
            return HasPrefix(a.S, std::string_view(b.S).substr(0, b.S.size() - 1), fold);
        if (ln.Kind == enConstant && !a.S.empty() && a.S.back() == '*')
            return HasPrefix(b.S, std::string_view(a.S).substr(0, a.S.size() - 1), fold);
    }
    bool comparable;
    const int c = Compare(n, a, b, comparable);
    return comparable && c == 0;
}

// ---------------------------------------------------------------------------------------
// Evaluation
// ---------------------------------------------------------------------------------------

const TExprValue& THXDBFExprParser::Eval(TDBFExprNode& n) {
    switch (n.Kind) {
        case enField: ReadField(n); break;
        case enConstant: break;
        case enOperator: EvalOperator(n); break;
        case enFunction: n.Func->Eval(*this, n); break;
    }
    return n.Value;
}

void THXDBFExprParser::ReadField(TDBFExprNode& n) {
    TExprValue& v = n.Value;
    bool given = false;
    for (int i = 0; i < GivenCount_; ++i) {
        if (Given_[static_cast<std::size_t>(i)].Field == n.Field) {
            v.Assign(Given_[static_cast<std::size_t>(i)].Value);
            given = true;
            break;
        }
    }
    if (!given) ReadExprField(*n.Field, v);
    if (!IndexMode_) return;
    const bool pad = given ? GivenPad_ : !FieldsUnpadded_;
    if (v.IsNull()) {
        if (n.DataType == ftString || n.DataType == ftFixedChar || n.DataType == ftWideString || n.DataType == ftGuid)
            v.Str().assign(pad ? static_cast<std::size_t>(std::max(n.DataSize, 0)) : 0u, ' ');
        else if (n.DataType == ftBoolean) v.SetBool(false);
        else if (!IsDateNodeType(n.DataType) && n.DataType != ftUnknown && n.DataType < ftBytes) v.SetDouble(0);
    } else if (v.Type == varString && pad && static_cast<int>(v.S.size()) < n.DataSize) {
        v.S.append(static_cast<std::size_t>(n.DataSize) - v.S.size(), ' ');
    } else if (v.Type == varString && !given && FieldsUnpadded_) {
        // the field's text without the blanks that fill it to its width
        std::size_t end = v.S.size();
        while (end > 0 && v.S[end - 1] == ' ') --end;
        v.S.resize(end);
    }
}

void THXDBFExprParser::EvalOperator(TDBFExprNode& n) {
    TExprValue& out = n.Value;
    switch (n.Operator) {
        case coNOT: out.SetBool(!Eval(*n.Right).AsBoolean()); return;
        case coAND: out.SetBool(Eval(*n.Left).AsBoolean() && Eval(*n.Right).AsBoolean()); return;
        case coOR: out.SetBool(Eval(*n.Left).AsBoolean() || Eval(*n.Right).AsBoolean()); return;
        case coXOR: out.SetBool(Eval(*n.Left).AsBoolean() != Eval(*n.Right).AsBoolean()); return;
        case coIsNull:
        case coIsNotNull: {
            bool isNull;
            if (n.Right->Kind == enField) {
                // the field's own null test, before index mode puts blanks or 0 in its place
                const bool im = IndexMode_;
                IndexMode_ = false;
                ReadField(*n.Right);
                IndexMode_ = im;
                isNull = n.Right->Value.IsNull();
            } else {
                isNull = Eval(*n.Right).IsNull();
            }
            out.SetBool(n.Operator == coIsNull ? isNull : !isNull);
            return;
        }
        case coEQ:
        case coNE: {
            Eval(*n.Left);
            Eval(*n.Right);
            const bool eq = Equal(n, *n.Left, *n.Right, n.Operator == coEQ && !(FilterOptions_ & foNoPartialCompare));
            out.SetBool(n.Operator == coEQ ? eq : !eq);
            return;
        }
        case coLT:
        case coGT:
        case coLE:
        case coGE: {
            bool comparable;
            const int c = Compare(n, Eval(*n.Left), Eval(*n.Right), comparable);
            bool r = false;
            if (comparable) {
                r = n.Operator == coLT ? c < 0 : n.Operator == coGT ? c > 0 : n.Operator == coLE ? c <= 0 : c >= 0;
            }
            out.SetBool(r);
            return;
        }
        case coLIKE: {
            const TExprValue& a = Eval(*n.Left);
            const TExprValue& b = Eval(*n.Right);
            if (a.IsNull() || b.IsNull()) return out.SetBool(false);
            // texts of other kinds are made in the node's scratch text and result text
            std::string_view ta = a.S, tb = b.S;
            if (a.Type != varString) {
                n.Scratch.clear();
                a.AppendText(n.Scratch);
                ta = n.Scratch;
            }
            if (b.Type != varString) {
                out.S.clear();
                b.AppendText(out.S);
                tb = out.S;
            }
            out.SetBool(LikeMatch(ta, tb, (FilterOptions_ & foCaseInsensitive) != 0));
            return;
        }
        case coIN: {
            Eval(*n.Left);
            const bool partial = !(FilterOptions_ & foNoPartialCompare);
            for (TDBFExprNode* item : n.Args) {
                Eval(*item);
                if (Equal(n, *n.Left, *item, partial)) return out.SetBool(true);
            }
            out.SetBool(false);
            return;
        }
        case coASSIGN: out.Assign(Eval(*n.Right)); return;
        case coADD:
        case coSUB:
        case coMUL:
        case coDIV: break;
        default: out.SetNull(); return;
    }
    const TExprValue& a = Eval(*n.Left);
    const TExprValue& b = Eval(*n.Right);
    if (a.IsNull() || b.IsNull()) return out.SetNull();
    const bool aStr = a.Type == varString, bStr = b.Type == varString;
    const bool aDate = a.Type == varDate || (aStr && IsDateNodeType(n.Left->DataType));
    const bool bDate = b.Type == varDate || (bStr && IsDateNodeType(n.Right->DataType));
    if (n.Operator == coADD && aStr && bStr && !aDate) {
        std::string& s = out.Str();
        s.assign(a.S);
        s.append(b.S);
        return;
    }
    if (n.Operator == coADD && (aStr || bStr) && !aDate && !bDate) {
        // a text and another value: their texts joined
        std::string& s = out.Str();
        s.clear();
        a.AppendText(s);
        b.AppendText(s);
        return;
    }
    double x, y;
    if (aDate) {
        if (!a.AsDate(x)) return out.SetNull();
    } else {
        x = a.AsDouble();
    }
    if (bDate) {
        if (!b.AsDate(y)) return out.SetNull();
    } else {
        y = b.AsDouble();
    }
    switch (n.Operator) {
        case coADD:
            if (aDate && !bDate) return out.SetDate(x + y);
            return out.SetDouble(x + y);
        case coSUB:
            if (aDate && !bDate) return out.SetDate(x - y);
            return out.SetDouble(x - y);
        case coMUL: return out.SetDouble(x * y);
        default:
            if (y == 0) ExprExecuteError("Division by zero");
            return out.SetDouble(x / y);
    }
}

const TExprValue& THXDBFExprParser::EvaluateValue() {
    if (!Root_) return Null_;
    return Eval(*Root_);
}

bool THXDBFExprParser::EvaluateBoolean() {
    if (!Root_) return true;  // no condition: every record
    return EvaluateValue().AsBoolean();
}

// ---------------------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------------------

namespace {

std::int32_t HashOf(double v) {
    const double t = std::trunc(v);
    if (t >= 4294967296.0) return 2147483647;
    if (t <= -4294967296.0) return -2147483647 - 1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(t)));
}

// Characters of a negative key: 92 minus the code (0..9 become 44..35, the point stays).
void NegativeTransform(std::string& key) {
    for (char& c : key) c = static_cast<char>(92 - static_cast<unsigned char>(c));
}

// width "0" characters, with "." at 1-based position width - decimals when decimals > 0.
void OverflowKey(std::string& key, int width, int decimals) {
    key.assign(static_cast<std::size_t>(width), '0');
    if (decimals > 0) key[static_cast<std::size_t>(width - decimals - 1)] = '.';
}

void AppendDigits(std::string& key, int v, int digits) {
    char buf[12];
    for (int i = digits - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    key.append(buf, static_cast<std::size_t>(digits));
}

}  // namespace

void THXDBFExprParser::MakeKey(const TExprValue& v) {
    std::string& key = LastKey_;
    key.clear();
    const int width = std::max(Root_->Width, 0);
    // decimals of a number key lie in 0 .. width - 1
    const int decimals = std::clamp(Root_->Decimals, 0, std::max(width - 1, 0));
    switch (v.Type) {
        case varNull:
        case varEmpty:
            key.assign(static_cast<std::size_t>(std::max(Root_->DataSize, 0)), Pad_);
            LastHash_ = 0;
            return;
        case varInteger:
        case varDouble:
        case varCurrency: {
            double d = v.Type == varInteger ? static_cast<double>(v.I) : v.D;
            if (!std::isfinite(d)) ExprExecuteError("Key value is not a finite number");
            LastHash_ = HashOf(d);
            const bool negative = d < 0;
            if (negative) d = -d;
            char buf[kNumTextMax];
            const int fmtDec = std::min(decimals, 30);
            std::size_t n = d < 1e30 ? FormatFloatFixed(d, fmtDec, '.', buf) : kNumTextMax + 1;
            const std::size_t len = n + static_cast<std::size_t>(decimals - fmtDec);
            if (len > static_cast<std::size_t>(width)) {
                OverflowKey(key, width, decimals);
            } else {
                key.assign(static_cast<std::size_t>(width) - len, '0');
                key.append(buf, n);
                key.append(static_cast<std::size_t>(decimals - fmtDec), '0');
            }
            if (negative) NegativeTransform(key);
            return;
        }
        case varInt64: {
            LastHash_ = HashOf(static_cast<double>(v.I));
            const bool negative = v.I < 0;
            // the magnitude in unsigned arithmetic: the most negative number has no positive twin
            std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(v.I) : static_cast<std::uint64_t>(v.I);
            char buf[24];
            int n = 0;
            do {
                buf[23 - n++] = static_cast<char>('0' + u % 10);
                u /= 10;
            } while (u);
            if (n > width) {
                key.assign(static_cast<std::size_t>(width), '0');
            } else {
                key.assign(static_cast<std::size_t>(width - n), '0');
                key.append(buf + 24 - n, static_cast<std::size_t>(n));
            }
            if (negative) NegativeTransform(key);
            return;
        }
        case varDate: {
            if (!std::isfinite(v.D)) ExprExecuteError("Key value is not a finite number");
            LastHash_ = HashOf(v.D);
            int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0, ms = 0;
            if (v.D > -693594 && v.D < 2958466) {  // years 1 .. 9999
                DecodeDate(v.D, y, m, d);
                DecodeTime(v.D, hh, mm, ss, ms);
            }
            const TFieldType t = Root_->DataType;
            if (t != ftTime) {
                AppendDigits(key, y, 4);
                AppendDigits(key, m, 2);
                AppendDigits(key, d, 2);
            }
            if (t == ftTime || t == ftDateTime) {
                AppendDigits(key, hh, 2);
                AppendDigits(key, mm, 2);
                AppendDigits(key, ss, 2);
            }
            return;
        }
        case varBoolean:
            key.assign(1, v.B ? 'T' : 'F');
            LastHash_ = v.B ? -1 : 0;
            return;
        default: {
            key.assign(v.S);
            std::uint32_t h = 0;
            for (std::size_t i = 0; i < 4; ++i)
                h = (h << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
            LastHash_ = static_cast<std::int32_t>(h);
            return;
        }
    }
}

const std::string& THXDBFExprParser::EvaluateKey(char pad) {
    LastKey_.clear();
    LastHash_ = 0;
    if (!Root_) return LastKey_;
    Pad_ = pad;
    struct TRestore {
        char& P;
        ~TRestore() { P = ' '; }
    } restore{Pad_};
    const TExprValue& v = EvaluateValue();
    if (!v.IsNull()) LastType_ = v.Type;
    MakeKey(v);
    return LastKey_;
}

const std::string& THXDBFExprParser::EvaluateKeyUnpadded(char pad) {
    FieldsUnpadded_ = true;
    Unpadded_ = true;
    struct TRestore {
        bool& Fields;
        bool& Unpadded;
        ~TRestore() { Fields = Unpadded = false; }
    } restore{FieldsUnpadded_, Unpadded_};
    return EvaluateKey(pad);
}

const std::string& THXDBFExprParser::EvaluateKeyForValues(std::string_view fieldNames, const TVariant& values,
                                                         char pad, bool padStrings) {
    GivenCount_ = 0;
    int i = 0;
    ForEachFieldName(fieldNames, [&](std::string_view name) {
        TField* f = DataSet_ ? DataSet_->FindField(name) : nullptr;
        if (!f) {
            GivenCount_ = 0;
            throw Exception("Field '" + std::string(name) + "' not found");
        }
        if (static_cast<std::size_t>(GivenCount_) >= Given_.size()) Given_.emplace_back();
        TGiven& g = Given_[static_cast<std::size_t>(GivenCount_++)];
        g.Field = f;
        if (values.IsArray()) {
            if (i < values.ArrayLength()) g.Value.Assign(values[i]); else g.Value.SetNull();
        } else {
            g.Value.Assign(i == 0 ? values : TVariant::Null());
        }
        ++i;
    });
    GivenPad_ = padStrings;
    Unpadded_ = !padStrings;
    struct TRestore {
        int& Count;
        bool& Unpadded;
        ~TRestore() {
            Count = 0;
            Unpadded = false;
        }
    } restore{GivenCount_, Unpadded_};
    return EvaluateKey(pad);
}

}  // namespace zarbel
