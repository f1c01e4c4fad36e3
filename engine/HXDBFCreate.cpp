// Table creation: CreateTable / CreateNow of THXSmartDBF and the structure writer (header,
// descriptors, terminator, trailer).
#include "engine/HXDBFCreate.h"

#include <cmath>
#include <cstring>
#include <string>

#include "engine/HXDBFDataSet.h"
#include "engine/HXDBFPrx.h"
#include "platform/exception.h"
#include "platform/locale.h"

namespace zarbel {

namespace {

constexpr int kMaxLength16 = 0xFFFF;

[[noreturn]] void RaiseCreateWriteError(const TProxyStream& file) {
    std::string text = file.Env().LastErrorText();
    if (text.size() > 500) text.resize(500);
    throw Exception("THXSmartDBF: " + text);
}

void WriteAll(TProxyStream& file, const void* data, std::int64_t count) {
    if (count > 0 && file.Write(data, count) != count) RaiseCreateWriteError(file);
}

// The length and decimal bytes a definition is written with.
void SetLengthBytes(THXDBFFieldDef& def, bool vfp) {
    FIELD_REC& rec = def.FieldRec();
    const std::uint8_t lenByte = static_cast<std::uint8_t>(def.len() & 0xFF);
    const std::uint8_t decByte = static_cast<std::uint8_t>(def.dec() & 0xFF);
    switch (def.field_type()) {
        case 'C': case '0': rec.SetLength16(def.len()); break;
        case 'F': case 'N': rec.SetLenDec(lenByte, decByte); break;
        case 'D': rec.SetLenDec(8, 0); break;
        case 'L': rec.SetLenDec(1, 0); break;
        // Binary kinds carry their width too: other xBase programs find the fields of a
        // record by the length bytes alone.
        case 'Y': rec.SetLenDec(8, decByte); break;
        case 'M': case 'P': case 'G': rec.SetLenDec(vfp ? 4 : 10, 0); break;
        case 'B': rec.SetLenDec(vfp ? 8 : 10, 0); break;
        case '+': case 'I': rec.SetLenDec(4, 0); break;
        case '@': case 'O': case 'T': rec.SetLenDec(8, 0); break;
        case 'E':
            switch (ExtendedStorage(def.extend_type())) {
                case dbftString: case dbftString_N: case dbftFixedChar: case dbftWideString:
                    rec.SetLength16(def.len());
                    break;
                case dbftCurrency_N: case dbftBCD: case dbftCurrency_NB: rec.SetLenDec(lenByte, decByte); break;
                default: rec.SetLenDec(0, 0); break;
            }
            break;
        default: rec.SetLenDec(0, 0); break;  // letters that fail on their width
    }
}

// The dialect rules: the message of a type letter that DbfVersion does not allow, or none.
const char* DialectViolation(char letter, xBaseVersion v) {
    switch (letter) {
        case 'I': case '+': case 'O': case '@': return v >= xBaseVII ? nullptr : kCreateVIIMsg;
        case 'B': case 'G': return v >= xBaseV ? nullptr : kCreateBGMsg;
        case 'F': return v >= xBaseIV ? nullptr : kCreateFMsg;
        case 'P': return v >= xFoxPro ? nullptr : kCreatePMsg;
        case 'T': return v >= xFoxPro ? nullptr : kCreateTMsg;
        case 'Y': return v >= xFoxPro ? nullptr : kCreateYMsg;
        default: return nullptr;
    }
}

std::uint8_t MemoVersionByte(xBaseVersion v) {
    switch (v) {
        case xBaseIV: return 0x8B;
        case xBaseV: case xBaseVII: return 0x8C;
        case xFoxPro: return 0xF5;
        default: return 0x83;  // xUnknown, xClipper, xBaseIII and anything else
    }
}

class TStructureWriter {
public:
    TStructureWriter(TProxyStream& file, const TTableCreateSettings& s, TTableFlag& flags, TDBFHeader& header,
                     TTableCreateResult& result)
        : File_(file), S_(s), Flags_(flags), Header_(header), R_(result) {}

    void WriteList(THXDBFFieldDefs& list, bool nested) {
        if (list.Empty()) throw Exception(kCreateNoFieldsMsg);
        const xBaseVersion v = S_.DbfVersion;
        const bool vfp = v == xVisualFoxPro;
        for (int i = 0; i < list.Count(); ++i) {
            THXDBFFieldDef& def = list[i];
            FIELD_REC& rec = def.FieldRec();
            // width, length bytes, flags, descriptor form
            rec.SetDialect(v);
            SetLengthBytes(def, vfp);
            R_.RecordLength += CreatedFieldWidth(def, v);
            if (R_.RecordLength > kMaxLength16) throw Exception(kCreateRecordTooLongMsg);
            Header_.SetRecordLength(static_cast<std::uint16_t>(R_.RecordLength));
            rec.SetFieldFlags(def.FieldFlag().FieldFlag());
            // dialect rules
            const char letter = def.field_type();
            if (const char* msg = DialectViolation(letter, v)) throw Exception(msg);
            if (letter == 'I' || letter == '+' || letter == 'O' || letter == '@') {
                def.FieldFlag().SetBinaryColumn(true);
                rec.SetFieldFlags(def.FieldFlag().FieldFlag());
            }
            // memo file
            if (FieldNeedsMemo(letter, def.extend_type(), v)) {
                R_.HasMemo = true;
                if (vfp) {
                    Flags_.SetHasGotMemo(true);
                    Header_.SetTableFlags(Flags_.TableFlag());
                } else {
                    Header_.SetVersion(MemoVersionByte(v));
                }
                R_.VersionByte = Header_.Version();
                R_.MemoDialect = v;
            }
            // the descriptor, its name in the table's code page
            std::uint8_t image[kLongDescriptorSize];
            const int size = rec.DescriptorSize();
            std::memcpy(image, rec.Image(), static_cast<std::size_t>(size));
            if (S_.NameToOem) S_.NameToOem(image, rec.NameLength());
            WriteAll(File_, image, size);
            R_.HeaderLength += size;
            // a nested table's own list follows its field
            if (letter == 'E' && IsNestedDataSetType(def.extend_type())) WriteList(def.DBFFieldDefs(), true);
        }
        if (nested) {
            std::uint8_t block[kLongDescriptorSize] = {};
            block[0] = kDescriptorTerminator;
            const int size = DescriptorSize(v);
            WriteAll(File_, block, size);
            R_.HeaderLength += size;
        } else {
            std::uint8_t term = kDescriptorTerminator;
            WriteAll(File_, &term, 1);  // counted by the header length's starting value
        }
    }

private:
    TProxyStream& File_;
    const TTableCreateSettings& S_;
    TTableFlag& Flags_;
    TDBFHeader& Header_;
    TTableCreateResult& R_;
};

// Visual FoxPro: one bit per nullable field in the system field "_NULLFLAGS".
void AddNullFlagsField(THXDBFFieldDefs& defs) {
    int count = 0;
    THXDBFFieldDef* existing = nullptr;
    for (int i = 0; i < defs.Count(); ++i) {
        THXDBFFieldDef& d = defs[i];
        if (d.field_type() == '0' && d.Name() == "_NULLFLAGS") {
            existing = &d;
            continue;
        }
        if (d.FieldFlag().CanStoreNull()) ++count;
    }
    if (count == 0) return;
    THXDBFFieldDef& nf = existing ? *existing : defs.Add();
    nf.SetName("_NULLFLAGS");
    nf.Setfield_type('0');
    nf.Setextend_type(dbftUndefined);
    nf.Setlen(static_cast<std::uint16_t>(count / 8 + (count % 8 != 0 ? 1 : 0)));
    nf.Setdec(0);
    nf.FieldFlag().SetFieldFlag(TFieldFlag::kSystem | TFieldFlag::kBinaryColumn);
}

}  // namespace

int CreatedFieldWidth(const THXDBFFieldDef& def, xBaseVersion dbfVersion) {
    const FIELD_REC& rec = def.FieldRec();
    const bool vfp = dbfVersion == xVisualFoxPro;
    switch (def.field_type()) {
        case '+': case 'I': return 4;
        case 'C': case '0': return rec.Length16();
        case 'F': case 'N': return rec.LengthByte();
        case '@': case 'D': case 'O': case 'T': case 'Y': return 8;
        case 'B': return vfp ? 8 : 10;
        case 'G': case 'M': case 'P': return vfp ? 4 : 10;
        case 'L': return 1;
        case 'E': {
            int w = ExtendedFieldSize(def.extend_type(), rec.Length16(), vfp ? xVisualFoxPro : xUnknown);
            if (w <= 0) throw Exception(kExtendTypeIncorrectMsg);
            return w;
        }
        default: throw Exception(kFieldTypeIncorrectMsg);
    }
}

void WriteTableStructure(TProxyStream& file, const TTableCreateSettings& settings, TTableFlag& foxTableFlag,
                         THXDBFFieldDefs& defs, TTableCreateResult& result) {
    const xBaseVersion v = settings.DbfVersion;
    result = TTableCreateResult{};
    // the header as it starts out
    TDBFHeader header;
    header.SetVersion(v == xBaseV || v == xBaseVII ? 0x04 : (v == xVisualFoxPro ? 0x30 : 0x03));
    int year = 0, month = 0, day = 0;
    DecodeDate(std::trunc(file.Env().Now()), year, month, day);
    header.SetDate(year, month, day);
    header.SetRecordCount(0);
    header.SetHeaderLength(1);
    header.SetRecordLength(1);
    header.SetTableFlags(foxTableFlag.TableFlag());
    header.SetCodePage(settings.Codepage);
    result.VersionByte = header.Version();
    result.HeaderLength = 1;
    result.RecordLength = 1;
    // written once now, again when the lengths are known
    if (file.Seek(0, soBeginning) != 0) RaiseCreateWriteError(file);
    WriteAll(file, header.Bytes(), kHeaderSize);
    result.HeaderLength += kHeaderSize;
    // dBase VII header extension
    if (v == xBaseV || v == xBaseVII) {
        std::uint8_t ext[kHeaderExtensionSize] = {};
        WriteAll(file, ext, kHeaderExtensionSize);
        result.HeaderLength += kHeaderExtensionSize;
    }
    // Visual FoxPro null flags
    if (v == xVisualFoxPro) AddNullFlagsField(defs);
    // descriptors
    defs.SetDialect(v);
    TStructureWriter writer(file, settings, foxTableFlag, header, result);
    writer.WriteList(defs, false);
    // the end-of-file byte inside the header
    result.HeaderLength += 1;
    std::uint8_t eof = kEndOfFileMarker;
    WriteAll(file, &eof, 1);
    // Visual FoxPro trailer
    if (v == xVisualFoxPro) {
        std::uint8_t trailer[kVfpTrailerSize] = {};
        WriteAll(file, trailer, kVfpTrailerSize);
        result.HeaderLength += kVfpTrailerSize;
    }
    if (result.HeaderLength > kMaxLength16) throw Exception(kCreateHeaderTooLongMsg);
    // nothing after the structure
    if (!file.SetEndOfFile()) RaiseCreateWriteError(file);
    // the final header
    header.SetHeaderLength(static_cast<std::uint16_t>(result.HeaderLength));
    header.SetRecordLength(static_cast<std::uint16_t>(result.RecordLength));
    header.SetTableFlags(foxTableFlag.TableFlag());
    if (file.Seek(0, soBeginning) != 0) RaiseCreateWriteError(file);
    WriteAll(file, header.Bytes(), kHeaderSize);
}

// ---------------------------------------------------------------------------------------
// THXSmartDBF
// ---------------------------------------------------------------------------------------

void THXSmartDBF::CreateTable() {
    // A new, empty file (or storage).
    if (Active()) throw Exception(kCreateOpenMsg);
    SetUpTableFile(DBFFileName_);
    TableFile_.CreateProxyStream();
    if (!TableFile_.IsOpen()) throw Exception(kCreateErrorMsg + TableFile_.OpenFailureNote());

    // Header, descriptors, terminator, trailer.
    TTableCreateSettings settings;
    settings.DbfVersion = DbfVersion_;
    settings.Codepage = Codepage_;
    if (OEM_)
        settings.NameToOem = [this](std::uint8_t* bytes, int count) {
            TranslateBuffer(reinterpret_cast<const char*>(bytes), reinterpret_cast<char*>(bytes), count, true);
        };
    TTableCreateResult result;
    try {
        WriteTableStructure(TableFile_, settings, FoxTableFlag_, DBFFieldDefs_, result);
    } catch (...) {
        if (result.HasMemo) MemoDialect_ = result.MemoDialect;
        TableFile_.Close();
        throw;
    }
    if (result.HasMemo) MemoDialect_ = result.MemoDialect;
    TableFile_.Close();

    // the memo file
    CreateMemoFile(result.VersionByte, result.HasMemo);

    // a table with an index collection opens the new table once (which checks it the
    // way every later open will) and creates its index files meanwhile.
    if (Index_) {
        Creating_ = true;
        try {
            Open();
            Index_->CreateFiles(*this);
            Close();
        } catch (...) {
            Creating_ = false;
            if (Active()) Close();
            throw;
        }
        Creating_ = false;
    }
}

void THXSmartDBF::SetCreateNow(bool v) {
    if (v) CreateTable();
    CreateNow_ = v;
}

}  // namespace zarbel
