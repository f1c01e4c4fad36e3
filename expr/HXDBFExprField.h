// The one place where the expression layer reads table fields: a field's current value into an
// expression value, and a field's size, width and decimals as a key. Every read goes through
// the table's field codecs (TField::GetData / GetAsString), so a change of how field bytes are
// decoded reaches expressions by itself.
#pragma once
#include "expr/HXDBFExprParser.h"

namespace zarbel {

// The field's value on the active record (null when it has none).
void ReadExprField(TField& field, TExprValue& out);
// Size, width and decimals of the field as a key: character fields their length; N and F
// fields their length and decimals; dates 8, times 6, date-times 14, logicals 1; other
// numbers 20 (64-bit integers 20, 32-bit 11, 16-bit 6) with the descriptor's decimals.
void ExprFieldShape(THXSmartDBF* table, const TField& field, int& size, int& width, int& decimals);

}  // namespace zarbel
