// Building a whole NTX index from its table: the record reading every builder shares, the
// chunked insertion builder (CreateIndex), and the two bottom-up builders that feed
// THXNTXCompactIndex: CreateCompactIndex (block runs merged two at a time through NTX files)
// and CreateIndexUsingSorter.
//
// Every builder reads the table through ReadBuildKeys: the file in blocks, each record
// deciphered, its key evaluated and fitted to the key size in stored form, FOR applied, then
// OnSubNtx. Under Unique the first record of each key is kept: records arrive in record order,
// the sorters refuse a key they already hold, and a key equal to one already in the tree (an
// earlier chunk) or just written (an earlier run) is dropped.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"
#include "index/HXMergeSorters.h"
#include "index/HXNTXCompactIndex.h"
#include "index/HXNTXIndex.h"
#include "index/HXNTXRuns.h"
#include "platform/env.h"
#include "platform/exception.h"
#include "platform/paths.h"

namespace zarbel {

namespace {

// The bottom-up builders write the index's pages in file order: gathered 64 pages at a time
// they take 64 times fewer writes than a write per page (20,000 fewer for 1,000,000 keys).
constexpr std::int64_t kIndexWriteBytes = 64 * kNTXPageSize;

int CompareStored(const void* owner, const std::uint8_t* a, const std::uint8_t* b, int keySize) {
    return static_cast<const THXNTXIndexCompare*>(owner)->Compare(a, b, static_cast<std::size_t>(keySize));
}

int CompareStoredChars(const void* owner, std::uint8_t a, std::uint8_t b) {
    return static_cast<const THXNTXIndexCompare*>(owner)->Compare(&a, &b, 1);
}

const char* const kCompactWho = "THXNTXIndex.CreateCompactIndex: ";

// A run of CreateCompactIndex: its temporary file (removed with it), holding a spilled block or
// an NTX tree.
struct TCompactRun {
    TCompactRun(TEnv& env, const std::string& dir, bool block)
        : File(env, dir, "THXNTXIndex.CreateCompactIndex"), Block(block) {}
    THXTempFile File;
    bool Block;
};

[[noreturn]] void NotARecord(const char* who, std::uint32_t n, std::uint8_t flag) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", flag);
    throw Exception(std::string(who) + "Record " + std::to_string(n) +
                    " does not decipher to a record (deletion flag " + hex + "): is the password right?");
}


}  // namespace

int THXNTXIndex::BeginBuild(const char* who) {
    // A build creates the file afresh and then writes its keys through the file as the index
    // opens it. Refused before anything is emptied when that open would be for reading only.
    if (Table_.Active() && !DefineBag().Writable(Table_))
        throw Exception(std::string(who) + "Index file \"" + NTXFileName_ +
                        "\" would be open for reading only, as its table is: it cannot be built");
    KeepHeader_ = Open_;
    if (Open_) {
        // A rebuild keeps what the header says of the index.
        BuildHeader_ = Tree_.Header();
        Unique_ = BuildHeader_.Unique != 0;
        Desc_ = BuildHeader_.Descending != 0;
        Order_ = BuildHeader_.OrderNameText();
        if (BuildHeader_.Signature == 7) ClipperVer_ = v520;
    }
    const std::string createError = std::string(who) + "Create error \"" + Name_ + "\"";
    CreateEmpty(&createError);
    if (KeepHeader_ && BuildHeader_.KeySize != Tree_.Header().KeySize) KeepHeader_ = false;
    BeginRebuild();
    return Tree_.Header().KeySize;
}

// Closes the index but keeps its file even when it is temporary: a build closes the file it
// has just written (to reopen it, or after a failure) without giving the index up.
void THXNTXIndex::CloseKeepingFile() {
    const bool temp = Temp_;
    Temp_ = false;
    Close();
    Temp_ = temp;
}

void THXNTXIndex::FailBuild() {
    if (RebuildLocked_) EndRebuild(true);
    CloseKeepingFile();
}

void THXNTXIndex::FinishBuild(bool activate) {
    if (KeepHeader_) {
        TNTXHeader& h = Tree_.MutableHeader();
        const std::uint32_t root = h.Root;
        h = BuildHeader_;
        h.Root = root;
        h.NextFree = 0;
    }
    EndRebuild(false);
    if (!KeepHeader_) {
        // A new file starts at version 1 as every new index does; a rebuild of an open index
        // moves its version on so that other readers drop what they cached.
        Tree_.MutableHeader().Version = 1;
        if (!Tree_.WriteHeader()) {
            Tree_.MarkFailed();
            throw Exception("THXSmartDBF: " + Table_.Env().LastErrorText());
        }
    }
    // Opened afresh: the header, the expressions and the page cache as the file now has them.
    CloseKeepingFile();
    Open();
    if (activate) SetActive(true);
}

void THXNTXIndex::ReadBuildKeys(const char* who, const std::function<void(std::uint32_t, std::int32_t)>& take) {
    const std::size_t keySize = Tree_.Header().KeySize;
    const bool hashed = HashType_ != httsDefault;
    const bool enciphered = Table_.Cipher() && Table_.Cipher()->Active();
    Table_.ScanFile(
        [&](const std::uint8_t* rec, std::uint32_t n) {
            // Under a wrong password a record deciphers to bytes that do not begin with a
            // deletion flag; an index built from them would hold garbage.
            if (enciphered && rec[0] != ' ' && rec[0] != '*') NotARecord(who, n, rec[0]);
            Key_ = EvaluateKey();
            const std::int32_t hash = hashed && !OnEvaluteKey ? KeyParser_->LastHash() : 0;
            if (!EvaluateFor()) return;
            Fit(Key_);
            if (OnSubNtx) {
                bool accept = true;
                OnSubNtx(this, Key_, n, accept);
                if (!accept) return;
                Key_.resize(keySize, ' ');
            }
            take(n, hash);
        },
        std::string(who) + "Record size too lage");
}

THXSorterParams THXNTXIndex::BuildSorterParams(int capacity) {
    THXSorterParams p;
    p.Capacity = capacity;
    p.KeySize = Tree_.Header().KeySize;
    p.Compare.Keys = &CompareStored;
    p.Compare.KeysOwner = &Cmp_;
    p.Compare.Chars = &CompareStoredChars;
    p.Compare.CharsOwner = &Cmp_;
    p.Compare.KeyEndsAtNul = !Cmp_.Weighted() && !Cmp_.HasEvent();
    p.Unique = Tree_.Header().Unique != 0;
    p.Hash.HashType = HashType_;
    p.Hash.MaxBitsInHashCode = MaxBits_;
    // Buckets by the first stored byte follow the key order only for plain ascending bytes.
    // A hash follows it only for text: the hash of a number or a date is its whole part, and
    // a negative one would land in the top buckets, after every positive key.
    const TDBFExprNode* root = KeyParser_ ? KeyParser_->Root() : nullptr;
    const bool textKey = !root || root->DataType == ftString || root->DataType == ftFixedChar ||
                         root->DataType == ftWideString || root->DataType == ftMemo || root->DataType == ftBoolean;
    p.Hash.SingleBucket = Cmp_.Desc() || Cmp_.Weighted() || Cmp_.StoredOem() || Cmp_.HasEvent() ||
                          (HashType_ != httsDefault && (OnEvaluteKey || !textKey));
    p.Outer = Outer_;
    p.Env = &Table_.Env();
    return p;
}

const std::uint8_t* THXNTXIndex::SubIndex(const std::uint8_t* key, std::uint32_t recNo) {
    if (!OnSubIndex) return key;
    const std::size_t keySize = Tree_.Header().KeySize;
    SubKey_.assign(reinterpret_cast<const char*>(key), keySize);
    int exitCode = 0;
    OnSubIndex(this, SubKey_, recNo, exitCode);
    if (exitCode != 0)
        throw Exception("THXNTXIndex: Index file \"" + NTXFileName_ + "\": the build was stopped by OnSubIndex (ExitCode " +
                        std::to_string(exitCode) + ")");
    SubKey_.resize(keySize, ' ');
    return reinterpret_cast<const std::uint8_t*>(SubKey_.data());
}

std::function<void(std::uint32_t, const std::uint8_t*, std::int64_t)> THXNTXIndex::IndexFileSink() {
    return [this](std::uint32_t at, const std::uint8_t* data, std::int64_t size) {
        if (Bag_->Stream().PWrite(at, data, size) != size)
            throw Exception("THXSmartDBF: " + Table_.Env().LastErrorText());
    };
}

std::function<void(std::uint32_t, std::uint8_t*)> THXNTXIndex::IndexPageWriter(THXDBFNTX& table,
                                                                              THXNTXPageWriter& pages) {
    return [&table, &pages](std::uint32_t at, std::uint8_t* page) {
        table.EncipherIndexPage(at, page, kNTXPageSize);
        pages.Write(at, page, kNTXPageSize);
    };
}

void THXNTXIndex::BuildBottomUp(THXSorterAbstract& sorter) {
    const std::size_t keySize = Tree_.Header().KeySize;
    const bool unique = Tree_.Header().Unique != 0;
    THXNTXPageWriter pages(IndexFileSink(), kIndexWriteBytes);
    THXNTXCompactIndex builder(Tree_.Geometry(), kNTXPageSize, IndexPageWriter(Table_, pages));
    std::string prev(keySize, '\0');
    bool havePrev = false;
    for (bool end = sorter.First(); !end; end = sorter.Next()) {
        const THXSortItem item = sorter.Current();
        if (unique && havePrev &&
            Cmp_.Compare(item.Key(), reinterpret_cast<const std::uint8_t*>(prev.data()), keySize) == 0)
            continue;
        if (unique) std::memcpy(prev.data(), item.Key(), keySize);
        havePrev = true;
        builder.Add(SubIndex(item.Key(), item.RecNo()), item.RecNo());
    }
    Tree_.MutableHeader().Root = builder.Finish();
    pages.Flush();
    Tree_.MutableHeader().NextFree = 0;
}

void THXNTXIndex::CreateIndex(bool activate, int chunkBytes) {
    const char* who = "THXNTXIndex.CreateIndex: ";
    if (!Table_.Active()) throw Exception(std::string(who) + "Create index only on active DataSet");
    const int keySize = BeginBuild(who);
    try {
        const int capacity = chunkBytes / (keySize + 8);
        if (capacity < 2)
            throw Exception(std::string(who) + "A chunk of " + std::to_string(chunkBytes) +
                            " bytes holds fewer than 2 keys of " + std::to_string(keySize) + " bytes");
        auto sorter = CreateSorter(scRedBlackTree, BuildSorterParams(capacity));
        const bool unique = Tree_.Header().Unique != 0;
        auto insert = [&] {
            sorter->Sort();
            for (bool end = sorter->First(); !end; end = sorter->Next()) {
                const THXSortItem item = sorter->Current();
                // A key taken from an earlier chunk keeps its lower record number.
                if (unique && Tree_.Seek(Probe_, item.Key(), keySize, false)) continue;
                Tree_.AddKey(SubIndex(item.Key(), item.RecNo()), item.RecNo());
            }
            sorter->Clear();
        };
        ReadBuildKeys(who, [&](std::uint32_t n, std::int32_t hash) {
            if (sorter->Full()) insert();
            sorter->Add(hash, n, reinterpret_cast<const std::uint8_t*>(Key_.data()));
        });
        if (sorter->Count() > 0) insert();
    } catch (...) {
        FailBuild();
        throw;
    }
    FinishBuild(activate);
}

void THXNTXIndex::CreateIndexUsingSorter(THXSorterClass sorterClass, bool activate) {
    const char* who = "THXNTXIndex.CreateIndexUsingSorter: ";
    if (sorterClass < scQuick || sorterClass > sc8PathMerge) throw Exception(std::string(who) + "Sorter object is null!");
    if (!Table_.Active()) throw Exception(std::string(who) + "Create index only on active DataSet");
    BeginBuild(who);
    try {
        const int capacity = static_cast<int>(std::max<std::uint32_t>(Table_.FileRecordCount(), 2));
        auto sorter = CreateSorter(sorterClass, BuildSorterParams(capacity));
        ReadBuildKeys(who, [&](std::uint32_t n, std::int32_t hash) {
            sorter->Add(hash, n, reinterpret_cast<const std::uint8_t*>(Key_.data()));
        });
        sorter->Sort();
        BuildBottomUp(*sorter);
    } catch (...) {
        FailBuild();
        throw;
    }
    FinishBuild(activate);
}

// Keys go into a block buffer in order; each full block (and the last one) is spilled to a
// temporary file as a run. Runs are then merged two at a time, oldest first, each merge written
// bottom-up as an NTX file that is a run again, until two remain: their merge is written into
// the index file itself (or the only run is), and its keys pass OnSubIndex on the way.
void THXNTXIndex::BuildFromRuns(int perBlock, std::int64_t blockBytes) {
    TEnv& env = Table_.Env();
    const int keySize = Tree_.Header().KeySize;
    const bool unique = Tree_.Header().Unique != 0;
    std::string dir = Outer_.TmpPath().empty() ? PathDirectory(NTXFileName_) : Outer_.TmpPath();
    if (dir.back() != '/') dir += '/';
    const THXNTXRunOrder order(Cmp_, keySize);
    std::deque<std::unique_ptr<TCompactRun>> runs;
    auto newRun = [&](bool block) {
        runs.push_back(std::make_unique<TCompactRun>(env, dir, block));
        runs.back()->File.Open();
        return runs.back().get();
    };
    {
        THXNTXBlock block(order, perBlock, unique);
        auto spill = [&] {
            TCompactRun* r = newRun(true);
            r->File.Write(0, block.Data(), block.UsedBytes());
            r->File.Close();
            block.Clear();
        };
        ReadBuildKeys(kCompactWho, [&](std::uint32_t n, std::int32_t) {
            if (block.Full()) spill();
            block.Insert(n, reinterpret_cast<const std::uint8_t*>(Key_.data()));
        });
        if (block.Count() > 0) spill();
    }
    // The readers close their files before the runs remove them (declared after the runs).
    THXNTXBlockIterator blockA(env, keySize, perBlock), blockB(env, keySize, perBlock);
    // The caller's block buffer size is also the size of the buffers the NTX runs go through.
    THXNTXIterator treeA(env, blockBytes), treeB(env, blockBytes);
    auto open = [](TCompactRun& r, THXNTXBlockIterator& b, THXNTXIterator& t) -> THXMergeIterator& {
        if (r.Block) {
            b.Open(r.File.Name());
            return b;
        }
        t.Open(r.File.Name());
        return t;
    };
    std::vector<std::uint8_t> prev(static_cast<std::size_t>(keySize) + 4);
    // The merge of a and b (none: a alone) in order into out; under Unique a key equal to the
    // one before is dropped (the one before has the lower record number).
    auto merge = [&](THXMergeIterator& a, THXMergeIterator* b, THXNTXCompactIndex& out, bool final) {
        bool endA = a.First(), endB = b == nullptr || b->First();
        bool havePrev = false;
        while (!endA || !endB) {
            const bool fromA = endB || (!endA && order.CompareItems(a.Current(), b->Current()) <= 0);
            const std::uint8_t* item = fromA ? a.Current() : b->Current();
            if (!unique || !havePrev || order.CompareKeys(item, prev.data()) != 0) {
                if (unique) std::memcpy(prev.data(), item, prev.size());
                havePrev = true;
                const std::uint32_t recNo = NTXGet32(item);
                out.Add(final ? SubIndex(item + 4, recNo) : item + 4, recNo);
            }
            if (fromA)
                endA = a.Next();
            else
                endB = b->Next();
        }
    };
    const TNTXGeometry g = Tree_.Geometry();
    while (runs.size() > 2) {
        const std::unique_ptr<TCompactRun> a = std::move(runs[0]), b = std::move(runs[1]);
        runs.pop_front();
        runs.pop_front();
        TCompactRun* out = newRun(false);
        THXNTXPageWriter writer(out->File, blockBytes);
        THXNTXCompactIndex builder(g, kNTXPageSize, [&writer](std::uint32_t at, std::uint8_t* page) {
            writer.Write(at, page, kNTXPageSize);
        });
        merge(open(*a, blockA, treeA), &open(*b, blockB, treeB), builder, false);
        TNTXHeader h = Tree_.Header();
        h.Root = builder.Finish();
        h.NextFree = 0;
        std::uint8_t head[kNTXHeaderSize];
        h.Serialize(head);
        writer.Write(0, head, kNTXHeaderSize);
        writer.Flush();
        out->File.Close();
        blockA.Close();
        blockB.Close();
        treeA.Close();
        treeB.Close();
    }
    THXNTXPageWriter pages(IndexFileSink(), std::max<std::int64_t>(blockBytes, kIndexWriteBytes));
    THXNTXCompactIndex builder(g, kNTXPageSize, IndexPageWriter(Table_, pages));
    if (!runs.empty())
        merge(open(*runs[0], blockA, treeA), runs.size() > 1 ? &open(*runs[1], blockB, treeB) : nullptr, builder, true);
    Tree_.MutableHeader().Root = builder.Finish();
    pages.Flush();
    Tree_.MutableHeader().NextFree = 0;
}

void THXNTXIndex::CreateCompactIndex(int blockBufferSize, bool activate) {
    if (!Table_.Active()) throw Exception(std::string(kCompactWho) + "Create index only on active DataSet");
    const int keySize = BeginBuild(kCompactWho);
    try {
        const std::int64_t perBlock = NTXBlockItems(blockBufferSize, keySize);
        if (perBlock > 65535) throw Exception(std::string(kCompactWho) + "BlockBufferSize too large!");
        if (perBlock < 2)
            throw Exception(std::string(kCompactWho) + "A block buffer of " + std::to_string(blockBufferSize) +
                            " bytes holds fewer than 2 keys of " + std::to_string(keySize) + " bytes");
        BuildFromRuns(static_cast<int>(perBlock), blockBufferSize);
    } catch (...) {
        FailBuild();
        throw;
    }
    FinishBuild(activate);
}

}  // namespace zarbel
