// Choosing an index for a list of fields, the key range by field values, and the exact
// locate through an index.
#include <algorithm>
#include <cstring>
#include <vector>

#include "expr/HXDBFExprFunctions.h"
#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"
#include "platform/dataset.h"
#include "platform/exception.h"
#include "platform/variant.h"

namespace zarbel {

namespace {

// The names of a ";"-separated list, upper-cased (a to z) as the key's references are.
std::vector<std::string> Names(std::string_view fields) {
    std::vector<std::string> out;
    ForEachFieldName(fields, [&](std::string_view name) {
        std::string n(name);
        for (char& c : n)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out.push_back(std::move(n));
    });
    return out;
}

// How many of the key's field references, from its first, stand where the list has them.
int InPlace(const THXDBFExprParser& key, const std::vector<std::string>& names) {
    const std::vector<std::string> refs = Names(key.FieldUseList());
    int n = 0;
    while (n < static_cast<int>(refs.size()) && n < static_cast<int>(names.size()) &&
           refs[static_cast<std::size_t>(n)] == names[static_cast<std::size_t>(n)])
        ++n;
    return n;
}

// The terms of a key joined by "+", in the order they stand.
void Terms(const TDBFExprNode* n, std::vector<const TDBFExprNode*>& out) {
    while (n->Kind == enOperator && n->Operator == coADD && n->Left && n->Right) {
        out.push_back(n->Right);
        n = n->Left;
    }
    out.push_back(n);
    std::reverse(out.begin(), out.end());
}

// The field a term reads: a plain reference, or with upper, UPPER(reference).
const TField* TermField(const TDBFExprNode* t, bool upper) {
    if (upper) {
        if (t->Kind != enFunction || !t->Func || std::strcmp(t->Func->Name, "UPPER") != 0 || t->Args.size() != 1)
            return nullptr;
        t = t->Args[0];
    }
    return t->Kind == enField ? t->Field : nullptr;
}

}  // namespace

bool THXNTXIndex::AnswersExactLocate(const TField* const* fields, std::size_t count, bool upper) const {
    if (!Open_ || !KeyParser_ || !KeyParser_->Root() || HasFor_ || Unique() || OnEvaluteKey ||
        !Cmp_.EqualMeansSame() || count == 0)
        return false;
    std::vector<const TDBFExprNode*> terms;
    Terms(KeyParser_->Root(), terms);
    if (terms.size() != count) return false;
    std::size_t width = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const TField* f = fields[i];
        const bool date = f->DataType() == ftDate;
        // a date only as the whole key (joined to text it is no longer its own key form)
        if (date && count > 1) return false;
        if (TermField(terms[i], upper && !date) != f) return false;
        width += date ? 8 : static_cast<std::size_t>(f->Size());
    }
    return width == static_cast<std::size_t>(KeySize());
}

std::uint32_t THXNTXIndex::SeekValues(std::string_view fields, const TVariant& values,
                                      const std::function<bool(std::uint32_t recNo)>& accept) {
    if (!KeyParser_) throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is not open");
    return FindKey(KeyParser_->EvaluateKeyForValues(fields, values, ' ', false), false, 0, false, accept);
}

// The index whose key begins with the most fields of the list wins. Among equals, the one
// whose key takes them in the list's order goes first (NAME;CITY: NAME+CITY before
// CITY+NAME), then the first in the collection.
THXNTXIndex& TIndexes::IndexForFields(const std::string& fields) {
    const std::vector<std::string> names = Names(fields);
    THXNTXIndex* best = nullptr;
    int bestCount = 0, bestInPlace = 0;
    for (auto& ix : Items_) {
        const THXDBFExprParser* key = ix->KeyParser();
        if (!key) continue;
        const int n = key->FieldUseCount(fields);
        if (n == 0 || n < bestCount) continue;
        const int inPlace = InPlace(*key, names);
        if (n > bestCount || inPlace > bestInPlace) {
            best = ix.get();
            bestCount = n;
            bestInPlace = inPlace;
        }
    }
    if (!best || bestCount != static_cast<int>(names.size()))
        throw Exception("THXSmartDBF: There is no suitable index!");
    return *best;
}

int TIndexes::ExactLocateIndex(const TField* const* fields, std::size_t count, bool upper) {
    for (std::size_t i = 0; i < Items_.size(); ++i)
        if (Items_[i]->AnswersExactLocate(fields, count, upper)) return static_cast<int>(i);
    return -1;
}

std::uint32_t TIndexes::SeekValues(int index, std::string_view fields, const TVariant& values,
                                   const std::function<bool(std::uint32_t recNo)>& accept) {
    return (*this)[index].SeekValues(fields, values, accept);
}

void TIndexes::SetFieldRange(std::string_view fields, const TVariant& lo, const TVariant& hi) {
    const std::string list(fields);
    IndexForFields(list).SetRangeByValues(list, lo, hi);
}

void TIndexes::CancelFieldRange(std::string_view fields) {
    IndexForFields(std::string(fields)).NTXRange().SetActive(false);
}

void THXNTXIndex::SetRangeByValues(const std::string& fields, const TVariant& lo) {
    SetRangeByValues(fields, lo, lo);
}

void THXNTXIndex::SetRangeByValues(const std::string& fields, const TVariant& lo, const TVariant& hi) {
    if (!KeyParser_) throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is not open");
    std::string loKey = lo.IsNull() ? std::string() : KeyParser_->EvaluateKeyForValues(fields, lo, ' ', false);
    std::string hiKey = hi.IsNull() ? std::string() : KeyParser_->EvaluateKeyForValues(fields, hi, ' ', false);
    const bool same = loKey == Range_.LoKey() && hiKey == Range_.HiKey();
    Range_.SetLoKey(loKey);
    Range_.SetHiKey(hiKey);
    // A range already active takes its new keys: the table goes to its first record in range
    // (the same keys again leave it where it is).
    if (Range_.Active() && Table_.Active()) {
        const bool wasCurrent = Active();
        SetActive(true);
        if (!same || !wasCurrent) Table_.First();
    } else {
        Range_.SetActive(true);
    }
}

}  // namespace zarbel
