// THXNTXIndex, the writing side: creating an empty index, adding and deleting keys, the edit
// snapshot, updates and rebuilds under the index lock, and the per-record maintenance that the
// table's collection (TIndexes) drives.
//
// Keys made from a record are always key size bytes in stored form (Fit: blank-padded or cut,
// then OEM when the index translates). Keys a caller gives as text are fitted the same way.
#include <cstring>
#include <vector>

#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"
#include "index/HXNTXIndex.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

constexpr std::size_t kMaxExpression = kNTXExprSize - 1;

}  // namespace

// ---------------------------------------------------------------------------------------
// Header flags
// ---------------------------------------------------------------------------------------

void THXNTXIndex::RequireWritable(const char* what) {
    if (Bag_ && !Bag_->Writable(Table_))
        throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is open for reading only: " + what);
}

void THXNTXIndex::WriteHeader() {
    if (!Tree_.WriteHeader()) throw Exception("THXSmartDBF: " + Table_.Env().LastErrorText());
}

void THXNTXIndex::SetUnique(bool v) {
    Unique_ = v;
    if (!Open_) return;
    RequireWritable("its header cannot be changed");
    Tree_.MutableHeader().Unique = v ? 1 : 0;
    WriteHeader();
}

void THXNTXIndex::SetDesc(bool v) {
    Desc_ = v;
    if (!Open_) return;
    RequireWritable("its header cannot be changed");
    Tree_.MutableHeader().Descending = v ? 1 : 0;
    WriteHeader();
    ApplyCollation();
}

// ---------------------------------------------------------------------------------------
// Creating
// ---------------------------------------------------------------------------------------

bool THXNTXBag::Create(THXDBFNTX& table) {
    if (StorageType_ == pstOuterStream && !Outer_)
        throw Exception("THXNTXBag.CreateBag: StorageType = pstOuterStream but OuterStream = nil!");
    SetUpStream(table);
    Stream_.CreateProxyStream();
    return Stream_.IsOpen();
}

void THXNTXIndex::CreateIndex() { CreateEmpty(nullptr); }

void THXNTXIndex::CreateEmpty(const std::string* createError) {
    const std::string where = "THXNTXIndex.CreateIndex: Index file \"" + NTXFileName_ + "\": ";
    if (!Table_.Active()) throw Exception(where + "the table is not open");
    Close();
    TIndexAttributes a;
    a.KeyExpresion = KeyExpresion_;
    a.ForExpresion = ForExpresion_;
    if (!KeyExpresion_.empty()) {
        // The key of a blank record gives the key's size and decimals.
        CompileExpressions();
        std::vector<std::uint8_t> blank(static_cast<std::size_t>(Table_.RecordLength()) + 64, ' ');
        Table_.BlankImage(blank.data());
        const std::string& key = EvaluateKeyOf(blank.data());
        a.KeySize = static_cast<std::uint16_t>(std::min<std::size_t>(key.size(), 0xFFFF));
        a.KeyDecimals = static_cast<std::uint16_t>(KeyParser_->KeyDecimals());
    }
    if (OnCreateIndex) OnCreateIndex(this, a);
    KeyParser_.reset();
    ForParser_.reset();
    if (a.KeySize < 1 || a.KeySize > kNTXMaxKeySize)
        throw Exception(where + "key size " + std::to_string(a.KeySize) + " is outside 1.." +
                        std::to_string(kNTXMaxKeySize));
    if (a.KeyExpresion.size() > kMaxExpression || a.ForExpresion.size() > kMaxExpression)
        throw Exception(where + "a key or FOR expression is longer than " + std::to_string(kMaxExpression) +
                        " bytes");
    TNTXHeader h;
    if (!h.InitNew(ClipperVer_, a.KeySize, a.KeyDecimals, a.KeyExpresion, a.ForExpresion, Unique_, Desc_, Order_))
        throw Exception(where + "the header cannot hold these key attributes");
    THXNTXBag& bag = DefineBag();
    if (!bag.Create(Table_)) {
        if (createError) throw Exception(*createError);
        throw Exception(where + "can not be created" + bag.Stream().OpenFailureNote());
    }
    TDBFCipher* cipher = Table_.Cipher();
    const bool written = THXNTXTree::CreateEmpty(bag.Stream(), h, cipher && cipher->Active() ? cipher : nullptr);
    const std::string why = written ? std::string() : Table_.Env().LastErrorText();
    bag.Close();
    if (!written) {
        Table_.Env().DeleteFile(NTXFileName_);
        throw Exception("THXSmartDBF: " + why);
    }
    KeyExpresion_ = a.KeyExpresion;
    ForExpresion_ = a.ForExpresion;
    Open();
}

// ---------------------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------------------

bool THXNTXIndex::AddStored(std::uint32_t recNo) {
    if (!KeyFor_) return false;
    const auto* key = reinterpret_cast<const std::uint8_t*>(Key_.data());
    if (Tree_.Header().Unique) {
        if (Tree_.Seek(Probe_, key, Key_.size(), false)) return false;
    } else if (Tree_.SeekEntry(Probe_, key, recNo) && Probe_.RecNo() == recNo &&
               std::memcmp(Probe_.Key(), key, Key_.size()) == 0) {
        // The entry is there already (an index left over from a longer table, a post without
        // an edit beginning): a second copy would make the index unreadable.
        return false;
    }
    Tree_.AddKey(key, recNo);
    return true;
}

bool THXNTXIndex::AddKey(const std::string& key, std::uint32_t recNo) {
    Key_ = key;
    Fit(Key_);
    KeyFor_ = EvaluateFor();
    return AddStored(recNo);
}

bool THXNTXIndex::AddCurrentRecord(std::uint32_t recNo) { return AddKey(EvaluateKey(), recNo); }

bool THXNTXIndex::DeleteKey(const std::string& key, std::uint32_t recNo) {
    Key_ = key;
    Fit(Key_);
    return Tree_.DeleteKey(reinterpret_cast<const std::uint8_t*>(Key_.data()), recNo);
}

bool THXNTXIndex::TakeSnapshot(std::uint32_t recNo) {
    if (recNo == 0) recNo = static_cast<std::uint32_t>(Table_.RecNo());
    SnapKey_ = EvaluateKey();
    Fit(SnapKey_);
    SnapFor_ = EvaluateFor();
    SnapRec_ = recNo;
    SnapValid_ = true;
    if (!Tree_.Header().Unique && !HasFor_) return true;
    // The snapshot stays the record's own key: taking another record's entry in its place would
    // make the post delete that record's key.
    TReadLock lock(*this);
    return Tree_.Seek(Probe_, reinterpret_cast<const std::uint8_t*>(SnapKey_.data()), SnapKey_.size(), false);
}

void THXNTXIndex::StoredKeyOf(const std::uint8_t* rec) {
    {
        TExprRecordScope scope(Table_, rec);
        Key_ = EvaluateKey();
        KeyFor_ = EvaluateFor();
    }
    Fit(Key_);
}

void THXNTXIndex::SnapshotOf(const std::uint8_t* rec, std::uint32_t recNo) {
    StoredKeyOf(rec);
    SnapKey_ = Key_;
    SnapFor_ = KeyFor_;
    SnapRec_ = recNo;
    SnapValid_ = true;
}

bool THXNTXIndex::AddRecord(const std::uint8_t* rec, std::uint32_t recNo) {
    StoredKeyOf(rec);
    return AddStored(recNo);
}

// ---------------------------------------------------------------------------------------
// Updates and rebuilds
// ---------------------------------------------------------------------------------------

void THXNTXIndex::BeginUpdate(bool releaseLock) {
    if (!Open_) throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is not open");
    if (Tree_.InUpdate()) return;
    if (!Lock()) throw Exception("THXNTXIndex.BeginUpdate: Can not lock index file \"" + NTXFileName_ + "\"");
    try {
        Tree_.BeginUpdate();
    } catch (...) {
        Unlock();
        throw;
    }
    if (releaseLock) Unlock();
}

void THXNTXIndex::EndUpdate() {
    // Under the no-sharing rule the update lasts until the index closes.
    if (Table_.LockState().NoSharing() || Tree_.Building()) return;
    std::exception_ptr failure;
    try {
        Tree_.EndUpdate();
    } catch (...) {
        failure = std::current_exception();
    }
    if (Lock_.IsIndexLocked()) Unlock();
    if (failure) std::rethrow_exception(failure);
}

void THXNTXIndex::Empty() {
    if (!Open_) throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is not open");
    const bool held = Lock_.IsIndexLocked();
    if (!held && !Lock()) throw Exception("THXNTXIndex.Empty: Can not lock index file \"" + NTXFileName_ + "\"");
    try {
        Tree_.Empty();
    } catch (...) {
        if (!held) Unlock();
        throw;
    }
    Cur_.Invalidate();
    if (!held) Unlock();
}

void THXNTXIndex::BeginRebuild() {
    if (!Open_) throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\" is not open");
    if (!Lock()) throw Exception("THXNTXIndex.BeginRebuild: Can not lock index file \"" + NTXFileName_ + "\"");
    RebuildLocked_ = true;
    try {
        Tree_.BeginRebuild();
    } catch (...) {
        Tree_.MarkFailed();
        RebuildLocked_ = false;
        Unlock();
        throw;
    }
    Cur_.Invalidate();
}

void THXNTXIndex::EndRebuild(bool failed) {
    if (!RebuildLocked_) return;
    std::exception_ptr failure;
    try {
        if (failed)
            Tree_.MarkFailed();
        else
            Tree_.EndRebuild();
    } catch (...) {
        failure = std::current_exception();
    }
    // Back in the update state that lasts until close (the failed file is not written again).
    if (Table_.LockState().NoSharing() && !failed && !failure && !Tree_.InUpdate()) Tree_.BeginUpdate();
    RebuildLocked_ = false;
    Unlock();
    Cur_.Invalidate();
    if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------------------
// Maintenance
// ---------------------------------------------------------------------------------------

void THXNTXIndex::Maintain(std::uint32_t recNo, bool deleteSnapshot, const char* lockMsg) {
    if (!Lock()) throw Exception(lockMsg);
    const bool own = !Tree_.InUpdate();
    std::exception_ptr failure;
    try {
        if (own) Tree_.BeginUpdate();
        if (deleteSnapshot) Tree_.DeleteKey(reinterpret_cast<const std::uint8_t*>(SnapKey_.data()), recNo);
        AddStored(recNo);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        if (own) Tree_.EndUpdate();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    Unlock();
    if (failure) std::rethrow_exception(failure);
}

void THXNTXIndex::Appended(const std::uint8_t* rec, std::uint32_t recNo, const char* lockMsg) {
    StoredKeyOf(rec);
    Maintain(recNo, false, lockMsg);
}

bool THXNTXIndex::Updated(const std::uint8_t* rec, std::uint32_t recNo, const char* lockMsg) {
    StoredKeyOf(rec);
    const bool known = SnapValid_ && SnapRec_ == recNo;
    SnapValid_ = false;
    if (known && SnapKey_ == Key_ && SnapFor_ == KeyFor_) return false;
    // Without a snapshot of this record (posted without an edit beginning) its old key is
    // unknown: the new one goes in unless it is there already.
    Maintain(recNo, known, lockMsg);
    return true;
}

std::uint32_t THXNTXIndex::SeekLastKey() {
    TReadLock lock(*this);
    Found_ = Tree_.Seek(Cur_, reinterpret_cast<const std::uint8_t*>(Key_.data()), Key_.size(), false);
    SetCurrent(Cur_);
    return Found_ ? Cur_.RecNo() : 0;
}

}  // namespace zarbel
