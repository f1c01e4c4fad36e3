// Index kinds, and the create side of index definitions: every bag of a table's DBFIndexDefs
// created with its one order when the table is created.
#include "index/HXDBFIndexDefs.h"

#include <vector>

#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"
#include "platform/exception.h"

namespace zarbel {

int IndexKindOfClass(std::string_view className) {
    if (className == "THXNTXIndex" || className == "THXNTXBag") return ikNTX;
    if (className == "THXNDXIndex" || className == "THXNDXBag") return ikNDX;
    if (className == "THXMDXIndex" || className == "THXMDXBag") return ikMDX;
    if (className == "THXCDXIndex" || className == "THXCDXBag") return ikCDX;
    return ikUnknown;
}

int TIndexes::Kind() const { return IndexKindOfClass("THXNTXIndex"); }
int THXDBFIndexDefs::Kind() const { return IndexKindOfClass("THXNTXBag"); }

namespace {

// An expression holding a character below 32 is kept as empty, as the index keeps it.
std::string Expression(const std::string& v) {
    for (unsigned char c : v)
        if (c < 32) return std::string();
    return v;
}

}  // namespace

void THXNTXOrder::SetKeyExpresion(const std::string& v) { KeyExpresion_ = Expression(v); }
void THXNTXOrder::SetForExpresion(const std::string& v) { ForExpresion_ = Expression(v); }

void THXNTXOrder::CreateOrder(THXDBFNTX& table, TProxyStream& stream) {
    const std::string where = "THXNTXOrder.CreateOrder: Order \"" + Name_ + "\": ";
    int keySize = 0, keyDecimals = 0;
    if (!KeyExpresion_.empty()) {
        // The key of a blank record gives the key's size and decimals.
        THXDBFExprParser key(&table, 0u, unsigned(poExtendedSyntax));
        key.SetIndexMode(true);
        key.Compile(KeyExpresion_);
        if (!ForExpresion_.empty()) {
            THXDBFExprParser cond(&table, 0u, unsigned(poExtendedSyntax));
            cond.SetIndexMode(true);
            cond.Compile(ForExpresion_);
        }
        std::vector<std::uint8_t> blank(static_cast<std::size_t>(table.RecordLength()) + 64, ' ');
        table.BlankImage(blank.data());
        {
            TExprRecordScope scope(table, blank.data());
            keySize = static_cast<int>(key.EvaluateKey().size());
        }
        keyDecimals = key.KeyDecimals();
    }
    if (keySize < 1 || keySize > kNTXMaxKeySize)
        throw Exception(where + "key size " + std::to_string(keySize) + " is outside 1.." +
                        std::to_string(kNTXMaxKeySize));
    TNTXHeader h;
    if (!h.InitNew(ClipperVer_, keySize, keyDecimals, KeyExpresion_, ForExpresion_, Unique_, Desc_, Name_))
        throw Exception(where + "a key or FOR expression is longer than 255 bytes");
    TDBFCipher* cipher = table.Cipher();
    if (!THXNTXTree::CreateEmpty(stream, h, cipher && cipher->Active() ? cipher : nullptr) || !stream.Flush())
        throw Exception("THXSmartDBF: " + table.Env().LastErrorText());
    Header_ = h;
}

void THXDBFIndexDefs::CreateAll(THXDBFNTX& table) {
    for (auto& b : Bags_) {
        THXNTXOrder& order = b->Order();
        if (order.HasInitialName()) {
            const std::string stem = NTXFileStem(b->IndexFileName());
            order.SetName(stem.empty() ? b->Name() : stem);
        }
        if (!b->Create(table))
            throw Exception("THXNTXBag.CreateBag: Create error \"" + b->IndexFileName() + "\"" +
                            b->Stream().OpenFailureNote());
        try {
            order.CreateOrder(table, b->Stream());
        } catch (...) {
            b->Close();
            throw;
        }
        b->Close();
    }
}

void TIndexes::CreateFiles(THXSmartDBF&) { Table_.DBFIndexDefs().CreateAll(Table_); }

}  // namespace zarbel
