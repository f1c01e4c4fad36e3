#include "index/HXNTXIndexes.h"

#include <algorithm>

#include "index/HXDBFNTX.h"

namespace zarbel {

namespace {

// Upper-cases the letters a to z only, as index names are compared.
std::string UpperAZ(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

TIndexes::TIndexes(THXDBFNTX& table) : Table_(table) {}

TIndexes::~TIndexes() { Close(); }

THXNTXIndex& TIndexes::Add() {
    Items_.push_back(std::make_unique<THXNTXIndex>(*this, Table_));
    return *Items_.back();
}

void TIndexes::Remove(THXNTXIndex& index) {
    if (Current_ == &index) Current_ = nullptr;
    index.Close();
    if (THXNTXBag* own = index.OwnBag()) Table_.DBFIndexDefs().Remove(*own);
    Items_.erase(std::remove_if(Items_.begin(), Items_.end(), [&](const auto& p) { return p.get() == &index; }),
                 Items_.end());
}

void TIndexes::SetCurrent(THXNTXIndex* index) { Current_ = index; }

std::string TIndexes::IndexName() const { return Current_ ? Current_->Name() : std::string(); }

void TIndexes::SetIndexName(const std::string& name) {
    const std::string up = UpperAZ(name);
    for (auto& ix : Items_)
        if (UpperAZ(ix->Name()) == up) {
            ix->SetActive(true);
            return;
        }
}

void TIndexes::Open(THXSmartDBF&) {
    // Every index, then every bag of the table's definitions that no index opened.
    for (auto& ix : Items_) ix->Open();
    Table_.DBFIndexDefs().OpenAll(Table_);
}

void TIndexes::Close() {
    // Every index closes, even when one fails; the first failure is raised afterwards.
    std::exception_ptr first;
    for (auto& ix : Items_) {
        try {
            ix->Close();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    try {
        Table_.DBFIndexDefs().CloseAll();
    } catch (...) {
        if (!first) first = std::current_exception();
    }
    if (first) std::rethrow_exception(first);
}

std::uint32_t TIndexes::Seek(const std::uint8_t* key, std::size_t length, bool soft) {
    if (!HasCurrentOrder()) return 0;
    return Current_->FindKey(std::string(reinterpret_cast<const char*>(key), length), soft, 0, true);
}

bool TIndexes::InRange(const std::uint8_t* rec) {
    if (!HasCurrentOrder() || !Current_->NTXRange().Active()) return true;
    return Current_->RecordInRange(rec);
}

}  // namespace zarbel
