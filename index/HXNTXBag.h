// Index bags and orders, the open side: a bag is one index file (THXNTXBag, its stream and its
// orders), an order one index order inside it (THXNTXOrder; an NTX bag holds exactly one,
// with the file's 1024-byte header). THXDBFIndexDefs is a table's collection of bags
// (published as DBFIndexDefs). THXLimitIndexPages holds an index's page-cache limits.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/HXDBFPrx.h"
#include "index/HXCollation.h"
#include "index/HXNTXBuffers.h"
#include "index/HXNTXFormat.h"

namespace zarbel {

class THXDBFNTX;

// Page-cache limits of an index: the limit type, the most blocks kept (lbtLimited; lbtAuto
// computes it at open) and the pages per block.
class THXLimitIndexPages {
public:
    THXLimitBuffersType LimitPagesType() const { return Type_; }
    // lbtLimited is refused while LimitBuffers is below 1 (set LimitBuffers first).
    void SetLimitPagesType(THXLimitBuffersType t);
    int LimitBuffers() const { return LimitBuffers_; }
    // Refused below 1 under lbtLimited.
    void SetLimitBuffers(int n);
    int PagesPerBuffer() const { return PagesPerBuffer_; }
    // Refused outside 1..510.
    void SetPagesPerBuffer(int n);

private:
    THXLimitBuffersType Type_ = lbtAuto;
    int LimitBuffers_ = 0;
    int PagesPerBuffer_ = 4;
};

class THXNTXOrder {
public:
    explicit THXNTXOrder(int index) : Name_("THXDBFOrder" + std::to_string(index)) {}
    const std::string& Name() const { return Name_; }
    void SetName(const std::string& v) { Name_ = v; }
    const std::string& KeyExpresion() const { return KeyExpresion_; }
    const std::string& ForExpresion() const { return ForExpresion_; }
    bool Unique() const { return Unique_; }
    bool Desc() const { return Desc_; }
    // What a create takes (HXDBFIndexDefs.cpp): an expression holding a character below 32
    // is kept as empty.
    void SetKeyExpresion(const std::string& v);
    void SetForExpresion(const std::string& v);
    void SetUnique(bool v) { Unique_ = v; }
    void SetDesc(bool v) { Desc_ = v; }
    bool KeyTranslate() const { return KeyTranslate_; }
    void SetKeyTranslate(bool v) { KeyTranslate_ = v; }
    bool Temp() const { return Temp_; }
    void SetTemp(bool v) { Temp_ = v; }
    TCLIPPER_VERSION ClipperVer() const { return ClipperVer_; }
    void SetClipperVer(TCLIPPER_VERSION v) { ClipperVer_ = v; }
    // Writes a new, empty index for this order into the bag's open stream: the header from the
    // order's properties (key size and decimals from the key expression evaluated on a blank
    // record of the open table) and one empty root page; the header becomes the order's.
    void CreateOrder(THXDBFNTX& table, TProxyStream& stream);
    // Still named as constructed.
    bool HasInitialName() const { return Name_.rfind("THXDBFOrder", 0) == 0; }
    THXCollation& Collation() { return Collation_; }
    THXLimitIndexPages& LimitPages() { return LimitPages_; }
    // The header as the bag read it.
    const TNTXHeader& Header() const { return Header_; }
    // Takes the header read from the file; the name, expressions and flags come from it
    // (stem: the name when the header's order name is empty).
    void LoadHeader(const std::uint8_t* bytes, const std::string& stem);

private:
    std::string Name_, KeyExpresion_, ForExpresion_;
    bool Unique_ = false, Desc_ = false;
    bool KeyTranslate_ = true, Temp_ = false;
    TCLIPPER_VERSION ClipperVer_ = v500;
    THXCollation Collation_;
    THXLimitIndexPages LimitPages_;
    TNTXHeader Header_;
};

class THXNTXBag {
public:
    explicit THXNTXBag(int index) : Name_("THXDBFIndexBag" + std::to_string(index)), Initial_(Name_) {}
    THXNTXBag(const THXNTXBag&) = delete;
    THXNTXBag& operator=(const THXNTXBag&) = delete;

    const std::string& Name() const { return Name_; }
    void SetName(const std::string& v) { Name_ = v; }
    const std::string& IndexFileName() const { return IndexFileName_; }
    // A bag still under its initial name takes the file's stem as its name.
    void SetIndexFileName(const std::string& v);
    TProxyStreamType StorageType() const { return StorageType_; }
    void SetStorageType(TProxyStreamType t) { StorageType_ = t; }
    TStream* OuterStream() const { return Outer_; }
    void SetOuterStream(TStream* s) { Outer_ = s; }

    // The access mode of the file when it is not the table's (-1: the table's).
    void SetAccessMode(std::int64_t mode) { AccessMode_ = mode; }
    // Whether the file is (or would be) opened for writing: a file of a table opened for
    // reading is opened for reading too, unless the bag has an access mode of its own.
    bool Writable(THXDBFNTX& table) const;

    // The bag's one order (made when first asked for).
    THXNTXOrder& Order();
    bool HasOrder() const { return Order_ != nullptr; }
    // A second order is refused: "THXNTXOrder.Create: NTX bag can not content more then one
    // order!".
    THXNTXOrder& AddOrder();

    // Opens the file with the table's access mode, storage and lock events, and reads its
    // header into the order. Raises "THXNTXBag.Open: StorageType = pstOuterStream but
    // OuterStream = nil!" or "THXNTXBag.Open: Open error "<IndexFileName>"".
    void Open(THXDBFNTX& table);
    // Sets the stream up as Open does and creates the file (emptied when it exists); false
    // when it could not be created (HXNTXIndexWrite.cpp).
    bool Create(THXDBFNTX& table);
    void Close();
    bool IsOpen() const { return Stream_.IsOpen(); }
    TProxyStream& Stream() { return Stream_; }

private:
    // The stream closed and set up for the file with the table's access mode, storage, outer
    // stream and lock events.
    void SetUpStream(THXDBFNTX& table);
    std::string Name_, Initial_, IndexFileName_;
    TProxyStreamType StorageType_ = pstFile;
    TStream* Outer_ = nullptr;
    std::int64_t AccessMode_ = -1;
    std::unique_ptr<THXNTXOrder> Order_;
    TProxyStream Stream_;
};

class THXDBFIndexDefs {
public:
    int Count() const { return static_cast<int>(Bags_.size()); }
    THXNTXBag& operator[](int i) { return *Bags_[static_cast<std::size_t>(i)]; }
    THXNTXBag& Add();
    // Closes and removes the bag.
    void Remove(THXNTXBag& bag);
    // The bag whose Name, or IndexFileName without path and extension, equals name (case
    // ignored); null when none does.
    THXNTXBag* Find(const std::string& name);
    // Opens every bag not yet open / closes every bag.
    void OpenAll(THXDBFNTX& table);
    void CloseAll();
    // Creates every bag's file with its order (an order still under its initial name is named
    // after the file) and closes it again (HXDBFIndexDefs.cpp).
    void CreateAll(THXDBFNTX& table);
    // The kind code of this collection's items (HXDBFIndexDefs.h).
    int Kind() const;

private:
    std::vector<std::unique_ptr<THXNTXBag>> Bags_;
};

// The file name without its path and extension (cut at the first ".").
std::string NTXFileStem(const std::string& fileName);

}  // namespace zarbel
