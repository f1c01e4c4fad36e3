#include "index/HXNTXIndex.h"

#include <algorithm>
#include <cstring>

#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

// A text holding a character below 32 stands for no text.
std::string CleanText(const std::string& v) {
    for (unsigned char c : v)
        if (c < 32) return std::string();
    return v;
}

}  // namespace


// ---------------------------------------------------------------------------------------
// THXNTXRange
// ---------------------------------------------------------------------------------------

void THXNTXRange::SetActive(bool v) {
    const bool changed = v != Active_;
    Active_ = v;
    if (v) Owner_.SetActive(true);
    if (changed && Owner_.Table_.Active()) Owner_.Table_.First();
}

// ---------------------------------------------------------------------------------------
// Properties
// ---------------------------------------------------------------------------------------

THXNTXIndex::THXNTXIndex(TIndexes& owner, THXDBFNTX& table) : Owner_(owner), Table_(table) {}

THXNTXIndex::~THXNTXIndex() {
    try {
        Close();
    } catch (...) {
        // nothing is written by an index that reads; a failure here has nobody to tell
    }
}

bool THXNTXIndex::Active() const { return Owner_.Current() == this; }

void THXNTXIndex::SetActive(bool v) {
    if (v == Active()) return;
    const bool open = Table_.Active() && Open_;
    if (!v) {
        const int n = Table_.Active() ? Table_.RecNo() : -1;
        Owner_.SetCurrent(nullptr);
        if (Table_.Active() && n > 0) Table_.SetRecNo(n);
        return;
    }
    Owner_.SetCurrent(this);
    if (!open) return;
    // The table stays on its record when this index holds it, else goes to the first one.
    std::uint32_t found = 0;
    const int n = Table_.RecNo();
    if (n > 0) {
        std::string key = EvaluateKey();
        Fit(key);
        TReadLock lock(*this);
        if (Tree_.SeekEntry(Cur_, reinterpret_cast<const std::uint8_t*>(key.data()), static_cast<std::uint32_t>(n)) &&
            Cur_.RecNo() == static_cast<std::uint32_t>(n) &&
            std::memcmp(Cur_.Key(), key.data(), key.size()) == 0)
            found = Cur_.RecNo();
    }
    if (found) {
        Table_.SetRecNo(static_cast<int>(found));
        if (Table_.RecNo() == static_cast<int>(found)) return;
    }
    Table_.First();
}

void THXNTXIndex::SetCollationType(THXCollationTypes t) {
    if (Open_)
        throw Exception("TIndex.SetCollationType: You can set collation type only when index is not open!");
    Collation_.SetCollationType(t);
}

void THXNTXIndex::SetNTXFileName(const std::string& v) {
    NTXFileName_ = v;
    Name_ = NTXFileStem(v);
}

void THXNTXIndex::SetKeyExpresion(const std::string& v) {
    KeyExpresion_ = CleanText(v);
    if (Open_ && Table_.Active()) CompileExpressions();
}

void THXNTXIndex::SetForExpresion(const std::string& v) {
    ForExpresion_ = CleanText(v);
    if (Open_ && Table_.Active()) CompileExpressions();
}

bool THXNTXIndex::Unique() const { return Open_ ? Tree_.Header().Unique != 0 : Unique_; }
bool THXNTXIndex::Desc() const { return Open_ ? Tree_.Header().Descending != 0 : Desc_; }
int THXNTXIndex::KeySize() const { return Open_ ? Tree_.Header().KeySize : 0; }
int THXNTXIndex::KeyDecimals() const { return Open_ ? Tree_.Header().KeyDecimals : 0; }

[[noreturn]] void THXNTXIndex::Corrupt(const std::string& reason) const {
    throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is corrupt: " + reason);
}

// ---------------------------------------------------------------------------------------
// Open and close
// ---------------------------------------------------------------------------------------

THXNTXBag& THXNTXIndex::DefineBag() {
    THXDBFIndexDefs& defs = Table_.DBFIndexDefs();
    THXNTXBag* bag = defs.Find(BagName_.empty() ? Name_ : BagName_);
    if (!bag) {
        // A bag of our own: its order takes this index's settings.
        bag = &defs.Add();
        OwnBag_ = bag;
        bag->SetName(Name_);
        bag->SetIndexFileName(NTXFileName_);
        bag->SetStorageType(Table_.StorageType());
        bag->SetAccessMode(FileAccessMode_);
        THXNTXOrder& o = bag->Order();
        o.Collation() = Collation_;
        o.LimitPages() = LimitPages_;
    }
    return *bag;
}

void THXNTXIndex::DefineBagAndOrder() {
    THXNTXBag* bag = &DefineBag();
    if (!bag->IsOpen()) bag->Open(Table_);
    // An NTX bag holds one order: it is taken whatever name its header gives it.
    Bag_ = bag;
    Order_p = &bag->Order();
    Collation_ = Order_p->Collation();
    LimitPages_ = Order_p->LimitPages();
}

void THXNTXIndex::Open() {
    if (Open_) return;
    try {
        DefineBagAndOrder();
        Tree_.SetCorruptPrefix("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is corrupt: ");
        std::string reason;
        TDBFCipher* cipher = Table_.Cipher();
        switch (Tree_.Open(Bag_->Stream(), cipher && cipher->Active() ? cipher : nullptr, reason)) {
            case TNTXOpenStatus::Ok: break;
            case TNTXOpenStatus::ReadFailed:
            case TNTXOpenStatus::NotNTX:
                throw Exception("THXNTXIndex.Open: File \"" + NTXFileName_ + "\" is not NTX file");
            case TNTXOpenStatus::Corrupt: Corrupt(reason);
        }
        const TNTXHeader& h = Tree_.Header();
        THXNTXBuffers& b = Tree_.Buffers();
        b.SetPagesPerBuffer(LimitPages_.PagesPerBuffer());
        b.SetLimitType(LimitPages_.LimitPagesType());
        if (LimitPages_.LimitPagesType() == lbtAuto) {
            b.ApplyAutoLimit(Table_.FileRecordCount(), h.HalfPage);
            LimitPages_.SetLimitBuffers(b.LimitBuffers());
        } else {
            b.SetLimitBuffers(LimitPages_.LimitBuffers());
        }
        Unique_ = h.Unique != 0;
        Desc_ = h.Descending != 0;
        KeyExpresion_ = h.KeyExpression();
        ForExpresion_ = h.ForExpression();
        ApplyCollation();
        CompileExpressions();
        // Nobody else writes the file: the index stays in its update state until it closes, so
        // its header is never read again (and nothing is written unless a page changed).
        // Its signature word is 0 while pages change, so a writer killed meanwhile leaves a
        // file that refuses to open rather than one that silently lacks keys.
        if (Table_.LockState().NoSharing()) {
            Tree_.SetGuardSignature(true);
            Tree_.BeginUpdate();
        }
        Open_ = true;
    } catch (...) {
        Tree_.Close();
        if (Bag_) Bag_->Close();
        KeyParser_.reset();
        ForParser_.reset();
        throw;
    }
}

void THXNTXIndex::ApplyCollation() {
    const bool storedOem = KeyTranslate_ && Table_.OEM();
    const bool weighted = Collation_.Weights(Weights_);
    Cmp_.Setup(storedOem, weighted ? &Weights_ : nullptr, Tree_.Header().Descending != 0);
    Cmp_.SetEvent(this, &OnCompareKeys);
    Tree_.SetCompare(&Cmp_);
}

void THXNTXIndex::CompileExpressions() {
    auto key = std::make_unique<THXDBFExprParser>(&Table_, 0u, unsigned(poExtendedSyntax));
    key->SetIndexMode(true);
    key->Compile(KeyExpresion_);
    std::unique_ptr<THXDBFExprParser> cond;
    if (!ForExpresion_.empty()) {
        cond = std::make_unique<THXDBFExprParser>(&Table_, 0u, unsigned(poExtendedSyntax));
        cond->SetIndexMode(true);
        cond->Compile(ForExpresion_);
    }
    KeyParser_ = std::move(key);
    ForParser_ = std::move(cond);
    HasFor_ = !ForExpresion_.empty();
}

void THXNTXIndex::Close() {
    if (!Open_) return;
    Open_ = false;
    Cur_.Invalidate();
    std::exception_ptr failure;
    try {
        if (Tree_.InUpdate()) Tree_.EndUpdate();
    } catch (...) {
        failure = std::current_exception();
    }
    if (Lock_.IsIndexLocked()) Unlock();
    Tree_.Close();
    KeyParser_.reset();
    ForParser_.reset();
    if (Bag_) {
        Bag_->Close();
        if (Temp_) Table_.Env().DeleteFile(NTXFileName_);
    }
    if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------------------
// Locking
// ---------------------------------------------------------------------------------------

bool THXNTXIndex::Lock() { return Bag_ && Lock_.IndexLock(Bag_->Stream(), Table_.LockState()); }

bool THXNTXIndex::Unlock() { return Bag_ && Lock_.IndexUnlock(Bag_->Stream(), Table_.LockState()); }

// ---------------------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------------------

const std::string& THXNTXIndex::EvaluateKey() {
    if (OnEvaluteKey) {
        Scratch_.clear();
        OnEvaluteKey(this, Scratch_);
        return Scratch_;
    }
    return KeyParser_->EvaluateKey();
}

const std::string& THXNTXIndex::EvaluateKeyOf(const std::uint8_t* rec) { return KeyOf(rec, false); }

const std::string& THXNTXIndex::RangeKeyOf(const std::uint8_t* rec) { return KeyOf(rec, !OnEvaluteKey); }

const std::string& THXNTXIndex::KeyOf(const std::uint8_t* rec, bool unpadded) {
    TExprRecordScope scope(Table_, rec);
    return unpadded ? KeyParser_->EvaluateKeyUnpadded() : EvaluateKey();
}

bool THXNTXIndex::EvaluateFor() {
    if (OnEvaluteFor) {
        bool v = true;
        OnEvaluteFor(this, v);
        return v;
    }
    return !ForParser_ || ForParser_->EvaluateBoolean();
}

void THXNTXIndex::Fit(std::string& key) const {
    key.resize(Tree_.Header().KeySize, ' ');
    Cmp_.Prepare(key, key);
}

void THXNTXIndex::PrepareSearch(const std::string& ansi) {
    Search_.assign(ansi, 0, std::min<std::size_t>(ansi.size(), Tree_.Header().KeySize));
    Cmp_.Prepare(Search_, Search_);
}

bool THXNTXIndex::RecordInRange(const std::uint8_t* rec) {
    if (!Range_.Active()) return true;
    if (InRange(RangeKeyOf(rec))) return true;
    // Several string fields: "SMITH"+"JOHN" is "SMITHJOHN" unpadded, as a range from values
    // given without their blanks takes it, but a range from values with their blanks (a
    // master's, read with TrimCType off) needs the key as stored.
    return !OnEvaluteKey && InRange(EvaluateKeyOf(rec));
}

bool THXNTXIndex::InRange(const std::string& ansiKey) {
    if (!Range_.Active()) return true;
    const std::size_t size = Tree_.Header().KeySize;
    RangeKey_ = ansiKey;
    Fit(RangeKey_);
    const auto* key = reinterpret_cast<const std::uint8_t*>(RangeKey_.data());
    const std::size_t h = std::min(Range_.HiKey().size(), size);
    if (h < 1) return false;
    PrepareSearch(Range_.HiKey());
    if (Cmp_.Raw(reinterpret_cast<const std::uint8_t*>(Search_.data()), key, h) < 0) return false;
    if (Range_.LoKey().empty()) return true;
    const std::size_t l = std::min(Range_.LoKey().size(), size);
    PrepareSearch(Range_.LoKey());
    return Cmp_.Raw(reinterpret_cast<const std::uint8_t*>(Search_.data()), key, l) <= 0;
}

void THXNTXIndex::CheckRecNo(std::uint32_t n, std::uint32_t count) {
    if (n < 1 || n > count)
        Corrupt("record number " + std::to_string(n) + " is outside 1.." + std::to_string(count));
}

// ---------------------------------------------------------------------------------------
// Positioning
// ---------------------------------------------------------------------------------------

void THXNTXIndex::SetCurrent(const THXNTXCursor& c) {
    if (c.Valid()) {
        CurKey_.assign(reinterpret_cast<const char*>(c.Key()), Tree_.Header().KeySize);
        CurRec_ = c.RecNo();
    }
}

bool THXNTXIndex::First() {
    TReadLock lock(*this);
    Found_ = Tree_.First(Cur_);
    SetCurrent(Cur_);
    return Found_;
}

bool THXNTXIndex::Last() {
    TReadLock lock(*this);
    Found_ = Tree_.Last(Cur_);
    SetCurrent(Cur_);
    return Found_;
}

bool THXNTXIndex::Next() {
    TReadLock lock(*this);
    if (!Cur_.Valid() || !Tree_.Next(Cur_)) return false;
    SetCurrent(Cur_);
    return true;
}

bool THXNTXIndex::Prior() {
    TReadLock lock(*this);
    if (!Cur_.Valid() || !Tree_.Prev(Cur_)) return false;
    SetCurrent(Cur_);
    return true;
}

bool THXNTXIndex::Seek(const std::string& key, bool soft) {
    TReadLock lock(*this);
    PrepareSearch(key);
    Found_ = Tree_.Seek(Cur_, reinterpret_cast<const std::uint8_t*>(Search_.data()), Search_.size(), soft);
    SetCurrent(Cur_);
    return Found_;
}

std::uint32_t THXNTXIndex::FindKey(const std::string& key, bool soft, std::uint32_t recNo, bool partial) {
    return FindKey(key, soft, recNo, partial, [&](std::uint32_t r) {
        bool ok = false;
        if (Table_.ReadRecordDirect(static_cast<int>(r))) {
            try {
                ok = Table_.AcceptsRecord(Table_.ActiveRecord());
            } catch (...) {
                Table_.ReleaseRecordDirect();
                throw;
            }
            Table_.ReleaseRecordDirect();
        }
        return ok;
    });
}

std::uint32_t THXNTXIndex::FindKey(const std::string& key, bool soft, std::uint32_t recNo, bool partial,
                                   const std::function<bool(std::uint32_t recNo)>& accept) {
    TReadLock lock(*this);
    Table_.FlushAddBuffer();
    PrepareSearch(key);
    // The key sought is its own copy: the record test may prepare other keys (a range test).
    Sought_.assign(Search_);
    const std::string& search = Sought_;
    const std::uint32_t count = Table_.FileRecordCount();
    return Tree_.FindKey(reinterpret_cast<const std::uint8_t*>(search.data()), search.size(), soft, recNo, partial,
                         [&](std::uint32_t r) {
                             CheckRecNo(r, count);
                             return accept(r);
                         });
}

// ---------------------------------------------------------------------------------------
// Read-ahead
// ---------------------------------------------------------------------------------------

int THXNTXIndex::Fill(TDBFReadBlock& block, THXNTXCursor& c, bool forward) {
    const int cap = block.Capacity();
    const std::uint32_t count = Table_.FileRecordCount();
    const std::size_t size = Tree_.Header().KeySize;
    // A forward fill of an ascending index ends past HiKey: no key after it is in range.
    const bool stopAtHi = forward && Range_.Active() && !Cmp_.Desc();
    std::size_t hiLen = 0;
    if (stopAtHi) {
        hiLen = std::min(Range_.HiKey().size(), size);
        PrepareSearch(Range_.HiKey());
    }
    int k = 0;
    while (c.Valid() && k < cap) {
        if (stopAtHi && (hiLen < 1 || Cmp_.Raw(reinterpret_cast<const std::uint8_t*>(Search_.data()), c.Key(), hiLen) < 0))
            break;
        CheckRecNo(c.RecNo(), count);
        const int slot = forward ? k : cap - 1 - k;
        if (!block.Load(slot, c.RecNo())) Corrupt("record " + std::to_string(c.RecNo()) + " cannot be read");
        // the block's ends in key order: a forward fill ends with its last key, a backward
        // fill with its first
        if (k == 0 || !forward) {
            BlockFirstKey_.assign(reinterpret_cast<const char*>(c.Key()), size);
            BlockFirstRec_ = c.RecNo();
        }
        if (k == 0 || forward) {
            BlockLastKey_.assign(reinterpret_cast<const char*>(c.Key()), size);
            BlockLastRec_ = c.RecNo();
        }
        SetCurrent(c);
        ++k;
        if (!(forward ? Tree_.Next(c) : Tree_.Prev(c))) break;
    }
    return k;
}

int THXNTXIndex::ReadFirst(TDBFReadBlock& block) {
    TReadLock lock(*this);
    Table_.FlushAddBuffer();
    THXNTXCursor c;
    if (!Tree_.First(c)) return 0;
    return Fill(block, c, true);
}

int THXNTXIndex::ReadLast(TDBFReadBlock& block) {
    TReadLock lock(*this);
    Table_.FlushAddBuffer();
    THXNTXCursor c;
    if (!Tree_.Last(c)) return 0;
    return Fill(block, c, false);
}

int THXNTXIndex::ReadForward(TDBFReadBlock& block) {
    if (BlockLastRec_ == 0) return 0;
    TReadLock lock(*this);
    Table_.FlushAddBuffer();
    THXNTXCursor c;
    const auto* key = reinterpret_cast<const std::uint8_t*>(BlockLastKey_.data());
    if (!Tree_.SeekEntry(c, key, BlockLastRec_)) return 0;
    // on the block's last entry itself: the one after it. A damaged file may hold that entry
    // more than once; stepping past every copy keeps the walk from showing it for ever.
    while (c.RecNo() == BlockLastRec_ && std::memcmp(c.Key(), key, BlockLastKey_.size()) == 0)
        if (!Tree_.Next(c)) return 0;
    // (a fill that loads nothing leaves the block's ends as they were)
    return Fill(block, c, true);
}

int THXNTXIndex::ReadBackward(TDBFReadBlock& block) {
    if (BlockFirstRec_ == 0) return 0;
    TReadLock lock(*this);
    Table_.FlushAddBuffer();
    THXNTXCursor c;
    const auto* key = reinterpret_cast<const std::uint8_t*>(BlockFirstKey_.data());
    // the entry before the block's first one
    if (Tree_.SeekEntry(c, key, BlockFirstRec_)) {
        if (!Tree_.Prev(c)) return 0;
    } else if (!Tree_.Last(c)) {
        return 0;
    }
    return Fill(block, c, false);
}

int THXNTXIndex::ReadAround(TDBFReadBlock& block, std::uint32_t n) {
    if (n < 1) n = 1;
    Table_.FlushAddBuffer();
    std::string key;
    if (!Table_.ReadRecordDirect(static_cast<int>(n))) return 0;
    try {
        key = EvaluateKey();
    } catch (...) {
        Table_.ReleaseRecordDirect();
        throw;
    }
    Table_.ReleaseRecordDirect();
    Fit(key);
    TReadLock lock(*this);
    THXNTXCursor c;
    if (!Tree_.SeekEntry(c, reinterpret_cast<const std::uint8_t*>(key.data()), n)) return 0;
    return Fill(block, c, true);
}

// ---------------------------------------------------------------------------------------
// VerifyIndex
// ---------------------------------------------------------------------------------------

TVerifyNotes THXNTXIndex::VerifyIndex() {
    TReadLock lock(*this);
    Table_.FlushAddBuffer();
    const std::uint32_t count = Table_.FileRecordCount();
    const std::size_t size = Tree_.Header().KeySize;
    std::string recordFinding, computed, shownA, shownB;
    TNTXVerifyOptions options;
    options.KeyText = [this](const std::uint8_t* key, std::size_t n) {
        std::string s;
        Cmp_.ToAnsi(std::string_view(reinterpret_cast<const char*>(key), n), s);
        return s;
    };
    options.OnKey = [&](std::uint32_t recNo, const std::uint8_t* key) {
        if (!recordFinding.empty()) return;
        CheckRecNo(recNo, count);
        if (!Table_.ReadRecordDirect(static_cast<int>(recNo))) Corrupt("record " + std::to_string(recNo) + " cannot be read");
        try {
            computed = EvaluateKey();
        } catch (...) {
            Table_.ReleaseRecordDirect();
            throw;
        }
        Table_.ReleaseRecordDirect();
        Fit(computed);
        if (std::memcmp(computed.data(), key, size) != 0) {
            Cmp_.ToAnsi(computed, shownA);
            Cmp_.ToAnsi(std::string_view(reinterpret_cast<const char*>(key), size), shownB);
            recordFinding = "THXNTXIndex.VerifyIndex: For recNo = " + std::to_string(recNo) + " key must be " +
                            shownA + " , but was " + shownB;
        }
    };
    options.MaxFindings = 1;
    const TNTXVerifyReport report = Tree_.Verify(options);
    if (!report.Findings.empty()) throw Exception(report.Findings.front().Message);
    if (!recordFinding.empty()) throw Exception(recordFinding);
    if (!HasFor_ && !Unique() && report.KeyCount != count)
        throw Exception("THXNTXIndex.VerifyIndex: ItemCount in index " + std::to_string(report.KeyCount) +
                        ", but record count in dbf " + std::to_string(count));
    VerifiedKeys_ = report.KeyCount;
    return report.Notes;
}

}  // namespace zarbel
