// A tiny in-memory dataset over the framework, for the framework's own tests. It logs every
// engine operation the framework calls, so tests can check their order.
#pragma once
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/dataset.h"
#include "platform/exception.h"

namespace zarbel::test {

struct Col {
    std::string name;
    TFieldType type;
    int size = 0;
};

class TMemDataSet : public TDataSet {
public:
    std::vector<Col> cols;
    std::vector<std::vector<char>> rows;  // value areas of the stored records
    std::vector<std::string> log;
    bool oem = false;        // string values stored in CP866
    bool failPost = false;
    int pos = -1;            // engine cursor: -1 before first, rows.size() after last
    int calcSize = 0;

    ~TMemDataSet() override { DestroyingClose(); }

    // Value area offset of column i and its size.
    int ValOffset(int i) const {
        int off = 0;
        for (int k = 0; k < i; ++k) off += 1 + DataSizeOf(cols[static_cast<std::size_t>(k)]);
        return off;
    }
    static int DataSizeOf(const Col& c) {
        auto f = CreateFieldOfType(c.type, c.size);
        return f->DataSize();
    }
    int ValuesSize() const { return ValOffset(static_cast<int>(cols.size())); }
    int BufSize() const { return ValuesSize() + 5 + calcSize + 1; }

    // Appends a stored record directly; values as text through a scratch dataset is overkill:
    // tests fill records with Append/Post or with this raw helper (all columns null).
    void AddNullRow() { rows.emplace_back(static_cast<std::size_t>(ValuesSize()), '\0'); }

    using TDataSet::ActiveBuffer;
    using TDataSet::BookmarkSize;

protected:
    char* AllocRecordBuffer() override {
        log.push_back("AllocRecordBuffer");
        pool_.push_back(std::make_unique<char[]>(static_cast<std::size_t>(BufSize())));
        std::memset(pool_.back().get(), 0, static_cast<std::size_t>(BufSize()));
        return pool_.back().get();
    }
    void FreeRecordBuffer(char*& buffer) override {
        log.push_back("FreeRecordBuffer");
        for (auto it = pool_.begin(); it != pool_.end(); ++it)
            if (it->get() == buffer) {
                pool_.erase(it);
                break;
            }
        buffer = nullptr;
    }
    void InternalInitRecord(char* buffer) override {
        log.push_back("InternalInitRecord");
        std::memset(buffer, 0, static_cast<std::size_t>(BufSize()));
    }
    TGetResult GetRecord(char* buffer, TGetMode mode, bool) override {
        int n = static_cast<int>(rows.size());
        TGetResult r = grOK;
        switch (mode) {
            case gmNext:
                if (pos < n) ++pos;
                if (pos >= n) { pos = n; r = grEOF; }
                break;
            case gmPrior:
                if (pos > -1) --pos;
                if (pos < 0) { pos = -1; r = grBOF; }
                break;
            case gmCurrent:
                if (pos < 0 || pos >= n) r = grError;
                break;
        }
        static const char* const modes[] = {"current", "next", "prior"};
        static const char* const results[] = {"OK", "BOF", "EOF", "Error"};
        log.push_back(std::string("GetRecord(") + modes[mode] + ")=" + results[r]);
        if (r == grOK) {
            std::memcpy(buffer, rows[static_cast<std::size_t>(pos)].data(), static_cast<std::size_t>(ValuesSize()));
            std::int32_t recno = pos + 1;
            std::memcpy(buffer + ValuesSize(), &recno, 4);
            buffer[ValuesSize() + 4] = bfCurrent;
        }
        return r;
    }
    int GetRecordSize() override { return ValuesSize(); }
    void InternalOpen() override {
        log.push_back("InternalOpen");
        open_ = true;
        SetBookmarkSize(4);
        InitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        calcSize = CalcFieldsSize();
        pos = -1;
    }
    void InternalClose() override {
        log.push_back("InternalClose");
        BindFields(false);
        if (DefaultFields()) DestroyFields();
        open_ = false;
    }
    void InternalInitFieldDefs() override {
        FieldDefs().Clear();
        for (const Col& c : cols) FieldDefs().Add(c.name, c.type, c.size);
    }
    void InternalFirst() override { log.push_back("InternalFirst"); pos = -1; }
    void InternalLast() override { log.push_back("InternalLast"); pos = static_cast<int>(rows.size()); }
    void InternalGotoBookmark(const void* bookmark) override {
        std::int32_t recno;
        std::memcpy(&recno, bookmark, 4);
        log.push_back("InternalGotoBookmark(" + std::to_string(recno) + ")");
        pos = recno - 1;
    }
    void InternalSetToRecord(char* buffer) override {
        std::int32_t recno;
        std::memcpy(&recno, buffer + ValuesSize(), 4);
        log.push_back("InternalSetToRecord(" + std::to_string(recno) + ")");
        pos = recno - 1;
    }
    TBookmarkFlag GetBookmarkFlag(const char* buffer) override {
        return static_cast<TBookmarkFlag>(buffer[ValuesSize() + 4]);
    }
    void SetBookmarkFlag(char* buffer, TBookmarkFlag flag) override {
        buffer[ValuesSize() + 4] = static_cast<char>(flag);
    }
    void GetBookmarkData(const char* buffer, void* data) override { std::memcpy(data, buffer + ValuesSize(), 4); }
    void SetBookmarkData(char* buffer, const void* data) override { std::memcpy(buffer + ValuesSize(), data, 4); }
    void InternalAddRecord(char* buffer, bool) override {
        log.push_back("InternalAddRecord");
        rows.emplace_back(buffer, buffer + ValuesSize());
        pos = static_cast<int>(rows.size()) - 1;
    }
    void InternalPost() override {
        log.push_back("InternalPost");
        if (failPost) throw Exception("post failed");
        if (State() == dsInsert) {
            InternalAddRecord(ActiveBuffer(), true);
        } else {
            std::int32_t recno;
            std::memcpy(&recno, ActiveBuffer() + ValuesSize(), 4);
            std::memcpy(rows[static_cast<std::size_t>(recno - 1)].data(), ActiveBuffer(),
                        static_cast<std::size_t>(ValuesSize()));
        }
    }
    void InternalDelete() override {
        log.push_back("InternalDelete");
        rows.erase(rows.begin() + pos);
        if (pos >= static_cast<int>(rows.size())) pos = static_cast<int>(rows.size()) - 1;
    }
    void InternalEdit() override { log.push_back("InternalEdit"); }
    void InternalCancel() override { log.push_back("InternalCancel"); }
    bool IsCursorOpen() const override { return open_; }
    int GetRecordCount() override { return static_cast<int>(rows.size()); }
    int GetRecNo() override {
        if (IsEmpty() || State() == dsInsert) return -1;
        std::int32_t recno;
        std::memcpy(&recno, ActiveBuffer() + ValuesSize(), 4);
        return recno;
    }
    char* CurrentBuffer() const { return State() == dsCalcFields ? CalcBuffer() : ActiveBuffer(); }
    bool GetFieldData(TField* field, void* buffer) override {
        char* buf = CurrentBuffer();
        if (!buf || (State() == dsBrowse && IsEmpty())) return false;
        if (field->FieldKind() != fkData)
            return GetCalcFieldData(field, buf + ValuesSize() + 5, buffer);
        const char* p = buf + ValOffset(field->FieldNo() - 1);
        if (!p[0]) return false;
        if (buffer) std::memcpy(buffer, p + 1, static_cast<std::size_t>(field->DataSize()));
        return true;
    }
    void SetFieldData(TField* field, const void* buffer) override {
        char* buf = CurrentBuffer();
        if (field->FieldKind() != fkData) {
            SetCalcFieldData(field, buf + ValuesSize() + 5, buffer);
            return;
        }
        char* p = buf + ValOffset(field->FieldNo() - 1);
        p[0] = buffer ? 1 : 0;
        if (buffer) std::memcpy(p + 1, buffer, static_cast<std::size_t>(field->DataSize()));
        if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
    }
    void ClearCalcFields(char* buffer) override {
        if (calcSize > 0) std::memset(buffer + ValuesSize() + 5, 0, static_cast<std::size_t>(calcSize));
    }
    int TranslateText(const char* src, char* dst, bool toOem) override {
        if (!oem) return TDataSet::TranslateText(src, dst, toOem);
        log.push_back(toOem ? "TranslateText(toOem)" : "TranslateText(toAnsi)");
        if (toOem)
            CharToOemA(src, dst);
        else
            OemToCharA(src, dst);
        return static_cast<int>(std::strlen(dst));
    }

private:
    bool open_ = false;
    std::vector<std::unique_ptr<char[]>> pool_;
};

}  // namespace zarbel::test
