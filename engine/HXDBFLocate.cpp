// THXSmartDBF: the record filter (Filter, FilterOptions, OnFilterRecord), find first / next /
// prior / last, and locate and lookup by a block scan of the table file or through an index.
//
// The table keeps one compiled copy of Filter in its record filter; the copy is made again
// when the text, the options or the field objects change. Locate and lookup read the file
// front to back in blocks of BufferSize div record length records, decipher each record with
// its number, and examine it as the active record (a copy in the scratch buffer, with its record
// number behind it) without moving the cursor; the active record buffer is restored in every case.
//
// An exact locate is answered through an index only where the index gives the scan's answer:
// the first record in file order that passes the acceptance test and matches (see
// LocateByIndex). Each record the index offers is read and matched as the scan would match it.
#include <array>
#include <cmath>
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

bool IsStringType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Points the table's active record at another buffer while it lives, and back at the old
// choice when it goes.
class TDirectRecord {
public:
    TDirectRecord(char*& direct, char* rec) : Direct_(direct), Old_(direct) { Direct_ = rec; }
    ~TDirectRecord() { Direct_ = Old_; }
    TDirectRecord(const TDirectRecord&) = delete;
    TDirectRecord& operator=(const TDirectRecord&) = delete;

private:
    char*& Direct_;
    char* Old_;
};

// Whether a case-insensitive comparison with s takes only texts whose UPPER is UPPER(s).
// UPPER upper-cases a to z only, the comparison every letter of the code page: a value with
// a letter beyond a to z (a Cyrillic one) also matches records whose UPPER differs from its own.
bool UpperKeyHolds(std::string_view s, bool oem) {
    // for each upper-cased byte: the UPPER its lower- and upper-case forms give, and whether
    // they give more than one
    std::array<int, 256> upperOf;
    upperOf.fill(-1);
    std::array<bool, 256> mixed{};
    for (int b = 0; b < 256; ++b) {
        const auto u = static_cast<unsigned char>(AnsiUpperChar(static_cast<char>(b), oem));
        const int a = b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b;
        if (upperOf[u] < 0) upperOf[u] = a;
        else if (upperOf[u] != a) mixed[u] = true;
    }
    for (char c : s)
        if (mixed[static_cast<unsigned char>(AnsiUpperChar(c, oem))]) return false;
    return true;
}

// TDateTime of 1 January of the year 1 and of 31 December 9999.
constexpr double kFirstDay = -693593, kLastDay = 2958465;

}  // namespace

// ---------------------------------------------------------------------------------------
// Filter
// ---------------------------------------------------------------------------------------

void THXSmartDBF::CompileFilter() {
    if (FilterCompiled_ || Filter().empty() || !RecordFilter_ || !Active()) return;
    RecordFilter_->Compile(Filter());
    FilterCompiled_ = true;
}

void THXSmartDBF::SetFilter(std::string_view text) {
    if (!Active() || text == Filter()) {
        TDataSet::SetFilter(text);
        FilterCompiled_ = false;
        return;
    }
    CheckBrowseMode();
    const std::string old = Filter();
    TDataSet::SetFilter(text);
    FilterCompiled_ = false;
    try {
        CompileFilter();
    } catch (...) {
        // the filter in force stays the old one
        TDataSet::SetFilter(old);
        FilterCompiled_ = false;
        try {
            CompileFilter();
        } catch (...) {
        }
        throw;
    }
    if (Filtered()) Refresh();
}

void THXSmartDBF::SetFilterOptions(unsigned v) {
    if (v == FilterOptions()) return;
    if (!Active()) {
        TDataSet::SetFilterOptions(v);
        FilterCompiled_ = false;
        return;
    }
    CheckBrowseMode();
    TDataSet::SetFilterOptions(v);
    FilterCompiled_ = false;
    CompileFilter();
    if (Filtered() && !Filter().empty()) Refresh();
}

// ---------------------------------------------------------------------------------------
// Find first, next, prior, last
// ---------------------------------------------------------------------------------------

bool THXSmartDBF::FindRecord(bool restart, bool goForward) {
    CompileFilter();
    CheckBrowseMode();
    if (BeforeScroll) BeforeScroll(*this);
    UpdateCursorPos();
    bool found = false;
    if (goForward) {
        if (restart) ReadFirstBlock();
        while (FetchNext())
            if (AcceptRecord(Slot(P_), true)) {
                found = true;
                break;
            }
    } else {
        if (restart) ReadLastBlock();
        while (FetchPrior())
            if (AcceptRecord(Slot(P_), true)) {
                found = true;
                break;
            }
    }
    if (found) {
        // the cursor stands on the record; the dataset takes it as its current one
        Resync(rmExact | rmCenter);
        if (AfterScroll) AfterScroll(*this);
        return true;
    }
    // back to the record the cursor was on
    CursorPosChanged();
    UpdateCursorPos();
    return false;
}

// ---------------------------------------------------------------------------------------
// Locate, lookup
// ---------------------------------------------------------------------------------------

bool THXSmartDBF::PrepareLocateKeys(std::string_view keyFields, const TVariant& keyValues, unsigned options) {
    LocateKeys_.clear();
    ForEachFieldName(keyFields, [&](std::string_view name) {
        TLocateKey k;
        k.Field = &FieldByName(name);
        LocateKeys_.push_back(std::move(k));
    });
    if (LocateKeys_.empty()) return false;
    const bool several = LocateKeys_.size() > 1;
    // Several fields take one array element each; a value that is not an array finds nothing
    // (the fields would all be compared with nothing).
    if (several && !keyValues.IsArray()) return false;
    if (keyValues.IsNullOrEmpty()) return false;
    if (keyValues.IsArray()) {
        if (keyValues.ArrayLength() < static_cast<int>(several ? LocateKeys_.size() : 1)) return false;
        for (int i = 0; i < (several ? static_cast<int>(LocateKeys_.size()) : 1); ++i)
            if (keyValues[i].IsNullOrEmpty()) return false;
    }
    const bool oem = TextIsOem();
    for (std::size_t i = 0; i < LocateKeys_.size(); ++i) {
        TLocateKey& k = LocateKeys_[i];
        const TVariant& v = keyValues.IsArray() ? keyValues[static_cast<int>(i)] : keyValues;
        const TFieldType t = k.Field->DataType();
        if (IsStringType(t) || (t == ftMemo && !several)) {
            k.Text = v.AsString();
            if (TrimInLocate_) k.Text = std::string(TrimBlanks(k.Text));
            if ((options & loCaseInsensitive) && (options & loPartialKey)) k.Text = AnsiUpperCase(k.Text, oem);
        } else {
            switch (t) {
                case ftSmallint: case ftInteger: case ftWord: case ftLargeint: k.Int = v.AsInt64(); break;
                case ftAutoInc:
                    if (!several) k.Int = v.AsInt64();
                    break;
                case ftBoolean: k.Bool = v.AsBoolean(); break;
                case ftFloat: case ftCurrency: case ftBCD: k.Float = v.AsDouble(); break;
                case ftDate: case ftTime: case ftDateTime: k.Float = v.AsDateTime(); break;
                default: break;
            }
        }
    }
    return true;
}

bool THXSmartDBF::MatchLocateKeys(unsigned options) {
    const bool several = LocateKeys_.size() > 1;
    const bool oem = TextIsOem();
    for (TLocateKey& k : LocateKeys_) {
        TField& f = *k.Field;
        const TFieldType t = f.DataType();
        if (IsStringType(t) || (t == ftMemo && !several)) {
            f.GetAsString(LocateText_);
            std::string_view text = LocateText_;
            if (TrimInLocate_) text = TrimBlanks(text);
            if (options & loPartialKey) {
                if (text.size() < k.Text.size()) return false;
                if (options & loCaseInsensitive) {
                    for (std::size_t i = 0; i < k.Text.size(); ++i)
                        if (AnsiUpperChar(text[i], oem) != k.Text[i]) return false;
                } else if (text.compare(0, k.Text.size(), k.Text) != 0) {
                    return false;
                }
            } else if (options & loCaseInsensitive) {
                if (!AnsiSameText(text, k.Text, oem)) return false;
            } else if (text != k.Text) {
                return false;
            }
            continue;
        }
        switch (t) {
            case ftSmallint: case ftInteger: case ftWord: case ftLargeint:
                if (f.AsLargeInt() != k.Int) return false;
                break;
            case ftAutoInc:
                if (several || f.AsLargeInt() != k.Int) return false;
                break;
            case ftBoolean:
                if (f.AsBoolean() != k.Bool) return false;
                break;
            case ftFloat: case ftCurrency: case ftBCD:
                if (f.AsFloat() != k.Float) return false;
                break;
            case ftDate: case ftTime: case ftDateTime:
                if (f.AsDateTime() != k.Float) return false;
                break;
            default: return false;
        }
    }
    return true;
}

void THXSmartDBF::PrepareExamined(std::uint32_t n) {
    std::uint8_t* rec = Scratch_.Bytes();
    if (CryptActive()) DecryptRecord(rec, n);
    PutLE32(rec + RecLen_, n);
    rec[RecLen_ + 4] = 0;
    rec[RecLen_ + 5] = bfCurrent;
}

bool THXSmartDBF::ExamineRecord(std::uint32_t n) {
    if (!TableFile_.ReadAt(RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n),
                           Scratch_.Chars(), RecLen_))
        return false;
    PrepareExamined(n);
    return true;
}

bool THXSmartDBF::LocateByIndex(std::string_view keyFields, unsigned options, std::uint32_t& found) {
    // A partial seek finds the first match in key order, the scan the first in file order;
    // trimmed texts are not what the keys hold.
    if (!Index_ || (options & loPartialKey) || TrimInLocate_ || TrimCType_) return false;
    const bool upper = (options & loCaseInsensitive) != 0;
    const bool oem = TextIsOem();
    LocateFields_.clear();
    std::vector<TVariant> values;
    values.reserve(LocateKeys_.size());
    for (const TLocateKey& k : LocateKeys_) {
        const TFieldType t = k.Field->DataType();
        if (t == ftString || t == ftFixedChar) {
            // A text of another length than the field's matches no record, or one whose field
            // holds a zero byte (its text ends there), which the key pads with blanks.
            if (k.Text.size() != static_cast<std::size_t>(k.Field->Size())) return false;
            if (upper && !UpperKeyHolds(k.Text, oem)) return false;
            values.emplace_back(k.Text);
        } else if (t == ftDate) {
            // Whole days that a key can spell; day 0 is also what a blank date reads as.
            if (k.Float == 0 || k.Float != std::floor(k.Float) || k.Float < kFirstDay || k.Float > kLastDay)
                return false;
            values.push_back(TVariant::FromDateTime(k.Float));
        } else {
            return false;
        }
        LocateFields_.push_back(k.Field);
    }
    const int ix = Index_->ExactLocateIndex(LocateFields_.data(), LocateFields_.size(), upper);
    if (ix < 0) return false;
    found = Index_->SeekValues(ix, keyFields, TVariant(std::move(values)), [&](std::uint32_t n) {
        if (!ExamineRecord(n)) return false;
        TDirectRecord direct(DirectBuffer_, Scratch_.Chars());
        return AcceptRecord(Scratch_.Bytes()) && MatchLocateKeys(options);
    });
    return true;
}

std::uint32_t THXSmartDBF::LocateRecord(std::string_view keyFields, const TVariant& keyValues, unsigned options,
                                        bool forceScan) {
    CheckActive();
    CompileFilter();
    if (!PrepareLocateKeys(keyFields, keyValues, options)) return 0;
    std::uint32_t found = 0;
    if (!forceScan && LocateByIndex(keyFields, options, found)) return found;
    const bool test = Filtered() || SetDeleted_ || IndexActive();
    return ScanRecords(
        [&](const std::uint8_t* rec, std::uint32_t) { return (!test || AcceptRecord(rec)) && MatchLocateKeys(options); },
        "THXSmartDBF.LocateRecord: Record size too large");
}

void THXSmartDBF::ScanFile(const std::function<void(const std::uint8_t* rec, std::uint32_t n)>& take,
                           const std::string& tooLarge) {
    CheckActive();
    FlushAddBuffer();
    ScanRecords(
        [&](const std::uint8_t* rec, std::uint32_t n) {
            take(rec, n);
            return false;
        },
        tooLarge);
}

std::uint32_t THXSmartDBF::ScanRecords(const std::function<bool(const std::uint8_t* rec, std::uint32_t n)>& visit,
                                       const std::string& tooLarge) {
    const int perRead = RecLen_ > 0 ? BufferSize_ / RecLen_ : 0;
    if (perRead < 1) throw Exception(tooLarge);
    const std::size_t recLen = static_cast<std::size_t>(RecLen_);
    const std::int64_t want = static_cast<std::int64_t>(perRead) * RecLen_;
    char* examined = Scratch_.Chars();
    TDirectRecord direct(DirectBuffer_, examined);
    std::uint32_t n = 1;
    for (;;) {
        const std::int64_t pos = RecordPosition(Header_.HeaderLength(), static_cast<std::uint16_t>(RecLen_), n);
        ++BlockReads_;
        const std::int64_t got = TableFile_.PRead(pos, ScanBuf_.Data(), want);
        const int k = RecordsRead(ScanBuf_.Bytes(), got, want);
        if (k <= 0) return 0;
        for (int i = 0; i < k; ++i, ++n) {
            std::memcpy(examined, ScanBuf_.Bytes() + static_cast<std::size_t>(i) * recLen, recLen);
            PrepareExamined(n);
            if (visit(Scratch_.Bytes(), n)) return n;
        }
        if (k < perRead) return 0;
    }
}

bool THXSmartDBF::Locate(std::string_view keyFields, const TVariant& keyValues, unsigned options) {
    CheckBrowseMode();
    const std::uint32_t n = LocateRecord(keyFields, keyValues, options, false);
    if (n == 0) return false;
    if (BeforeScroll) BeforeScroll(*this);
    ReadBlockAround(static_cast<int>(n));
    Resync(rmExact | rmCenter);
    if (AfterScroll) AfterScroll(*this);
    return true;
}

TVariant THXSmartDBF::Lookup(std::string_view keyFields, const TVariant& keyValues, std::string_view resultFields) {
    CheckActive();
    const std::uint32_t n = LocateRecord(keyFields, keyValues, LookupOptions_, false);
    if (n == 0 || !ExamineRecord(n)) return TVariant::Null();
    char* examined = Scratch_.Chars();
    TDirectRecord direct(DirectBuffer_, examined);
    GetCalcFields(examined);
    return GetFieldValues(resultFields);
}

}  // namespace zarbel
