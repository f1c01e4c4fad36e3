#include "expr/HXDBFExprField.h"

#include <cstring>

#include "engine/HXDBFDataSet.h"

namespace zarbel {

void ReadExprField(TField& field, TExprValue& out) {
    switch (field.DataType()) {
        case ftSmallint: {
            std::int16_t v;
            if (field.GetData(&v)) out.SetInt(v); else out.SetNull();
            return;
        }
        case ftWord: {
            std::uint16_t v;
            if (field.GetData(&v)) out.SetInt(v); else out.SetNull();
            return;
        }
        case ftInteger:
        case ftAutoInc: {
            std::int32_t v;
            if (field.GetData(&v)) out.SetInt(v); else out.SetNull();
            return;
        }
        case ftLargeint: {
            std::int64_t v;
            if (field.GetData(&v)) out.SetInt64(v); else out.SetNull();
            return;
        }
        case ftFloat:
        case ftCurrency:
        case ftBCD: {
            double v;
            if (!field.GetData(&v)) return out.SetNull();
            out.SetDouble(v);
            if (field.DataType() == ftCurrency) out.Type = varCurrency;
            return;
        }
        case ftBoolean: {
            std::int16_t v;
            if (field.GetData(&v)) out.SetBool(v != 0); else out.SetNull();
            return;
        }
        case ftDate: {
            std::int32_t day;
            if (field.GetData(&day)) out.SetDate(static_cast<double>(day - kDateDelta)); else out.SetNull();
            return;
        }
        case ftTime: {
            std::int32_t ms;
            if (field.GetData(&ms)) out.SetDate(static_cast<double>(ms) / kMSecsPerDay); else out.SetNull();
            return;
        }
        case ftDateTime: {
            double ms;
            if (field.GetData(&ms)) out.SetDate(MSecsToDateTime(ms)); else out.SetNull();
            return;
        }
        default:
            // Texts, bytes and memo values: the field's text (translated to ANSI), read in place.
            field.GetAsString(out.Str());
            if (out.S.empty() && field.IsNull()) out.SetNull();
            return;
    }
}

void ExprFieldShape(THXSmartDBF* table, const TField& field, int& size, int& width, int& decimals) {
    const TDBFFieldStore* st = table ? table->FieldStore(&field) : nullptr;
    decimals = 0;
    switch (field.DataType()) {
        case ftString: case ftFixedChar: case ftWideString: case ftGuid: case ftBytes:
            width = field.Size();
            break;
        case ftDate: width = 8; break;
        case ftTime: width = 6; break;
        case ftDateTime: width = 14; break;
        case ftBoolean: width = 1; break;
        case ftSmallint: case ftWord: width = 6; break;
        case ftInteger: case ftAutoInc: width = 11; break;
        case ftLargeint: width = 20; break;
        case ftFloat: case ftCurrency: case ftBCD: width = 20; decimals = field.DataType() == ftCurrency ? 4 : 0; break;
        default: width = field.Size(); break;
    }
    if (st && (st->Letter == 'N' || st->Letter == 'F')) {
        width = st->LenByte;
        decimals = field.DataType() == ftFloat || field.DataType() == ftCurrency ? st->Dec : 0;
    } else if (st && (field.DataType() == ftFloat || field.DataType() == ftCurrency) && st->Dec > 0) {
        decimals = st->Dec;
    }
    size = width;
}

}  // namespace zarbel
