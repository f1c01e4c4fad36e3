#include "index/HXNTXBag.h"

#include "index/HXDBFNTX.h"
#include "platform/exception.h"

namespace zarbel {

std::string NTXFileStem(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = base.find('.');
    if (dot != std::string::npos) base.resize(dot);
    return base;
}

namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// THXLimitIndexPages
// ---------------------------------------------------------------------------------------

void THXLimitIndexPages::SetLimitPagesType(THXLimitBuffersType t) {
    if (t == lbtLimited && LimitBuffers_ < 1)
        throw Exception("THXLimitIndexPages.SetLimitPagesType: LimitBuffers must be at least 1 for lbtLimited!");
    Type_ = t;
}

void THXLimitIndexPages::SetLimitBuffers(int n) {
    if (Type_ == lbtLimited && n < 1)
        throw Exception("THXLimitIndexPages.SetLimitBuffers: LimitBuffers must be at least 1 for lbtLimited!");
    LimitBuffers_ = n;
}

void THXLimitIndexPages::SetPagesPerBuffer(int n) {
    if (n < 1 || n > kNTXMaxPagesPerBuffer)
        throw Exception("THXLimitIndexPages.SetPagesPerBuffer: PagesPerBuffer must be 1..510!");
    PagesPerBuffer_ = n;
}

// ---------------------------------------------------------------------------------------
// THXNTXOrder
// ---------------------------------------------------------------------------------------

void THXNTXOrder::LoadHeader(const std::uint8_t* bytes, const std::string& stem) {
    Header_.Parse(bytes);
    const std::string name = Header_.OrderNameText();
    Name_ = name.empty() ? stem : name;
    KeyExpresion_ = Header_.KeyExpression();
    ForExpresion_ = Header_.ForExpression();
    Unique_ = Header_.Unique != 0;
    Desc_ = Header_.Descending != 0;
}

// ---------------------------------------------------------------------------------------
// THXNTXBag
// ---------------------------------------------------------------------------------------

void THXNTXBag::SetIndexFileName(const std::string& v) {
    IndexFileName_ = v;
    if (Name_ == Initial_) Name_ = NTXFileStem(v);
}

THXNTXOrder& THXNTXBag::Order() {
    if (!Order_) Order_ = std::make_unique<THXNTXOrder>(0);
    return *Order_;
}

THXNTXOrder& THXNTXBag::AddOrder() {
    if (Order_) throw Exception("THXNTXOrder.Create: NTX bag can not content more then one order!");
    return Order();
}

bool THXNTXBag::Writable(THXDBFNTX& table) const {
    const std::uint32_t mode =
        AccessMode_ >= 0 ? static_cast<std::uint32_t>(AccessMode_) : table.AccessMode().AccessMode();
    return StorageType_ != pstFile || (mode & 3) != 0;
}

void THXNTXBag::SetUpStream(THXDBFNTX& table) {
    Stream_.Close();
    Stream_.SetEnv(table.Env());
    Stream_.SetFileName(IndexFileName_);
    Stream_.AccessMode().SetAccessMode(AccessMode_ >= 0 ? static_cast<std::uint32_t>(AccessMode_)
                                                       : table.AccessMode().AccessMode());
    Stream_.SetProxyStreamType(StorageType_);
    Stream_.SetOuterStream(Outer_);
    Stream_.OnLockEvent = table.OnOuterStreamLock;
    Stream_.OnUnlockEvent = table.OnOuterStreamUnlock;
}

void THXNTXBag::Open(THXDBFNTX& table) {
    if (StorageType_ == pstOuterStream && !Outer_)
        throw Exception("THXNTXBag.Open: StorageType = pstOuterStream but OuterStream = nil!");
    SetUpStream(table);
    Stream_.OpenProxyStream();
    if (!Stream_.IsOpen()) throw Exception("THXNTXBag.Open: Open error \"" + IndexFileName_ + "\"");
    // The header into the order; a file too short for one leaves it zero (the index's own
    // checks refuse it).
    std::uint8_t header[kNTXHeaderSize] = {};
    Stream_.PRead(0, header, static_cast<std::int64_t>(kNTXHeaderSize));
    Order().LoadHeader(header, NTXFileStem(IndexFileName_));
}

void THXNTXBag::Close() { Stream_.Close(); }

// ---------------------------------------------------------------------------------------
// THXDBFIndexDefs
// ---------------------------------------------------------------------------------------

THXNTXBag& THXDBFIndexDefs::Add() {
    Bags_.push_back(std::make_unique<THXNTXBag>(Count()));
    return *Bags_.back();
}

void THXDBFIndexDefs::Remove(THXNTXBag& bag) {
    bag.Close();
    std::erase_if(Bags_, [&](const auto& b) { return b.get() == &bag; });
}

THXNTXBag* THXDBFIndexDefs::Find(const std::string& name) {
    for (auto& b : Bags_)
        if (SameText(b->Name(), name) || SameText(NTXFileStem(b->IndexFileName()), name)) return b.get();
    return nullptr;
}

void THXDBFIndexDefs::OpenAll(THXDBFNTX& table) {
    for (auto& b : Bags_)
        if (!b->IsOpen()) b->Open(table);
}

void THXDBFIndexDefs::CloseAll() {
    for (auto& b : Bags_) b->Close();
}

}  // namespace zarbel
