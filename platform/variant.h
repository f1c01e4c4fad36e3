// A small variant value: null, boolean, 32- and 64-bit integers, double, currency, date-time,
// text and arrays of variants. Used for field values, locate and lookup keys and expressions.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale.h"

namespace zarbel {

enum TVarType {
    varEmpty = 0,     // unassigned
    varNull = 1,      // no value
    varBoolean = 2,
    varInteger = 3,   // 32-bit
    varInt64 = 4,
    varDouble = 5,
    varCurrency = 6,  // fixed point, 4 decimals
    varDate = 7,      // TDateTime
    varString = 8,
    varArray = 9,
};

class TVariant {
public:
    TVariant() = default;  // unassigned
    TVariant(bool v) : type_(varBoolean) { u_.b = v; }
    TVariant(std::int32_t v) : type_(varInteger) { u_.i = v; }
    TVariant(std::int64_t v) : type_(varInt64) { u_.i = v; }
    TVariant(double v) : type_(varDouble) { u_.d = v; }
    TVariant(std::string v) : type_(varString), s_(std::move(v)) {}
    TVariant(std::string_view v) : type_(varString), s_(v) {}
    TVariant(const char* v) : type_(varString), s_(v ? v : "") {}
    TVariant(std::vector<TVariant> items) : type_(varArray), a_(std::move(items)) {}

    static TVariant Null() { TVariant v; v.type_ = varNull; return v; }
    static TVariant FromDateTime(TDateTime dt) { TVariant v; v.type_ = varDate; v.u_.d = dt; return v; }
    // Currency from a double (rounded to 4 decimals) or from its scaled form (value x 10000).
    static TVariant FromCurrency(double v);
    static TVariant FromCurrencyScaled(std::int64_t scaled) { TVariant v; v.type_ = varCurrency; v.u_.i = scaled; return v; }
    static TVariant ArrayOf(std::vector<TVariant> items) { return TVariant(std::move(items)); }

    TVarType VarType() const { return type_; }
    bool IsEmpty() const { return type_ == varEmpty; }
    bool IsNull() const { return type_ == varNull; }
    bool IsNullOrEmpty() const { return type_ == varNull || type_ == varEmpty; }
    bool IsArray() const { return type_ == varArray; }
    bool IsNumeric() const;

    // Conversions; an impossible one throws "Could not convert variant of type (X) into type (Y)".
    // Null and unassigned convert to 0, false and the empty text.
    bool AsBoolean() const;
    std::int32_t AsInteger() const;
    std::int64_t AsInt64() const;
    double AsDouble() const;
    double AsCurrency() const;
    std::int64_t AsCurrencyScaled() const;
    TDateTime AsDateTime() const;
    std::string AsString() const;

    // Arrays.
    int ArrayLength() const { return type_ == varArray ? static_cast<int>(a_.size()) : 0; }
    const TVariant& operator[](int i) const { return a_.at(static_cast<std::size_t>(i)); }
    TVariant& operator[](int i) { return a_.at(static_cast<std::size_t>(i)); }
    const std::vector<TVariant>& Items() const { return a_; }

    // Same type and value (numbers of different kinds compare by value; arrays item by item).
    bool operator==(const TVariant& o) const;
    bool operator!=(const TVariant& o) const { return !(*this == o); }

    static const char* TypeName(TVarType t);

private:
    [[noreturn]] void ConvertError(TVarType to) const;
    TVarType type_ = varEmpty;
    union {
        bool b;
        std::int64_t i;
        double d;
    } u_{};
    std::string s_;
    std::vector<TVariant> a_;
};

}  // namespace zarbel
