// The engine's table set up as the tables callers use: Clipper's lock conventions and an index
// collaborator with no index open, as the index layer's test::TClipperDBF has with an empty collection
// (creation then opens the new table once, as every later open will).
#pragma once
#include "clipper_table.h"
#include "engine/HXDBFCollaborators.h"
#include "engine/HXDBFDataSet.h"

namespace zarbel::test {

class TNoIndexes final : public TDBFIndexOrder {
public:
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

class TClipperDBF : public THXSmartDBF {
public:
    TClipperDBF() {
        SetLockProtocol(lpClipperLock);
        SetLobLockProtocol(lpClipperLock);
        SetIndexOrder(&NoIndexes_);
    }
    ~TClipperDBF() override { DestroyingClose(); }

private:
    TNoIndexes NoIndexes_;
};

}  // namespace zarbel::test
