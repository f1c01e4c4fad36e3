#include "platform/variant.h"

#include <cmath>

#include "platform/exception.h"
#include "platform/numtext.h"

namespace zarbel {

TVariant TVariant::FromCurrency(double v) {
    return FromCurrencyScaled(static_cast<std::int64_t>(std::llround(v * 10000.0)));
}

const char* TVariant::TypeName(TVarType t) {
    switch (t) {
        case varEmpty: return "Empty";
        case varNull: return "Null";
        case varBoolean: return "Boolean";
        case varInteger: return "Integer";
        case varInt64: return "Int64";
        case varDouble: return "Double";
        case varCurrency: return "Currency";
        case varDate: return "Date";
        case varString: return "String";
        case varArray: return "Array";
    }
    return "Unknown";
}

void TVariant::ConvertError(TVarType to) const {
    throw Exception(std::string("Could not convert variant of type (") + TypeName(type_) +
                    ") into type (" + TypeName(to) + ")");
}

bool TVariant::IsNumeric() const {
    return type_ == varInteger || type_ == varInt64 || type_ == varDouble || type_ == varCurrency ||
           type_ == varBoolean;
}

bool TVariant::AsBoolean() const {
    switch (type_) {
        case varEmpty:
        case varNull: return false;
        case varBoolean: return u_.b;
        case varInteger:
        case varInt64:
        case varCurrency: return u_.i != 0;
        case varDouble:
        case varDate: return u_.d != 0;
        case varString:
            if (AnsiSameText(s_, "True")) return true;
            if (AnsiSameText(s_, "False")) return false;
            {
                double d;
                if (ParseFloat(s_, FormatSettings().DecimalSeparator, d)) return d != 0;
            }
            break;
        case varArray: break;
    }
    ConvertError(varBoolean);
}

std::int64_t TVariant::AsInt64() const {
    switch (type_) {
        case varEmpty:
        case varNull: return 0;
        case varBoolean: return u_.b ? -1 : 0;
        case varInteger:
        case varInt64: return u_.i;
        case varCurrency: return static_cast<std::int64_t>(std::llround(static_cast<double>(u_.i) / 10000.0));
        case varDouble:
        case varDate:
            if (std::isfinite(u_.d) && std::fabs(u_.d) < 9.2e18) return std::llround(u_.d);
            break;
        case varString: {
            std::int64_t v;
            if (ParseInt64(s_, v, true)) return v;
            double d;
            if (ParseFloat(s_, FormatSettings().DecimalSeparator, d) && std::fabs(d) < 9.2e18)
                return std::llround(d);
            break;
        }
        case varArray: break;
    }
    ConvertError(varInt64);
}

std::int32_t TVariant::AsInteger() const {
    std::int64_t v = AsInt64();
    if (v < INT32_MIN || v > INT32_MAX) ConvertError(varInteger);
    return static_cast<std::int32_t>(v);
}

double TVariant::AsDouble() const {
    switch (type_) {
        case varEmpty:
        case varNull: return 0;
        case varBoolean: return u_.b ? -1 : 0;
        case varInteger:
        case varInt64: return static_cast<double>(u_.i);
        case varCurrency: return static_cast<double>(u_.i) / 10000.0;
        case varDouble:
        case varDate: return u_.d;
        case varString: {
            double d;
            if (ParseFloat(s_, FormatSettings().DecimalSeparator, d)) return d;
            break;
        }
        case varArray: break;
    }
    ConvertError(varDouble);
}

double TVariant::AsCurrency() const { return static_cast<double>(AsCurrencyScaled()) / 10000.0; }

std::int64_t TVariant::AsCurrencyScaled() const {
    if (type_ == varCurrency) return u_.i;
    double d = AsDouble();
    if (!std::isfinite(d) || std::fabs(d) > 9.2e14) ConvertError(varCurrency);
    return static_cast<std::int64_t>(std::llround(d * 10000.0));
}

TDateTime TVariant::AsDateTime() const {
    if (type_ == varString) {
        TDateTime dt;
        if (TryStrToDateTime(s_, dt)) return dt;
        ConvertError(varDate);
    }
    return AsDouble();
}

std::string TVariant::AsString() const {
    char buf[kNumTextMax];
    switch (type_) {
        case varEmpty:
        case varNull: return std::string();
        case varBoolean: return u_.b ? "True" : "False";
        case varInteger:
        case varInt64: return std::string(buf, FormatInt64(u_.i, buf));
        case varCurrency:
            return std::string(buf, FormatFloatGeneral(static_cast<double>(u_.i) / 10000.0,
                                                       FormatSettings().DecimalSeparator, buf));
        case varDouble:
            return std::string(buf, FormatFloatGeneral(u_.d, FormatSettings().DecimalSeparator, buf));
        case varDate: return DateTimeToStr(u_.d);
        case varString: return s_;
        case varArray: break;
    }
    ConvertError(varString);
}

bool TVariant::operator==(const TVariant& o) const {
    if (type_ == varArray || o.type_ == varArray) {
        if (type_ != o.type_ || a_.size() != o.a_.size()) return false;
        for (std::size_t i = 0; i < a_.size(); ++i)
            if (a_[i] != o.a_[i]) return false;
        return true;
    }
    if (IsNullOrEmpty() || o.IsNullOrEmpty()) return type_ == o.type_;
    if (type_ == varString || o.type_ == varString) {
        if (type_ != o.type_) return false;
        return s_ == o.s_;
    }
    if (type_ == varBoolean && o.type_ == varBoolean) return u_.b == o.u_.b;
    if ((type_ == varInteger || type_ == varInt64) && (o.type_ == varInteger || o.type_ == varInt64))
        return u_.i == o.u_.i;
    if (type_ == varCurrency && o.type_ == varCurrency) return u_.i == o.u_.i;
    return AsDouble() == o.AsDouble();
}

}  // namespace zarbel
