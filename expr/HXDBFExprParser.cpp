// Lexer, grammar and type rules of the expression language: text -> tree.
#include "expr/HXDBFExprParser.h"

#include <algorithm>
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "expr/HXDBFExprField.h"
#include "expr/HXDBFExprFunctions.h"
#include "platform/exception.h"
#include "platform/numtext.h"

namespace zarbel {

namespace {

enum TTok {
    tkEnd, tkWord, tkField, tkString, tkNumber, tkLParen, tkRParen, tkComma, tkStar, tkPlus, tkMinus,
    tkSlash, tkEQ, tkNE, tkLT, tkLE, tkGT, tkGE, tkNot, tkAnd, tkOr, tkXor, tkLike, tkIn, tkIsNull,
    tkIsNotNull, tkTrue, tkFalse, tkNull,
};

[[noreturn]] void Fail(const std::string& message) { throw Exception(message); }

bool IsWordStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0x81 && c <= 0xFE);
}
bool IsWordChar(unsigned char c) {
    return IsWordStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '[' || c == ']';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AnsiUpperChar(a[i]) != AnsiUpperChar(b[i])) return false;
    return true;
}

std::string Upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = AnsiUpperChar(c);
    return u;
}

// One token at a time over the text; the previous token's kind decides what "-" is.
class TExprLexer {
public:
    TExprLexer(std::string_view text, const std::string& trueText, const std::string& falseText)
        : S_(text), True_(trueText), False_(falseText) {}

    TTok Kind = tkEnd;
    std::string Value;      // literal text, word or field name
    std::string_view Raw;   // the token as it stands in the text

    void Next() {
        const TTok prev = Kind;
        SkipBlanks();
        if (At("/*")) {  // one comment per token
            const std::size_t star = S_.find('*', P_ + 2);
            if (star == std::string_view::npos || star + 1 >= S_.size() || S_[star + 1] != '/')
                Fail("Invalid filter expression character: '/'");
            P_ = star + 2;
            SkipBlanks();
        }
        const std::size_t start = P_;
        Value.clear();
        if (P_ >= S_.size()) {
            Kind = tkEnd;
        } else {
            const char c = S_[P_];
            const auto uc = static_cast<unsigned char>(c);
            if (c == '!') {
                ++P_;
                Kind = tkNot;
            } else if (c == '"' || c == '\'') {
                ReadString(c);
            } else if (c == '(' || c == ')' || c == ',' || c == '*' || c == '+' || c == '/' || c == '=') {
                ++P_;
                Kind = c == '(' ? tkLParen : c == ')' ? tkRParen : c == ',' ? tkComma : c == '*' ? tkStar
                     : c == '+' ? tkPlus : c == '/' ? tkSlash : tkEQ;
            } else if (c == '<') {
                ++P_;
                Kind = tkLT;
                if (P_ < S_.size() && S_[P_] == '=') ++P_, Kind = tkLE;
                else if (P_ < S_.size() && S_[P_] == '>') ++P_, Kind = tkNE;
            } else if (c == '>') {
                ++P_;
                Kind = tkGT;
                if (P_ < S_.size() && S_[P_] == '=') ++P_, Kind = tkGE;
            } else if (c == '-' || IsDigit(c)) {
                const bool afterOperand = prev == tkWord || prev == tkField || prev == tkString || prev == tkNumber ||
                                          prev == tkRParen || prev == tkTrue || prev == tkFalse || prev == tkNull;
                if (c == '-' && afterOperand) {
                    ++P_;
                    Kind = tkMinus;
                } else {
                    ++P_;
                    while (P_ < S_.size() && (IsDigit(S_[P_]) || std::strchr(".+-Ee", S_[P_]) != nullptr)) ++P_;
                    Kind = tkNumber;
                    Value.assign(S_.substr(start, P_ - start));
                }
            } else if (c == '.' || IsWordStart(uc)) {
                ReadWord(c == '.');
            } else if (c == '[') {
                ReadBracketed();
            } else {
                Fail(std::string("Invalid filter expression character: '") + c + "'");
            }
        }
        Raw = S_.substr(start, P_ - start);
    }

    // The token for messages: its text in single quotes, or "nothing" at the end.
    std::string Describe() const { return Kind == tkEnd ? std::string("nothing") : "'" + std::string(Raw) + "'"; }
    // The next non-blank character after the token (0 at the end).
    char Peek() const {
        std::size_t p = P_;
        while (p < S_.size() && static_cast<unsigned char>(S_[p]) < 33) ++p;
        return p < S_.size() ? S_[p] : '\0';
    }

private:
    bool At(const char* s) const { return S_.substr(P_, std::strlen(s)) == s; }
    void SkipBlanks() {
        while (P_ < S_.size() && static_cast<unsigned char>(S_[P_]) < 33) ++P_;
    }
    std::string_view WordAt() {
        const std::size_t b = P_;
        ++P_;
        while (P_ < S_.size() && IsWordChar(static_cast<unsigned char>(S_[P_]))) ++P_;
        return S_.substr(b, P_ - b);
    }

    void ReadString(char quote) {
        ++P_;
        for (;;) {
            if (P_ >= S_.size()) Fail("Unterminated string constant");
            const char c = S_[P_++];
            if (c == quote) {
                if (P_ < S_.size() && S_[P_] == quote) ++P_;  // a doubled quote stands for one
                else break;
            }
            if (Value.size() < 256) Value += c;
        }
        Kind = tkString;
    }

    void ReadBracketed() {
        const std::size_t close = S_.find(']', P_ + 1);
        if (close == std::string_view::npos) Fail("Unterminated field name");
        Value.assign(S_.substr(P_ + 1, close - P_ - 1));
        P_ = close + 1;
        Kind = tkField;
    }

    void ReadWord(bool dotted) {
        const std::string_view w = WordAt();
        Value.assign(w);
        Kind = tkWord;
        if (dotted) {
            if (SameText(w, ".T.")) Kind = tkTrue;
            else if (SameText(w, ".F.")) Kind = tkFalse;
            else if (SameText(w, ".AND.")) Kind = tkAnd;
            else if (SameText(w, ".OR.")) Kind = tkOr;
            else if (SameText(w, ".XOR.")) Kind = tkXor;
            else if (SameText(w, ".NOT.")) Kind = tkNot;
            return;
        }
        // alias->FIELD: the field of this table, the alias is not checked
        std::size_t p = P_;
        while (p < S_.size() && static_cast<unsigned char>(S_[p]) < 33) ++p;
        if (S_.substr(p, 2) == "->") {
            P_ = p + 2;
            SkipBlanks();
            if (P_ >= S_.size()) Fail("Unterminated field name");
            if (S_[P_] == '[') return ReadBracketed();
            if (!IsWordStart(static_cast<unsigned char>(S_[P_])))
                Fail(std::string("Invalid filter expression character: '") + S_[P_] + "'");
            Value.assign(WordAt());
            Kind = tkField;
            return;
        }
        if (SameText(w, "AND")) Kind = tkAnd;
        else if (SameText(w, "OR")) Kind = tkOr;
        else if (SameText(w, "XOR")) Kind = tkXor;
        else if (SameText(w, "NOT")) Kind = tkNot;
        else if (SameText(w, "LIKE")) Kind = tkLike;
        else if (SameText(w, "IN")) Kind = tkIn;
        else if (SameText(w, "NULL")) Kind = tkNull;
        else if (SameText(w, True_)) Kind = tkTrue;
        else if (SameText(w, False_)) Kind = tkFalse;
        else if (SameText(w, "IS")) {
            SkipBlanks();
            std::string_view a = P_ < S_.size() && IsWordStart(static_cast<unsigned char>(S_[P_])) ? WordAt() : std::string_view();
            if (SameText(a, "NULL")) {
                Kind = tkIsNull;
            } else if (SameText(a, "NOT")) {
                SkipBlanks();
                std::string_view b = P_ < S_.size() && IsWordStart(static_cast<unsigned char>(S_[P_])) ? WordAt() : std::string_view();
                if (!SameText(b, "NULL")) Fail("Invalid use of keyword");
                Kind = tkIsNotNull;
            } else {
                Fail("Invalid use of keyword");
            }
        }
    }

    std::string_view S_;
    std::size_t P_ = 0;
    const std::string& True_;
    const std::string& False_;
};

// ---- Type groups ----
bool IsStringType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString || t == ftGuid; }
bool IsNumericType(TFieldType t) {
    return t == ftSmallint || t == ftInteger || t == ftWord || t == ftFloat || t == ftCurrency || t == ftBCD ||
           t == ftAutoInc || t == ftLargeint;
}
bool IsDateType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }
bool IsLargeType(TFieldType t) {
    return t == ftBytes || t == ftVarBytes || (t >= ftBlob && t <= ftTypedBinary) || t == ftOraBlob || t == ftOraClob;
}
int GroupOf(TFieldType t) {
    if (t == ftUnknown) return 0;
    if (IsStringType(t)) return 1;
    if (IsNumericType(t)) return 2;
    if (IsDateType(t)) return 3;
    if (t == ftBoolean) return 4;
    if (IsLargeType(t)) return 5;
    return 6 + static_cast<int>(t);
}

[[noreturn]] void TypeMismatch() { Fail("Type mismatch in expression"); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Tree building
// ---------------------------------------------------------------------------------------

class TExprBuilder {
public:
    TExprBuilder(THXDBFExprParser& p, std::string_view text, unsigned parserOptions)
        : P_(p), L_(text, p.TrueText(), p.FalseText()), Extended_((parserOptions & poExtendedSyntax) != 0) {}

    TDBFExprNode* Build() {
        L_.Next();
        if (L_.Kind == tkEnd) return nullptr;
        TDBFExprNode* root = OrExpr();
        if (L_.Kind != tkEnd) Fail("Filter expression incorrectly terminated");
        return root;
    }

    TDBFExprNode& FieldNode(const std::string& name) {
        TField* f = P_.DataSet() ? P_.DataSet()->FindField(Upper(name)) : nullptr;
        if (!f) Fail("Field '" + name + "' not found");
        TDBFExprNode& n = P_.Expr_.NewNode(enField);
        n.Data = TVariant(Upper(name));
        n.Field = f;
        n.DataType = f->DataType();
        n.Scope = esRecord;
        ExprFieldShape(P_.DataSet(), *f, n.DataSize, n.Width, n.Decimals);
        return n;
    }

    // Comparison (and assignment) type rules; may retype a constant side.
    static void CheckComparison(TDBFExprNode& l, TDBFExprNode& r, TExprOperator op) {
        if (l.DataType == ftUnknown || r.DataType == ftUnknown) return;  // NULL fits everything
        if (IsLargeType(l.DataType) || IsLargeType(r.DataType)) {
            if (op == coLIKE && IsLargeType(l.DataType) && !IsLargeType(r.DataType)) {
                if (r.Kind == enConstant) Retype(r, ftString, r.DataSize);
                if (IsStringType(r.DataType)) return;
            }
            TypeMismatch();
        }
        if (l.Kind == enField && r.Kind == enConstant) return Retype(r, l.DataType, l.DataSize);
        if (r.Kind == enField && l.Kind == enConstant) return Retype(l, r.DataType, r.DataSize);
        if (IsDateType(l.DataType) && IsStringType(r.DataType)) return RetypeToDate(r, l.DataType);
        if (IsDateType(r.DataType) && IsStringType(l.DataType)) return RetypeToDate(l, r.DataType);
        if (GroupOf(l.DataType) != GroupOf(r.DataType)) TypeMismatch();
    }

private:
    // ---- Grammar ----
    struct TNest {
        explicit TNest(int& d) : D(d) {
            if (++D > THXDBFExprParser::kMaxNesting)
                Fail("THXDBFExprParser.Compile: Expression nested deeper than " +
                     std::to_string(THXDBFExprParser::kMaxNesting) + " levels");
        }
        ~TNest() { --D; }
        int& D;
    };

    TDBFExprNode* OrExpr() {
        TDBFExprNode* l = AndExpr();
        while (L_.Kind == tkOr || L_.Kind == tkXor) {
            const TExprOperator op = L_.Kind == tkOr ? coOR : coXOR;
            L_.Next();
            l = &Logical(op, l, AndExpr());
        }
        return l;
    }

    TDBFExprNode* AndExpr() {
        TDBFExprNode* l = NotExpr();
        while (L_.Kind == tkAnd) {
            L_.Next();
            l = &Logical(coAND, l, NotExpr());
        }
        return l;
    }

    TDBFExprNode* NotExpr() {
        if (L_.Kind != tkNot) return Comparison();
        L_.Next();
        TDBFExprNode* r = Comparison();
        TDBFExprNode& n = Op(coNOT, nullptr, r);
        n.DataType = ftBoolean;
        n.DataSize = n.Width = 1;
        return &n;
    }

    TDBFExprNode* Comparison() {
        TDBFExprNode* l = Sum();
        TExprOperator op = coNone;
        switch (L_.Kind) {
            case tkEQ: op = coEQ; break;
            case tkNE: op = coNE; break;
            case tkLT: op = coLT; break;
            case tkGT: op = coGT; break;
            case tkLE: op = coLE; break;
            case tkGE: op = coGE; break;
            case tkLike: op = coLIKE; break;
            case tkIsNull: case tkIsNotNull: {
                TDBFExprNode& n = Op(L_.Kind == tkIsNull ? coIsNull : coIsNotNull, nullptr, l);
                L_.Next();
                return &Boolean(n);
            }
            case tkIn: return InList(l);
            default: return l;
        }
        L_.Next();
        TDBFExprNode* r = Sum();
        CheckComparison(*l, *r, op);
        return &Boolean(Op(op, l, r));
    }

    TDBFExprNode* InList(TDBFExprNode* l) {
        L_.Next();
        if (L_.Kind != tkLParen) Fail("'(' expected but " + L_.Describe() + " found");
        TNest nest(Nesting_);
        L_.Next();
        if (L_.Kind == tkRParen) Fail("IN predicate list may not be empty");
        TDBFExprNode& n = Op(coIN, l, nullptr);
        for (;;) {
            TDBFExprNode* item = OrExpr();
            if (IsDateType(l->DataType) && item->Kind == enConstant) RetypeToDate(*item, l->DataType);
            CheckComparison(*l, *item, coIN);
            n.Args.push_back(item);
            n.Depth = std::max(n.Depth, item->Depth + 1);
            n.Scope = Combine(n.Scope, item->Scope);
            if (L_.Kind == tkRParen) break;
            if (L_.Kind != tkComma) Fail("')' or ',' expected but " + L_.Describe() + " found");
            L_.Next();
        }
        L_.Next();
        CheckDepth(n);
        return &Boolean(n);
    }

    TDBFExprNode* Sum() {
        TDBFExprNode* l = Term();
        while (L_.Kind == tkPlus || L_.Kind == tkMinus) {
            if (!Extended_) Fail("Arithmetic in filter expressions not supported");
            const TExprOperator op = L_.Kind == tkPlus ? coADD : coSUB;
            L_.Next();
            l = &Arithmetic(op, l, Term());
        }
        return l;
    }

    TDBFExprNode* Term() {
        TDBFExprNode* l = Primary();
        while (L_.Kind == tkStar || L_.Kind == tkSlash) {
            if (!Extended_) Fail("Arithmetic in filter expressions not supported");
            const TExprOperator op = L_.Kind == tkStar ? coMUL : coDIV;
            L_.Next();
            l = &Arithmetic(op, l, Primary());
        }
        return l;
    }

    TDBFExprNode* Primary() {
        switch (L_.Kind) {
            case tkWord: {
                if (Extended_ && L_.Peek() == '(') {
                    if (const TExprFunction* f = FindExprFunction(L_.Value)) return Call(*f);
                }
                TDBFExprNode& n = FieldNode(L_.Value);
                L_.Next();
                return &n;
            }
            case tkField: {
                TDBFExprNode& n = FieldNode(L_.Value);
                L_.Next();
                return &n;
            }
            case tkNull: {
                TDBFExprNode& n = Constant();
                n.Value.SetNull();
                n.Data = TVariant::Null();
                L_.Next();
                return &n;
            }
            case tkTrue:
            case tkFalse: {
                TDBFExprNode& n = Constant();
                n.Value.SetBool(L_.Kind == tkTrue);
                n.DataType = ftBoolean;
                n.DataSize = n.Width = 1;
                n.Data = TVariant(L_.Kind == tkTrue);
                L_.Next();
                return &n;
            }
            case tkNumber: {
                double v;
                if (!ParseFloat(L_.Value, '.', v)) Fail("Expression expected but " + L_.Describe() + " found");
                TDBFExprNode& n = Constant();
                n.Value.SetDouble(v);
                n.Data = TVariant(v);
                n.DataType = ftFloat;
                const std::size_t dot = L_.Value.find('.');
                int dec = 0;
                if (dot != std::string::npos)
                    while (dot + 1 + static_cast<std::size_t>(dec) < L_.Value.size() &&
                           IsDigit(L_.Value[dot + 1 + static_cast<std::size_t>(dec)]))
                        ++dec;
                n.Decimals = std::min(dec, 9);
                n.Width = n.DataSize = 10 + (n.Decimals ? n.Decimals + 1 : 0);
                L_.Next();
                return &n;
            }
            case tkString: {
                TDBFExprNode& n = Constant();
                n.Value.SetString(L_.Value);
                n.Data = TVariant(L_.Value);
                n.DataType = ftString;
                n.DataSize = n.Width = static_cast<int>(L_.Value.size());
                L_.Next();
                return &n;
            }
            case tkLParen: {
                TNest nest(Nesting_);
                L_.Next();
                TDBFExprNode* e = OrExpr();
                if (L_.Kind != tkRParen) Fail("')' expected but " + L_.Describe() + " found");
                L_.Next();
                return e;
            }
            default: Fail("Expression expected but " + L_.Describe() + " found");
        }
    }

    TDBFExprNode* Call(const TExprFunction& f) {
        TNest nest(Nesting_);
        TDBFExprNode& n = P_.Expr_.NewNode(enFunction);
        n.Func = &f;
        n.Data = TVariant(std::string(f.Name));
        L_.Next();
        if (L_.Kind != tkLParen) Fail("'(' expected but " + L_.Describe() + " found");
        L_.Next();
        bool countStar = false;
        if (std::string_view(f.Name) == "COUNT" && L_.Kind == tkStar) {
            L_.Next();
            if (L_.Kind != tkRParen) Fail("')' expected but " + L_.Describe() + " found");
            n.Data = TVariant("COUNT(*)");
            countStar = true;
        }
        if (L_.Kind != tkRParen) {
            for (;;) {
                TDBFExprNode* a = OrExpr();
                n.Args.push_back(a);
                n.Depth = std::max(n.Depth, a->Depth + 1);
                if (L_.Kind == tkRParen) break;
                if (L_.Kind != tkComma) Fail("')' or ',' expected but " + L_.Describe() + " found");
                L_.Next();
            }
        }
        L_.Next();
        CheckDepth(n);
        const int argc = static_cast<int>(n.Args.size());
        if (argc == 0 && !countStar && std::string_view(f.Name) != "GETDATE") TypeMismatch();
        if (!countStar && (argc < f.MinArgs || argc > f.MaxArgs))
            // SUBSTRING shares SUBSTR's message
            ExprExecuteError(std::string("Incorrect number of arguments in ") +
                             (std::string_view(f.Name) == "SUBSTRING" ? "SUBSTR" : f.Name) + " call.");
        n.DataType = f.Type == ftUnknown ? (argc ? n.Args[0]->DataType : ftUnknown) : f.Type;
        if (f.Aggregate) n.Scope = esAggregate;
        else if (f.ConstantScope) n.Scope = esConstant;
        else n.Scope = argc ? n.Args[0]->Scope : esConstant;
        if (f.Shape) f.Shape(n);
        return &n;
    }

    // ---- Nodes ----
    TDBFExprNode& Constant() {
        TDBFExprNode& n = P_.Expr_.NewNode(enConstant);
        n.Scope = esConstant;
        return n;
    }

    static TExprScope Combine(TExprScope a, TExprScope b) {
        if (a == esAggregate || b == esAggregate) {
            if (a == esRecord || b == esRecord) Fail("Operation cannot mix aggregate value with record-varying value");
            return esAggregate;
        }
        return a == esConstant && b == esConstant ? esConstant : esRecord;
    }

    static void CheckDepth(const TDBFExprNode& n) {
        if (n.Depth > THXDBFExprParser::kMaxDepth)
            Fail("THXDBFExprParser.Compile: Expression nested deeper than " +
                 std::to_string(THXDBFExprParser::kMaxDepth) + " levels");
    }

    TDBFExprNode& Op(TExprOperator op, TDBFExprNode* l, TDBFExprNode* r) {
        TDBFExprNode& n = P_.Expr_.NewNode(enOperator);
        n.Operator = op;
        n.Left = l;
        n.Right = r;
        n.Depth = 1 + std::max(l ? l->Depth : 0, r ? r->Depth : 0);
        CheckDepth(n);
        n.Scope = l && r ? Combine(l->Scope, r->Scope) : (l ? l->Scope : r->Scope);
        return n;
    }

    static TDBFExprNode& Boolean(TDBFExprNode& n) {
        n.DataType = ftBoolean;
        n.DataSize = n.Width = 1;
        n.Decimals = 0;
        return n;
    }

    TDBFExprNode& Logical(TExprOperator op, TDBFExprNode* l, TDBFExprNode* r) { return Boolean(Op(op, l, r)); }

    TDBFExprNode& Arithmetic(TExprOperator op, TDBFExprNode* l, TDBFExprNode* r) {
        TFieldType lt = l->DataType, rt = r->DataType;
        TFieldType type = ftUnknown;
        if (lt == ftUnknown || rt == ftUnknown) {
            type = lt == ftUnknown ? rt : lt;
        } else {
            if (IsStringType(lt) && l->Kind == enConstant && IsNumericType(rt)) {
                RetypeToDate(*l, ftDateTime);
                lt = ftDateTime;
            }
            if (IsNumericType(lt) && IsNumericType(rt)) type = ftFloat;
            else if (op == coADD && IsStringType(lt) && IsStringType(rt)) type = ftString;
            else if (op == coADD && IsDateType(lt) && IsNumericType(rt)) type = ftDateTime;
            else if (op == coSUB && IsDateType(lt) && IsNumericType(rt)) type = lt;
            else if (op == coSUB && IsDateType(lt) && IsDateType(rt)) type = ftFloat;
            else if (op == coSUB && IsStringType(lt) && IsDateType(rt)) {
                RetypeToDate(*l, rt);
                type = ftFloat;
            } else {
                TypeMismatch();
            }
        }
        TDBFExprNode& n = Op(op, l, r);
        n.DataType = type;
        // Key widths and decimals (index mode)
        const int lw = l->Width, rw = r->Width, ld = l->Decimals, rd = r->Decimals;
        if (op == coADD && IsStringType(type)) {
            n.DataSize = n.Width = l->DataSize + r->DataSize;
        } else if (op == coADD) {
            n.Width = std::max(lw, rw) + 1;
            n.Decimals = std::max(ld, rd);
        } else {
            if (op == coMUL) {
                n.Width = lw + rw;
                n.Decimals = ld + rd;
            } else {
                n.Width = std::max(lw, rw);
                n.Decimals = std::max(ld, rd);
            }
            if (n.Width > 14) n.Width = 14;
            if (n.Width < n.Decimals + 1) n.Decimals = std::max(0, n.Width - 3);
        }
        if (!IsStringType(type)) n.DataSize = n.Width;
        return n;
    }

    // ---- Retyping of constants ----
    static void Retype(TDBFExprNode& c, TFieldType type, int size) {
        if (c.Value.IsNull()) {
            c.DataType = type;
            return;
        }
        TExprValue& v = c.Value;
        if (IsStringType(type)) {
            if (v.Type != varString) {
                std::string t;
                v.AppendText(t);
                v.SetString(t);
            }
        } else if (IsNumericType(type)) {
            if (v.Type == varString) {
                double d;
                if (!ParseFloat(v.S, '.', d) && !ParseFloat(v.S, FormatSettings().DecimalSeparator, d)) TypeMismatch();
                v.SetDouble(d);
            } else if (v.Type == varBoolean) {
                TypeMismatch();
            } else if (v.Type == varDate) {
                v.SetDouble(v.D);
            }
        } else if (IsDateType(type)) {
            double d;
            if (v.Type == varBoolean || !v.AsDate(d)) TypeMismatch();
            v.SetDate(d);
        } else if (type == ftBoolean) {
            if (v.Type != varBoolean) TypeMismatch();
        } else if (GroupOf(type) != GroupOf(c.DataType)) {
            TypeMismatch();
        }
        c.Data = v.ToVariant();
        c.DataType = type;
        c.DataSize = size;
        if (IsStringType(type)) c.DataSize = c.Width = static_cast<int>(v.S.size());
    }

    // A string side compared with (or subtracted from) a date: a constant becomes a date now, any
    // other string is read as a date when evaluated.
    static void RetypeToDate(TDBFExprNode& s, TFieldType type) {
        if (!IsStringType(s.DataType) && s.DataType != ftUnknown) return;
        if (s.Kind == enConstant) Retype(s, type, 8);
        else s.DataType = type;
    }

    THXDBFExprParser& P_;
    TExprLexer L_;
    bool Extended_;
    int Nesting_ = 0;
};

// ---------------------------------------------------------------------------------------
// Filter expression: the node list and the table's record filter
// ---------------------------------------------------------------------------------------

TDBFExprNode& THXDBFFilterExpr::NewNode(TExprNodeKind kind) {
    auto n = std::make_unique<TDBFExprNode>();
    n->Kind = kind;
    n->Next = std::move(Head_);
    Head_ = std::move(n);
    ++Count_;
    return *Head_;
}

void THXDBFFilterExpr::Clear() {
    while (Head_) Head_ = std::move(Head_->Next);
    Count_ = 0;
}

void THXDBFFilterExpr::Compile(const std::string& text) {
    const unsigned options = Parser_.DataSet() ? Parser_.DataSet()->FilterOptions() : Parser_.FilterOptions();
    Parser_.CompileWithChecks(text, options, Parser_.ParserOptions() & poExtendedSyntax);
}

bool THXDBFFilterExpr::Evaluate() { return Parser_.EvaluateBoolean(); }

// ---------------------------------------------------------------------------------------
// Parser
// ---------------------------------------------------------------------------------------

THXDBFExprParser::THXDBFExprParser(THXSmartDBF* dataset, unsigned filterOptions, unsigned parserOptions,
                                   std::string_view text)
    : DataSet_(dataset), FilterOptions_(filterOptions), ParserOptions_(parserOptions) {
    if (!text.empty()) Compile(text, filterOptions, parserOptions);
}

void THXDBFExprParser::Compile(std::string_view text, unsigned filterOptions, unsigned parserOptions) {
    Root_ = nullptr;
    Expr_.Clear();
    Text_.assign(text);
    FilterOptions_ = filterOptions;
    ParserOptions_ = parserOptions;
    try {
        TExprBuilder b(*this, Text_, parserOptions);
        Root_ = b.Build();
    } catch (...) {
        Root_ = nullptr;
        Expr_.Clear();
        throw;
    }
}

void THXDBFExprParser::CompileWithChecks(std::string_view text, unsigned filterOptions, unsigned parserOptions,
                                         std::string_view targetField) {
    Compile(text, filterOptions, parserOptions);
    if (!Root_) return;
    try {
        if (parserOptions & poAggregate) {
            if (Root_->Scope != esAggregate) Fail("Expression is not an aggregate expression");
        } else if (Root_->Scope == esAggregate) {
            Fail("Aggregate expressions not allowed in filters");
        }
        if (parserOptions & poDefaultExpression) {
            TExprBuilder b(*this, {}, parserOptions);
            TDBFExprNode& target = b.FieldNode(std::string(targetField));
            TExprBuilder::CheckComparison(target, *Root_, coASSIGN);
            TDBFExprNode& n = Expr_.NewNode(enOperator);
            n.Operator = coASSIGN;
            n.Left = &target;
            n.Right = Root_;
            n.DataType = target.DataType;
            n.DataSize = target.DataSize;
            n.Width = target.Width;
            n.Decimals = target.Decimals;
            n.Depth = Root_->Depth + 1;
            n.Scope = Root_->Scope;
            Root_ = &n;
        } else if (!(parserOptions & poAggregate) && Root_->DataType != ftBoolean) {
            Fail("Incorrectly formed filter expression");
        }
        EvaluateValue();
    } catch (...) {
        Root_ = nullptr;
        Expr_.Clear();
        throw;
    }
}

void THXDBFExprParser::CollectFields(const TDBFExprNode* n, std::vector<const TDBFExprNode*>& out) const {
    if (!n) return;
    if (n->Kind == enField) {
        out.push_back(n);
        return;
    }
    CollectFields(n->Left, out);
    CollectFields(n->Right, out);
    for (const TDBFExprNode* a : n->Args) CollectFields(a, out);
}

int THXDBFExprParser::FieldUseCount(std::string_view fieldList) const {
    std::vector<std::string> names;
    ForEachFieldName(fieldList, [&](std::string_view name) { names.push_back(Upper(name)); });
    std::vector<const TDBFExprNode*> refs;
    CollectFields(Root_, refs);
    int count = 0;
    for (const TDBFExprNode* r : refs) {
        if (std::find(names.begin(), names.end(), Upper(r->Field->FieldName())) == names.end()) break;
        ++count;
    }
    return count;
}

std::string THXDBFExprParser::FieldUseList() const {
    std::vector<const TDBFExprNode*> refs;
    CollectFields(Root_, refs);
    std::string out;
    std::vector<std::string> seen;
    for (const TDBFExprNode* r : refs) {
        std::string name = Upper(r->Field->FieldName());
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        out += name + ";";
        seen.push_back(std::move(name));
    }
    return out;
}

}  // namespace zarbel
