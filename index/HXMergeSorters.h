// The outer sorters: THXMergeSorter (2 runs merged at a time), THX4PathMergeSorter and
// THX8PathMergeSorter. Items go into an inner in-memory sorter of SortItemPerInnerSorter
// items; a full inner sorter is sorted and spilled as a run to a temporary file through a
// buffer of BufferSize bytes. Sort merges the runs, 2, 4 or 8 at a time, each input read
// through its own BufferSize buffer, into a second temporary file and back, until few enough
// runs remain to be merged while the caller walks them. With Unique equal keys are dropped
// across runs too (the first in order, so the lowest record number, stays).
//
// Buffers: one output buffer and one input buffer per path, BufferSize bytes each, besides
// the inner sorter. The temporary files ("HXT" + 6 characters, in TmpPath or the system's
// temporary directory) are made through the sorter's TEnv and removed when the sorter is
// cleared or destroyed, and at once when a file operation fails.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "index/HXSorter.h"
#include "platform/env.h"

namespace zarbel {

// An ordered stream of items. First and Next return true when there is no (further) item.
class THXMergeIterator {
public:
    virtual ~THXMergeIterator() = default;
    virtual bool First() = 0;
    virtual bool Next() = 0;
    const std::uint8_t* Current() const { return Cur_; }

protected:
    const std::uint8_t* Cur_ = nullptr;
};

// The smaller head of two ordered streams (item order of a sorter).
class THXMerge2PathIterator : public THXMergeIterator {
public:
    THXMerge2PathIterator(THXMergeIterator& a, THXMergeIterator& b, const THXSorterAbstract& order)
        : A_(a), B_(b), Order_(order) {}
    bool First() override;
    bool Next() override;

private:
    bool Pick();
    THXMergeIterator& A_;
    THXMergeIterator& B_;
    const THXSorterAbstract& Order_;
    bool EndA_ = true, EndB_ = true;
    bool FromA_ = false;
};

// A temporary file of the outer sorters, removed when the object dies.
class THXTempFile {
public:
    THXTempFile(TEnv& env, std::string directory, std::string owner)
        : Env_(env), Dir_(std::move(directory)), Owner_(std::move(owner)) {}
    ~THXTempFile() { Remove(); }
    THXTempFile(const THXTempFile&) = delete;
    THXTempFile& operator=(const THXTempFile&) = delete;
    // Creates the file when it is not open yet.
    void Open();
    // Closes the handle; the file stays until Remove.
    void Close();
    void Remove();
    void Write(std::int64_t pos, const void* data, std::int64_t count);
    void Read(std::int64_t pos, void* data, std::int64_t count);
    const std::string& Name() const { return Name_; }

private:
    [[noreturn]] void Fail(const char* what);
    TEnv& Env_;
    std::string Dir_;
    std::string Owner_;
    std::string Name_;
    THandle H_ = kInvalidHandle;
};

// One run: where it starts in its file and how many items it holds.
struct THXRun {
    std::int64_t Offset = 0;
    std::int64_t Count = 0;
};

// The runs of one temporary file, in the order they were written.
class THXMemSourceList {
public:
    std::vector<THXRun> Runs;
    std::int64_t End = 0;  // bytes written
    void Clear() {
        Runs.clear();
        End = 0;
    }
};

// One run read back through a buffer.
class THXMemSourceItem : public THXMergeIterator {
public:
    THXMemSourceItem(THXTempFile& file, const THXRun& run, std::uint8_t* buffer, std::int64_t bufferItems,
                     int itemSize)
        : File_(file), Run_(run), Buf_(buffer), BufItems_(bufferItems), ItemSize_(itemSize) {}
    bool First() override;
    bool Next() override;

private:
    bool Fill();
    THXTempFile& File_;
    THXRun Run_;
    std::uint8_t* Buf_;
    std::int64_t BufItems_;
    int ItemSize_;
    std::int64_t Read_ = 0;     // items read from the run so far
    std::int64_t InBuf_ = 0;    // items in the buffer
    std::int64_t Pos_ = 0;      // current item in the buffer
};

class THXMergeSorter : public THXSorterAbstract {
public:
    explicit THXMergeSorter(const THXSorterParams& p) : THXMergeSorter(p, 2, "THXMergeSorter") {}
    ~THXMergeSorter() override;
    bool AddItem(const std::uint8_t* item) override;
    void Sort() override;
    bool First() override;
    bool Next() override;
    void Clear() override;
    const char* ClassName() const override { return Name_; }

    int Paths() const { return Paths_; }
    std::int64_t ItemsPerInnerSorter() const { return InnerItems_; }
    // Bytes of the file buffers at their most (output and input buffers).
    std::int64_t PeakBufferBytes() const { return PeakBuffers_; }
    // Runs written to the temporary files (spilled and merged) since the last Clear.
    std::int64_t RunsWritten() const { return RunsWritten_; }

protected:
    THXMergeSorter(const THXSorterParams& p, int paths, const char* name);

private:
    void Spill();
    // Merges runs[from, to) of src into one run appended to dst.
    void MergeRuns(THXTempFile& src, const std::vector<THXRun>& runs, std::size_t from, std::size_t to,
                   THXTempFile& dst, THXMemSourceList& out);
    // Builds the merge of the sources (a tree of 2-path iterators) as Final_.
    THXMergeIterator* BuildMerge(std::vector<THXMergeIterator*> sources);
    void Put(THXTempFile& dst, THXMemSourceList& out, const std::uint8_t* item);
    void Flush(THXTempFile& dst, THXMemSourceList& out);
    void EnsureBuffers(bool inputs);
    void RemoveFiles();
    // First (first) or Next of the walk over Final_.
    bool Step(const char* op, bool first);
    // After a failed file operation: the files are removed and the sorter refuses to go on
    // (its runs are lost) until it is cleared.
    void Broken();
    void CheckBroken(const char* op) const;

    const int Paths_;
    const char* Name_;
    std::int64_t InnerItems_ = 0;
    std::int64_t BufItems_ = 0;
    TEnv& Env_;
    std::unique_ptr<THXSorterAbstract> Inner_;
    THXTempFile Files_[2];
    int CurFile_ = 0;
    THXMemSourceList Lists_[2];
    TMemBlock OutBuf_;
    TMemBlock InBufs_;
    TMemBlock Last_;  // the last item written, for Unique
    bool HaveLast_ = false;
    std::int64_t OutCount_ = 0;  // items in OutBuf_
    std::int64_t RunStart_ = 0;  // offset of the run being written
    std::int64_t RunItems_ = 0;
    std::int64_t PeakBuffers_ = 0;
    std::int64_t RunsWritten_ = 0;
    // The walk: the sources and the merge over them.
    std::vector<std::unique_ptr<THXMergeIterator>> Parts_;
    THXMergeIterator* Final_ = nullptr;
    bool Broken_ = false;
};

class THX4PathMergeSorter : public THXMergeSorter {
public:
    explicit THX4PathMergeSorter(const THXSorterParams& p) : THXMergeSorter(p, 4, "THX4PathMergeSorter") {}
};

class THX8PathMergeSorter : public THXMergeSorter {
public:
    explicit THX8PathMergeSorter(const THXSorterParams& p) : THXMergeSorter(p, 8, "THX8PathMergeSorter") {}
};

}  // namespace zarbel
