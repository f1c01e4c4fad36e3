// Choosing an index for a list of fields, and the key range by field values.
#include <vector>

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

}  // namespace

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

void THXNTXIndex::SetRangeByValues(const std::string& fields, const TVariant& lo) {
    SetRangeByValues(fields, lo, lo);
}

void THXNTXIndex::SetRangeByValues(const std::string& fields, const TVariant& lo, const TVariant& hi) {
    if (!KeyParser_) throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is not open");
    Range_.SetLoKey(KeyParser_->EvaluateKeyForValues(fields, lo, ' ', false));
    Range_.SetHiKey(KeyParser_->EvaluateKeyForValues(fields, hi, ' ', false));
    // A range already active takes its new keys: the table goes to its first record in range.
    if (Range_.Active() && Table_.Active()) {
        SetActive(true);
        Table_.First();
    } else {
        Range_.SetActive(true);
    }
}

}  // namespace zarbel
