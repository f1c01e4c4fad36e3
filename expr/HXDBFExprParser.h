// The xBase expression language: THXDBFExprParser turns a text such as
// "UPPER(LAST)+DTOS(HIREDATE)" or "AGE>20 .AND. AGE<30" into a tree of TDBFExprNode records,
// checks its types while building it, and evaluates it on the table's current record, to a
// value (conditions, filters) or to the fixed-width key text an index stores.
//
// Extensions to the classic dialect:
//   - `alias->FIELD` and `FIELD->FIELD` name FIELD of this table; the alias is not checked,
//     since an expression reads one table only (Clipper index headers carry such keys);
//   - `.XOR.` (and the word XOR) is exclusive-or, at the level of OR.
//
// Value rules, chosen once (TExprValue):
//   - strings order by the bytes of their ANSI text; `=`, `<>`, `<`, `>`, `<=`, `>=` and IN
//     compare two strings as if the shorter were padded with blanks (character fields are
//     blank-padded to their width, so NAME='SMITH' holds for "SMITH" followed by blanks);
//   - in `=` (without foNoPartialCompare) a trailing "*" of a constant string makes a prefix
//     test: the other text must begin with the constant's text before the "*";
//   - numbers of every kind compare and compute as doubles; dates as their day numbers;
//     booleans as false < true;
//   - null equals only null; `<`, `>`, `<=`, `>=` with a null side are false;
//   - a value's text: numbers in general format with the locale's decimal separator, 64-bit
//     integers in decimal, dates in the locale's short date form (and long time form when
//     the value has a time), booleans "True"/"False", null the empty text;
//   - a text read as a number accepts "." or the locale's separator (else 0); as a date, the
//     locale's short date form or YYYYMMDD (else it is no date and compares unequal).
//
// Evaluation allocates nothing once the result slots have grown to their values' lengths:
// every node keeps its own result, field values are read into them in place.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HXDBFCollaborators.h"
#include "platform/dataset.h"
#include "platform/variant.h"

namespace zarbel {

class THXSmartDBF;
class THXDBFExprParser;

// Parser options (bit set).
enum : unsigned {
    poExtendedSyntax = 1,      // arithmetic and function calls
    poAggregate = 2,           // the expression must be an aggregate
    poDefaultExpression = 4,   // the expression gives a field's default value
};

enum TExprNodeKind : std::uint8_t { enField = 0, enConstant = 1, enOperator = 2, enFunction = 3 };
enum TExprScope : std::uint8_t { esRecord = 0, esAggregate = 1, esConstant = 2 };

// Operator codes (the dataset framework's filter operator numbering; XOR has no number there).
enum TExprOperator : std::uint8_t {
    coNone = 0, coIsNull = 1, coIsNotNull = 2, coEQ = 3, coNE = 4, coGT = 5, coLT = 6, coGE = 7,
    coLE = 8, coNOT = 9, coAND = 10, coOR = 11, coADD = 16, coSUB = 17, coMUL = 18, coDIV = 19,
    coLIKE = 30, coIN = 31, coASSIGN = 37, coXOR = 38,
};

// One evaluated value. The text keeps its capacity from one evaluation to the next.
struct TExprValue {
    TVarType Type = varNull;  // varNull, varBoolean, varInteger, varInt64, varDouble, varCurrency, varDate, varString
    bool B = false;
    std::int64_t I = 0;       // varInteger, varInt64
    double D = 0;             // varDouble, varCurrency, varDate (TDateTime)
    std::string S;            // varString

    bool IsNull() const { return Type == varNull || Type == varEmpty; }
    bool IsNumber() const { return Type == varInteger || Type == varInt64 || Type == varDouble || Type == varCurrency; }
    void SetNull() { Type = varNull; }
    void SetBool(bool v) { Type = varBoolean; B = v; }
    void SetInt(std::int32_t v) { Type = varInteger; I = v; }
    void SetInt64(std::int64_t v) { Type = varInt64; I = v; }
    void SetDouble(double v) { Type = varDouble; D = v; }
    void SetDate(double v) { Type = varDate; D = v; }
    void SetString(std::string_view v) { Type = varString; S.assign(v.data(), v.size()); }
    // Makes the value a string and returns its text for filling in place.
    std::string& Str() { Type = varString; return S; }

    // Conversions by the value rules above.
    double AsDouble() const;
    bool AsBoolean() const;
    // The value's text appended to out.
    void AppendText(std::string& out) const;
    // The date the value stands for; false when it is none.
    bool AsDate(double& out) const;

    TVariant ToVariant() const;
    void Assign(const TVariant& v);
    void Assign(const TExprValue& v);
};

struct TExprFunction;

// One node of an expression tree. The filter expression object owns every node.
struct TDBFExprNode {
    std::unique_ptr<TDBFExprNode> Next;  // the owner's list
    TExprNodeKind Kind = enConstant;
    TExprOperator Operator = coNone;
    TVariant Data;                       // field name, constant value or function name
    TDBFExprNode* Left = nullptr;
    TDBFExprNode* Right = nullptr;       // the operand of a unary operator
    TFieldType DataType = ftUnknown;     // result type
    int DataSize = 0;
    int Width = 0;
    int Decimals = 0;
    std::vector<TDBFExprNode*> Args;     // function arguments, IN list
    TExprScope Scope = esRecord;
    TField* Field = nullptr;             // kind 0

    const TExprFunction* Func = nullptr; // kind 3
    int Depth = 1;                       // levels below and including this node
    TExprValue Value;                    // the last result (constants: the value)
    std::string Scratch;                 // comparisons: an upper-cased operand
};

// The expression's nodes, and the table's record filter over its parser's tree.
class THXDBFFilterExpr : public TDBFRecordFilter {
public:
    explicit THXDBFFilterExpr(THXDBFExprParser& parser) : Parser_(parser) {}
    ~THXDBFFilterExpr() override { Clear(); }
    THXDBFFilterExpr(const THXDBFFilterExpr&) = delete;
    THXDBFFilterExpr& operator=(const THXDBFFilterExpr&) = delete;

    // A new node, pushed at the head of the list.
    TDBFExprNode& NewNode(TExprNodeKind kind);
    // Frees every node (one at a time: a long list never recurses).
    void Clear();
    int NodeCount() const { return Count_; }

    // TDBFRecordFilter: the text compiled with checks under the table's filter options, and
    // the active record tested.
    void Compile(const std::string& text) override;
    bool Evaluate() override;

private:
    THXDBFExprParser& Parser_;
    std::unique_ptr<TDBFExprNode> Head_;
    int Count_ = 0;
};

class THXDBFExprParser {
public:
    // Trees deeper than this, or brackets and calls nested deeper than kMaxNesting, are refused.
    static constexpr int kMaxDepth = 400;
    static constexpr int kMaxNesting = 100;

    explicit THXDBFExprParser(THXSmartDBF* dataset, unsigned filterOptions = 0, unsigned parserOptions = 0,
                              std::string_view text = {});
    THXDBFExprParser(const THXDBFExprParser&) = delete;
    THXDBFExprParser& operator=(const THXDBFExprParser&) = delete;

    THXSmartDBF* DataSet() const { return DataSet_; }
    unsigned FilterOptions() const { return FilterOptions_; }
    void SetFilterOptions(unsigned v) { FilterOptions_ = v; }
    unsigned ParserOptions() const { return ParserOptions_; }
    void SetParserOptions(unsigned v) { ParserOptions_ = v; }
    const std::string& TrueText() const { return TrueText_; }
    void SetTrueText(std::string_view s) { TrueText_ = s; }
    const std::string& FalseText() const { return FalseText_; }
    void SetFalseText(std::string_view s) { FalseText_ = s; }
    // Index mode: null field values become blanks, 0 or false, and keys get their widths.
    bool IndexMode() const { return IndexMode_; }
    void SetIndexMode(bool v) { IndexMode_ = v; }
    const std::string& Text() const { return Text_; }

    // Builds the tree of text (none for a blank text). A failure raises the message and
    // leaves no tree.
    void Compile(std::string_view text, unsigned filterOptions, unsigned parserOptions);
    void Compile(std::string_view text) { Compile(text, FilterOptions_, ParserOptions_); }
    // Compile, then the checks of filters (a Boolean root, no aggregate), aggregates (an
    // aggregate root) or default values (the tree joined to targetField by an assignment), and
    // one evaluation.
    void CompileWithChecks(std::string_view text, unsigned filterOptions, unsigned parserOptions,
                           std::string_view targetField = {});

    TDBFExprNode* Root() const { return Root_; }
    THXDBFFilterExpr& FilterExpr() { return Expr_; }

    // The tree evaluated on the current record (null without a tree). The reference stays
    // valid until the next evaluation.
    const TExprValue& EvaluateValue();
    TVariant Evaluate() { return EvaluateValue().ToVariant(); }
    bool EvaluateBoolean();
    // The key text of the current record, also kept as LastKey(); LastHash() is its sort hash.
    // pad fills a null result (and null values inside functions).
    const std::string& EvaluateKey(char pad = ' ');
    // The key with the named fields (";"-separated) read from values (one value, or an array of
    // one value per name) instead of the record. padStrings: string values are padded with
    // blanks to their field's width (false for seek keys built from values).
    const std::string& EvaluateKeyForValues(std::string_view fieldNames, const TVariant& values, char pad,
                                            bool padStrings = false);
    // The key of the current record with its string fields as read, not padded with blanks to
    // their widths (the key a range test compares: "SMITH"+"JOHN" gives "SMITHJOHN").
    const std::string& EvaluateKeyUnpadded(char pad = ' ');
    const std::string& LastKey() const { return LastKey_; }
    std::int32_t LastHash() const { return LastHash_; }
    TVarType LastType() const { return LastType_; }
    const TExprValue& LastValue() const { return Root_ ? Root_->Value : Null_; }

    // The root's width and decimals as a key (0 without a tree).
    int KeyWidth() const { return Root_ ? Root_->Width : 0; }
    int KeyDecimals() const { return Root_ ? Root_->Decimals : 0; }
    // Field references, in the order they stand, that name fields of list (";"-separated,
    // compared upper-cased), counted up to the first one outside the list.
    int FieldUseCount(std::string_view fieldList) const;
    // The upper-cased names of the fields the expression reads, each followed by ";".
    std::string FieldUseList() const;

    // ---- For the function table ----
    const TExprValue& Eval(TDBFExprNode& n);
    char Pad() const { return Pad_; }
    // Strings of given values are not padded (seek keys from values).
    bool Unpadded() const { return Unpadded_; }

private:
    friend class TExprBuilder;
    void EvalOperator(TDBFExprNode& n);
    void ReadField(TDBFExprNode& n);
    bool Equal(TDBFExprNode& n, TDBFExprNode& l, TDBFExprNode& r, bool partial);
    int Compare(TDBFExprNode& n, const TExprValue& a, const TExprValue& b, bool& comparable);
    void MakeKey(const TExprValue& v);
    // The nodes of field references in the order they stand in the text.
    void CollectFields(const TDBFExprNode* n, std::vector<const TDBFExprNode*>& out) const;

    THXSmartDBF* DataSet_;
    unsigned FilterOptions_;
    unsigned ParserOptions_;
    std::string TrueText_ = "True";
    std::string FalseText_ = "False";
    bool IndexMode_ = false;
    std::string Text_;
    THXDBFFilterExpr Expr_{*this};
    TDBFExprNode* Root_ = nullptr;
    std::string LastKey_;
    std::int32_t LastHash_ = 0;
    TVarType LastType_ = varEmpty;
    char Pad_ = ' ';
    bool Unpadded_ = false;
    TExprValue Null_;
    // Given field values of EvaluateKeyForValues (capacities kept between calls).
    struct TGiven {
        TField* Field = nullptr;
        TExprValue Value;
    };
    std::vector<TGiven> Given_;
    int GivenCount_ = 0;
    bool GivenPad_ = false;
    bool FieldsUnpadded_ = false;  // EvaluateKeyUnpadded runs
};

}  // namespace zarbel
