#include "index/HXMergeSorters.h"

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace zarbel {

namespace {

// The walk of an in-memory sorter as a merge source.
class TSorterSource final : public THXMergeIterator {
public:
    explicit TSorterSource(THXSorterAbstract& s) : S_(s) {}
    bool First() override { return Take(S_.First()); }
    bool Next() override { return Take(S_.Next()); }

private:
    bool Take(bool end) {
        Cur_ = end ? nullptr : S_.Current().Data();
        return end;
    }
    THXSorterAbstract& S_;
};

std::string Directory(const std::string& tmpPath, TEnv& env) {
    if (tmpPath.empty()) return env.TempDirectory();
    return tmpPath.back() == '/' ? tmpPath : tmpPath + "/";
}

}  // namespace

// ---------------------------------------------------------------------------------------
// THXMerge2PathIterator
// ---------------------------------------------------------------------------------------
bool THXMerge2PathIterator::Pick() {
    if (EndA_ && EndB_) {
        Cur_ = nullptr;
        return true;
    }
    FromA_ = EndB_ || (!EndA_ && Order_.CompareItems(A_.Current(), B_.Current()) <= 0);
    Cur_ = FromA_ ? A_.Current() : B_.Current();
    return false;
}

bool THXMerge2PathIterator::First() {
    EndA_ = A_.First();
    EndB_ = B_.First();
    return Pick();
}

bool THXMerge2PathIterator::Next() {
    if (Cur_ == nullptr) return true;
    if (FromA_)
        EndA_ = A_.Next();
    else
        EndB_ = B_.Next();
    return Pick();
}

// ---------------------------------------------------------------------------------------
// THXTempFile
// ---------------------------------------------------------------------------------------
void THXTempFile::Fail(const char* what) {
    std::string reason = Env_.LastErrorText();
    std::string name = Name_;
    Remove();
    throw Exception(Owner_ + ": " + what + " temporary file \"" + name + "\": " + reason);
}

void THXTempFile::Open() {
    if (H_ != kInvalidHandle) return;
    Name_ = Env_.CreateUniqueFile(Dir_, "HXT");
    if (Name_.empty()) {
        Name_ = Dir_ + "HXT*";
        Fail("Can not create");
    }
    H_ = Env_.Open(Name_, faReadWrite, TShareLock::None);
    if (H_ == kInvalidHandle) Fail("Can not open");
}

void THXTempFile::Close() {
    if (H_ != kInvalidHandle) Env_.Close(H_);
    H_ = kInvalidHandle;
}

void THXTempFile::Remove() {
    Close();
    if (!Name_.empty() && Name_.back() != '*') Env_.DeleteFile(Name_);
    Name_.clear();
}

void THXTempFile::Write(std::int64_t pos, const void* data, std::int64_t count) {
    if (Env_.WriteAt(H_, pos, data, count) != count) Fail("Can not write");
}

void THXTempFile::Read(std::int64_t pos, void* data, std::int64_t count) {
    if (Env_.ReadAt(H_, pos, data, count) != count) Fail("Can not read");
}

// ---------------------------------------------------------------------------------------
// THXMemSourceItem
// ---------------------------------------------------------------------------------------
bool THXMemSourceItem::Fill() {
    const std::int64_t n = std::min(BufItems_, Run_.Count - Read_);
    if (n <= 0) {
        Cur_ = nullptr;
        return true;
    }
    File_.Read(Run_.Offset + Read_ * ItemSize_, Buf_, n * ItemSize_);
    Read_ += n;
    InBuf_ = n;
    Pos_ = 0;
    Cur_ = Buf_;
    return false;
}

bool THXMemSourceItem::First() {
    Read_ = 0;
    return Fill();
}

bool THXMemSourceItem::Next() {
    if (Cur_ == nullptr) return true;
    if (++Pos_ < InBuf_) {
        Cur_ = Buf_ + Pos_ * ItemSize_;
        return false;
    }
    return Fill();
}

// ---------------------------------------------------------------------------------------
// THXMergeSorter
// ---------------------------------------------------------------------------------------
THXMergeSorter::THXMergeSorter(const THXSorterParams& p, int paths, const char* name)
    : THXSorterAbstract(p),
      Paths_(paths),
      Name_(name),
      Env_(p.Env ? *p.Env : TEnv::Default()),
      Files_{{Env_, Directory(p.Outer.TmpPath(), Env_), name}, {Env_, Directory(p.Outer.TmpPath(), Env_), name}} {
    const std::string who = std::string(name) + ".Create: ";
    const std::int64_t n = p.Outer.SortItemPerInnerSorter();
    if (n == 0 || n == 1)
        throw Exception(who + "SortItemPerInnerSorter must be at least 2 items, or a negative number of 1024-item "
                              "blocks (" + std::to_string(n) + " given)");
    InnerItems_ = n > 0 ? n : -n * 1024;
    if (p.Outer.BufferSize() < ItemSize())
        throw Exception(who + "BufferSize (" + std::to_string(p.Outer.BufferSize()) +
                        " bytes) must hold at least one sort item of " + std::to_string(ItemSize()) + " bytes");
    BufItems_ = p.Outer.BufferSize() / ItemSize();
    const THXSorterClass inner = p.Outer.InnerSorter();
    if (inner != scQuick && inner != scBinaryTree && inner != scRedBlackTree && inner != scAVLTree &&
        inner != scTrieTree)
        throw Exception(who + "The inner sorter must sort in memory (" + SorterClassName(inner) + " given)");
    THXSorterParams ip = p;
    ip.Capacity = static_cast<int>(std::min<std::int64_t>(InnerItems_, Capacity_ > 0 ? Capacity_ : 1));
    Inner_ = CreateSorter(inner, ip);
    Last_ = TMemBlock::Allocate(this, ItemSize(), name);
}

THXMergeSorter::~THXMergeSorter() { RemoveFiles(); }

void THXMergeSorter::RemoveFiles() {
    Final_ = nullptr;
    Parts_.clear();
    Files_[0].Remove();
    Files_[1].Remove();
    Lists_[0].Clear();
    Lists_[1].Clear();
}

void THXMergeSorter::EnsureBuffers(bool inputs) {
    const std::int64_t bytes = BufItems_ * ItemSize();
    if (!OutBuf_) OutBuf_ = TMemBlock::Allocate(this, bytes, Name_);
    if (inputs && !InBufs_) InBufs_ = TMemBlock::Allocate(this, bytes * Paths_, Name_);
    PeakBuffers_ = std::max(PeakBuffers_, (OutBuf_ ? bytes : 0) + (InBufs_ ? bytes * Paths_ : 0));
}

bool THXMergeSorter::AddItem(const std::uint8_t* item) {
    CheckRoom("AddSortItem");
    CheckBroken("AddSortItem");
    if (Inner_->Full()) Spill();
    if (!Inner_->AddItem(item)) return false;
    ++Count_;
    ++Added_;
    return true;
}

void THXMergeSorter::Put(THXTempFile& dst, THXMemSourceList& out, const std::uint8_t* item) {
    if (Unique_) {
        if (HaveLast_ && KeysEqual(Last_.Bytes(), item)) return;
        std::memcpy(Last_.Bytes(), item, static_cast<std::size_t>(ItemSize()));
        HaveLast_ = true;
    }
    std::memcpy(OutBuf_.Bytes() + OutCount_ * ItemSize(), item, static_cast<std::size_t>(ItemSize()));
    ++RunItems_;
    if (++OutCount_ == BufItems_) Flush(dst, out);
}

void THXMergeSorter::Flush(THXTempFile& dst, THXMemSourceList& out) {
    if (OutCount_ == 0) return;
    const std::int64_t bytes = OutCount_ * ItemSize();
    dst.Write(out.End, OutBuf_.Data(), bytes);
    out.End += bytes;
    OutCount_ = 0;
}

void THXMergeSorter::Spill() {
    try {
        EnsureBuffers(false);
        THXTempFile& f = Files_[CurFile_];
        THXMemSourceList& list = Lists_[CurFile_];
        f.Open();
        Inner_->Sort();
        RunStart_ = list.End;
        RunItems_ = 0;
        HaveLast_ = false;
        for (bool end = Inner_->First(); !end; end = Inner_->Next()) Put(f, list, Inner_->Current().Data());
        Flush(f, list);
        list.Runs.push_back({RunStart_, RunItems_});
        ++RunsWritten_;
        Inner_->Clear();
    } catch (...) {
        Broken();
        throw;
    }
}

THXMergeIterator* THXMergeSorter::BuildMerge(std::vector<THXMergeIterator*> level) {
    while (level.size() > 1) {
        std::vector<THXMergeIterator*> up;
        for (std::size_t i = 0; i + 1 < level.size(); i += 2) {
            Parts_.push_back(std::make_unique<THXMerge2PathIterator>(*level[i], *level[i + 1], *this));
            up.push_back(Parts_.back().get());
        }
        if (level.size() % 2) up.push_back(level.back());
        level.swap(up);
    }
    return level.empty() ? nullptr : level.front();
}

void THXMergeSorter::MergeRuns(THXTempFile& src, const std::vector<THXRun>& runs, std::size_t from, std::size_t to,
                               THXTempFile& dst, THXMemSourceList& out) {
    Parts_.clear();
    std::vector<THXMergeIterator*> sources;
    for (std::size_t i = from; i < to; ++i) {
        std::uint8_t* buf = InBufs_.Bytes() + static_cast<std::int64_t>(i - from) * BufItems_ * ItemSize();
        Parts_.push_back(std::make_unique<THXMemSourceItem>(src, runs[i], buf, BufItems_, ItemSize()));
        sources.push_back(Parts_.back().get());
    }
    THXMergeIterator* m = BuildMerge(sources);
    RunStart_ = out.End;
    RunItems_ = 0;
    HaveLast_ = false;
    for (bool end = m->First(); !end; end = m->Next()) Put(dst, out, m->Current());
    Flush(dst, out);
    out.Runs.push_back({RunStart_, RunItems_});
    ++RunsWritten_;
    Parts_.clear();
}

void THXMergeSorter::Sort() {
    CheckBroken("Sort");
    if (Sorted_) return;
    Sorted_ = true;
    Parts_.clear();
    Final_ = nullptr;
    if (Lists_[CurFile_].Runs.empty()) {
        // Everything fitted in the inner sorter.
        Inner_->Sort();
        Count_ = Inner_->Count();
        Parts_.push_back(std::make_unique<TSorterSource>(*Inner_));
        Final_ = Parts_.back().get();
        return;
    }
    try {
        Inner_->Sort();
        const std::size_t sources = Lists_[CurFile_].Runs.size() + (Inner_->Count() > 0 ? 1 : 0);
        // Equal keys in different runs leave only when a merge writes them out, so with
        // Unique the runs are merged down to one (and the count is exact).
        if (sources > static_cast<std::size_t>(Paths_) || (Unique_ && sources > 1)) {
            if (Inner_->Count() > 0) Spill();
            EnsureBuffers(true);
            while (Lists_[CurFile_].Runs.size() > static_cast<std::size_t>(Paths_) ||
                   (Unique_ && Lists_[CurFile_].Runs.size() > 1)) {
                THXTempFile& src = Files_[CurFile_];
                THXTempFile& dst = Files_[1 - CurFile_];
                THXMemSourceList& out = Lists_[1 - CurFile_];
                dst.Open();
                out.Clear();
                const std::vector<THXRun> runs = Lists_[CurFile_].Runs;
                for (std::size_t i = 0; i < runs.size(); i += static_cast<std::size_t>(Paths_))
                    MergeRuns(src, runs, i, std::min(runs.size(), i + static_cast<std::size_t>(Paths_)), dst, out);
                // The merged file is read no more: it is emptied for the next pass.
                src.Remove();
                Lists_[CurFile_].Clear();
                CurFile_ = 1 - CurFile_;
            }
        }
        EnsureBuffers(true);
        std::vector<THXMergeIterator*> level;
        Count_ = 0;
        const std::vector<THXRun>& runs = Lists_[CurFile_].Runs;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            std::uint8_t* buf = InBufs_.Bytes() + static_cast<std::int64_t>(i) * BufItems_ * ItemSize();
            Parts_.push_back(std::make_unique<THXMemSourceItem>(Files_[CurFile_], runs[i], buf, BufItems_, ItemSize()));
            level.push_back(Parts_.back().get());
            Count_ += runs[i].Count;
        }
        if (Inner_->Count() > 0) {
            Parts_.push_back(std::make_unique<TSorterSource>(*Inner_));
            level.push_back(Parts_.back().get());
            Count_ += Inner_->Count();
        }
        Final_ = BuildMerge(level);
    } catch (...) {
        Broken();
        throw;
    }
}

bool THXMergeSorter::First() { return Step("FirstSortItem", true); }

bool THXMergeSorter::Next() { return Step("NextSortItem", false); }

bool THXMergeSorter::Step(const char* op, bool first) {
    CheckBroken(op);
    if (!Final_) {
        THXSorterAbstract::Cur_ = nullptr;
        return true;
    }
    try {
        const bool end = first ? Final_->First() : Final_->Next();
        THXSorterAbstract::Cur_ = Final_->Current();
        return end;
    } catch (...) {
        Broken();
        throw;
    }
}

void THXMergeSorter::Broken() {
    RemoveFiles();
    Broken_ = true;
}

void THXMergeSorter::CheckBroken(const char* op) const {
    if (Broken_)
        throw Exception(std::string(Name_) + "." + op +
                        ": A failure of the temporary files lost sorted items; clear the sorter first");
}

void THXMergeSorter::Clear() {
    Broken_ = false;
    RemoveFiles();
    Inner_->Clear();
    CurFile_ = 0;
    Count_ = 0;
    Added_ = 0;
    OutCount_ = 0;
    RunsWritten_ = 0;
    HaveLast_ = false;
    Sorted_ = false;
    THXSorterAbstract::Cur_ = nullptr;
}

}  // namespace zarbel
