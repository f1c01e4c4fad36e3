// TIndexes: a table's collection of open NTX indexes, and the table's index collaborator.
// Navigation goes through the current index; every write keeps every open index current.
//
// The collection is empty until NTX files can be opened: with no index open there is no
// current order, the table walks in file order, and every write leaves the cursor where the
// table puts it.
#pragma once
#include "engine/HXDBFCollaborators.h"

namespace zarbel {

class TIndexes final : public TDBFIndexOrder {
public:
    int Count() const { return 0; }

    void Open(THXSmartDBF&) override {}
    void Close() override {}
    void CreateFiles(THXSmartDBF&) override {}

    bool HasCurrentOrder() const override { return false; }
    int ReadFirst(TDBFReadBlock&) override { return 0; }
    int ReadLast(TDBFReadBlock&) override { return 0; }
    int ReadForward(TDBFReadBlock&) override { return 0; }
    int ReadBackward(TDBFReadBlock&) override { return 0; }
    int ReadAround(TDBFReadBlock&, std::uint32_t) override { return 0; }
    std::uint32_t Seek(const std::uint8_t*, std::size_t, bool) override { return 0; }
    bool InRange(const std::uint8_t*) override { return true; }

    void EditBegins(const std::uint8_t*) override {}
    std::uint32_t Appended(std::uint32_t n, const std::uint8_t*, bool) override { return n; }
    std::uint32_t Updated(std::uint32_t n, const std::uint8_t*, bool) override { return n; }
    void PackBegin() override {}
    void PackAdd(const std::uint8_t*, std::uint32_t) override {}
    void PackEnd() override {}
};

}  // namespace zarbel
