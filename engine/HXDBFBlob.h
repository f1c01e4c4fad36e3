// THXDBTStream: the blob stream a table hands to the dataset framework for a memo field. It
// holds the value in memory; setting its size or writing marks it modified, and when it is
// destroyed modified, it asks the table to save it into the field of the active record.
#pragma once
#include "engine/HXDBFDataSet.h"
#include "platform/streams.h"

namespace zarbel {

class THXDBTStream : public TMemoryStream {
public:
    THXDBTStream(THXSmartDBF* table, TField* field) : Table_(table), Field_(field) {}
    // Saves when modified. A failure cannot leave a destructor: it is kept by the table and
    // raised by the next Post (call Save first to see it at once).
    ~THXDBTStream() override;

    std::int64_t Write(const void* buffer, std::int64_t count) override;
    bool SetSize(std::int64_t size) override;

    bool Modified() const { return Modified_; }
    void SetModified(bool v) { Modified_ = v; }
    // Saves the value into the field now (when modified) and clears modified.
    void Save();

private:
    THXSmartDBF* Table_;
    TField* Field_;
    bool Modified_ = false;
};

}  // namespace zarbel
