// THXSmartDBF: the descriptor walk that turns a table's field descriptors into THXDBFFieldDefs,
// dataset field definitions and the codecs' storage facts.
#include <cstring>

#include "engine/HXDBFDataSet.h"
#include "engine/HXDBFDescriptors.h"
#include "platform/exception.h"

namespace zarbel {

namespace {

struct TMapping {
    TFieldType Type = ftUnknown;  // ftUnknown: no dataset field
    int FrameworkSize = 0;
    int Bytes = 0;                // in the record
    int Len = 0;                  // of the definition
    int Dec = 0;
};

const char* const kMsgPlus =
    "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be greater then xBaseV for field type \"+\", \"I\", "
    "\"O\" and \"@\"!";
const char* const kMsgBG =
    "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be greater then xBaseIII for field type \"B\" and \"G\"!";
const char* const kMsgP = "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be xFoxPro or greater for field type \"P\"!";
const char* const kMsgT =
    "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be xVisualFoxPro or greater for field type \"T\"!";
const char* const kMsgY =
    "THXSmartDBF.HiddenInitFieldDefs: DBF Version must be xVisualFoxPro or greater for field type \"Y\"!";

TMapping MapExtended(std::uint8_t extByte, std::uint16_t len16, xBaseVersion memoDialect) {
    TMapping m;
    m.Bytes = ExtendedFieldSize(extByte, len16, memoDialect);
    const int memoLen = memoDialect == xVisualFoxPro ? 4 : 10;
    auto set = [&](TFieldType t, int len, int dec = 0, int fwSize = 0) {
        m.Type = t;
        m.Len = len;
        m.Dec = dec;
        m.FrameworkSize = fwSize;
    };
    switch (ExtendedStorage(extByte)) {
        case dbftS1: case dbftS1_N: set(ftSmallint, 4); break;
        case dbftU1: case dbftU1_N: set(ftWord, 4); break;
        case dbftS2: case dbftS2_N: set(ftSmallint, 6); break;
        case dbftU2: case dbftU2_N: set(ftWord, 6); break;
        case dbftS4: case dbftS4_N: case dbftU4: case dbftU4_N: set(ftInteger, 11); break;
        case dbftS8: case dbftS8_N: set(ftLargeint, 21); break;
        case dbftR4: case dbftR4_N: case dbftR4_NB: set(ftFloat, 18, 8); break;
        case dbftR6: case dbftR6_N: case dbftR6_NB: set(ftFloat, 26, 12); break;
        case dbftR8: case dbftR8_N: case dbftR8_NB: set(ftFloat, 34, 16); break;
        case dbftR10: case dbftR10_N: set(ftFloat, 42, 20); break;
        case dbftD1: case dbftD1_N: case dbftD2: case dbftD2_N: case dbftD3: case dbftD3_N:
        case dbftD1_NB: case dbftD2_NB: case dbftD3_NB: set(ftDateTime, 8); break;
        case dbftString: case dbftString_N: set(ftString, len16, 0, len16); break;
        case dbftFixedChar: set(ftFixedChar, len16, 0, len16); break;
        case dbftWideString: set(ftWideString, len16, 0, len16); break;
        case dbftCurrency: case dbftCurrency_N: case dbftCurrency_NB: set(ftCurrency, 25, 4); break;
        case dbftClob: case dbftFmtMemo: set(ftMemo, memoLen); break;
        case dbftBlob: case dbftGraphic: set(ftBlob, memoLen); break;
        case dbftBCD: set(ftBCD, 25, 4); break;
        case dbftDate: case dbftDate_N: case dbftDate_NB: set(ftDate, 8); break;
        case dbftTime: case dbftTime_N: case dbftTime_NB: set(ftTime, 6); break;
        case dbftU1_NB: set(ftWord, 3); break;
        case dbftU2_NB: set(ftWord, 5); break;
        case dbftU4_NB: set(ftInteger, 10); break;
        case dbftClob_NB: case dbftFmtMemo_NB: set(ftMemo, 4); break;
        case dbftBlob_NB: case dbftGraphic_NB: set(ftBlob, 4); break;
        case dbftDBFDataSet: set(ftDataSet, memoLen); break;
        case dbftDBFDataSet_NB: set(ftDataSet, 4); break;
        default: m = TMapping(); break;  // not storable: no field, no bytes
    }
    if (m.Bytes == 0) m.Type = ftUnknown;
    return m;
}

TMapping MapField(char letter, std::uint8_t extByte, std::uint8_t lenByte, std::uint8_t decByte,
                  std::uint16_t len16, const TFieldFlag& flags, xBaseVersion dialect, xBaseVersion memoDialect) {
    const bool vfp = dialect == xVisualFoxPro;
    const bool modern = dialect == xBaseVII || vfp;
    TMapping m;
    switch (letter) {
        case 'C':
            m = {vfp && flags.BinaryColumn() ? ftBytes : ftString, len16, len16, len16, 0};
            break;
        case 'N':
        case 'F':
            m.Type = decByte > 0 ? ftFloat : (lenByte < 10 ? ftInteger : ftLargeint);
            m.Bytes = m.Len = lenByte;
            m.Dec = decByte;
            break;
        case 'D': m = {ftDate, 0, 8, 8, 0}; break;
        case 'L': m = {ftBoolean, 0, 1, 1, 0}; break;
        case 'M': {
            int b = vfp ? 4 : 10;
            m = {vfp && flags.BinaryColumn() ? ftBlob : ftMemo, 0, b, b, 0};
            break;
        }
        case 'B':
            if (dialect < xBaseIV) throw Exception(kMsgBG);
            m = vfp ? TMapping{ftFloat, 0, 8, 34, 16} : TMapping{ftBlob, 0, 10, 10, 0};
            break;
        case 'G':
            if (dialect < xBaseIV) throw Exception(kMsgBG);
            m = vfp ? TMapping{ftParadoxOle, 0, 4, 4, 0} : TMapping{ftGraphic, 0, 10, 10, 0};
            break;
        case 'P':
            if (dialect < xFoxPro) throw Exception(kMsgP);
            m = vfp ? TMapping{ftGraphic, 0, 4, 4, 0} : TMapping{ftGraphic, 0, 10, 10, 0};
            break;
        case 'T':
            if (!vfp) throw Exception(kMsgT);
            m = {ftDateTime, 0, 8, 8, 0};
            break;
        case 'Y':
            if (!vfp) throw Exception(kMsgY);
            m = {ftCurrency, 0, 8, 25, 4};
            break;
        case '+':
            if (!modern) throw Exception(kMsgPlus);
            m = {ftAutoInc, 0, 4, 11, 0};
            break;
        case 'I':
            if (!modern) throw Exception(kMsgPlus);
            m = {vfp && flags.AutoIncrement() ? ftAutoInc : ftInteger, 0, 4, 11, 0};
            break;
        case '@':
            if (!modern) throw Exception(kMsgPlus);
            m = {ftDateTime, 0, 8, 8, 0};
            break;
        case 'O':
            if (!modern) throw Exception(kMsgPlus);
            m = {ftFloat, 0, 8, 21, 0};
            break;
        case '0': m = {ftBytes, len16, len16, len16, 0}; break;
        case 'E': m = MapExtended(extByte, len16, memoDialect); break;
        // Visual FoxPro's varchar (text) and varbinary (bytes): the value's real length is
        // kept by a bit of the null bitmap and the field's last byte. Blob (W) is a memo
        // reference like a binary M; a W of another width is no reference at all.
        case 'V':
        case 'Q':
            if (!vfp || lenByte == 0) return {ftUnknown, 0, lenByte, lenByte, decByte};
            m = {letter == 'V' ? ftString : ftVarBytes, lenByte, lenByte, lenByte, 0};
            break;
        case 'W':
            if (!vfp || lenByte != 4) return {ftUnknown, 0, lenByte, lenByte, decByte};
            m = {ftBlob, 0, 4, 4, 0};
            break;
        default:
            // A letter this engine does not know keeps its place in the record (so the fields
            // after it are read at their right offsets) but gets no dataset field.
            m = {ftUnknown, 0, lenByte, lenByte, decByte};
            break;
    }
    return m;
}

std::string CleanName(std::string_view raw) {
    std::size_t b = 0, e = raw.size();
    while (b < e && static_cast<unsigned char>(raw[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(raw[e - 1]) <= ' ') --e;
    std::string name(raw.substr(b, e - b));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

}  // namespace

void THXSmartDBF::InternalInitFieldDefs() {
    if (!TableFile_.IsOpen())
        throw Exception("THXSmartDBF.InternalInitFieldDefs: Can not define fields while DataSet is closed!");
    FieldDefs().Clear();
    DBFFieldDefs_.Clear();
    DBFFieldDefs_.SetDialect(DbfVersion_);
    DBFFieldDefs_.ResetMarkers();
    BuildFieldDefs();
}

void THXSmartDBF::CheckRecordLength(int fieldsEnd) {
    // Fields longer than the record are tolerated while the file's size agrees with the header
    // (such a field merely gets no dataset field). When the size disagrees too, the record
    // length itself is in doubt, and reading by it would invent or lose records.
    if (fieldsEnd <= RecLen_) return;
    const std::int64_t size = RecordAreaEnd(TableFile_.GetFileSize());
    const std::int64_t count = Header_.RecordCount();
    const std::int64_t expected = Header_.HeaderLength() + count * RecLen_;
    if (size >= expected && size - expected < RecLen_) return;
    throw Exception("THXSmartDBF.InternalOpen: File \"" + DBFFileName_ + "\" has fields (" +
                    std::to_string(fieldsEnd) + " bytes) longer than its record length (" + std::to_string(RecLen_) +
                    ") and a size (" + std::to_string(size) + ") that disagrees with its header (" +
                    std::to_string(count) + " records)");
}

void THXSmartDBF::BuildFieldDefs() {
    const xBaseVersion dialect = DbfVersion_;
    TDescriptorWalk walk = ReadDescriptors(TableFile_, dialect, Header_.HeaderLength());
    if (walk.Cut)
        throw Exception("THXSmartDBF.InternalOpen: File \"" + DBFFileName_ +
                        "\" has field descriptors cut by its header length (" +
                        std::to_string(Header_.HeaderLength()) + ")");
    Stores_.clear();
    StoreOfFieldNo_.clear();

    struct TLevel {
        THXDBFFieldDefs* List;
        int Offset;
        int NullCounter;
    };
    std::vector<TLevel> levels{{&DBFFieldDefs_, 1, 0}};
    int recordEnd = 1;  // where the top-level fields end
    for (const TRawDescriptor& d : walk.Descriptors) {
        if (d.Depth < 0 || static_cast<std::size_t>(d.Depth) >= levels.size()) continue;
        levels.resize(static_cast<std::size_t>(d.Depth) + 1);
        TLevel& lvl = levels.back();
        THXDBFFieldDef& def = lvl.List->Add();
        FIELD_REC& rec = def.FieldRec();
        std::memcpy(rec.Image(), d.Bytes.data(), static_cast<std::size_t>(rec.DescriptorSize()));
        if (OEM_) {
            char* nameBytes = reinterpret_cast<char*>(rec.NamePtr());
            TranslateBuffer(nameBytes, nameBytes, rec.NameLength(), false);
        }
        const char letter = rec.FieldType();
        const std::uint8_t extByte = static_cast<std::uint8_t>(rec.ExtendType());
        const std::uint8_t lenByte = rec.LengthByte();
        const std::uint8_t decByte = rec.DecimalByte();
        const std::uint16_t len16 = rec.Length16();
        def.FieldFlag().SetFieldFlag(rec.FieldFlags());
        const std::string name = CleanName(rec.Name());
        def.SetName(name);
        def.Setextend_type(letter == 'E' ? static_cast<THXDBFType>(extByte) : dbftUndefined);
        const TMapping m = MapField(letter, extByte, lenByte, decByte, len16, def.FieldFlag(), dialect, MemoDialect_);
        def.Setlen(static_cast<std::uint16_t>(m.Len));
        def.Setdec(static_cast<std::uint16_t>(m.Dec));
        def.SetOffset(lvl.Offset);
        def.SetOffsetHD(static_cast<int>(d.FileOffset));
        // A varchar or varbinary field takes its length bit first, then its null bit.
        const bool varLength = (m.Type == ftString && letter == 'V') || m.Type == ftVarBytes;
        const int varBit = varLength ? lvl.NullCounter++ : -1;
        if (dialect == xVisualFoxPro && def.FieldFlag().CanStoreNull()) def.SetNullOrdinal(lvl.NullCounter++);
        if (letter == '0' && name == "_NULLFLAGS") lvl.List->SetNullFlags(lvl.Offset, m.Bytes);
        if (m.Type == ftAutoInc) lvl.List->SetAutoIncPresent(true);

        if (d.Depth == 0) {
            recordEnd = lvl.Offset + m.Bytes;
            TDBFFieldStore s;
            s.Def = &def;
            s.Offset = lvl.Offset;
            s.Size = m.Bytes;
            s.Letter = letter;
            s.Ext = extByte;
            s.Len = (letter == 'C' || letter == '0' || letter == 'E') ? len16 : lenByte;
            s.LenByte = lenByte;
            s.Dec = decByte;
            s.Nullable = def.NullOrdinal() >= 0;
            s.NullByte = def.NullByte();
            s.NullMask = def.NullMask();
            s.AutoInc = m.Type == ftAutoInc;
            s.VarLength = varLength;
            if (varLength) {
                s.VarByte = varBit / 8;
                s.VarMask = static_cast<std::uint8_t>(1u << (varBit % 8));
            }
            // A field running past the record length gets no dataset field: nothing may
            // read or write outside the record.
            const bool fits = lvl.Offset + m.Bytes <= RecLen_;
            s.DataType = fits ? m.Type : ftUnknown;
            s.Codec = &FieldCodecFor(letter, extByte, s.DataType, s.Size);
            if (s.DataType != ftUnknown) {
                TFieldDef& fd = FieldDefs().Add(name, m.Type, m.FrameworkSize, false);
                fd.Precision = m.Type == ftFloat ? m.Dec : 0;
                def.SetFieldDef(&fd);
                StoreOfFieldNo_.push_back(static_cast<int>(Stores_.size()));
            }
            Stores_.push_back(s);
        }
        const int offsetHere = lvl.Offset;
        lvl.Offset += m.Bytes;
        if (letter == 'E' && IsNestedDataSetType(extByte))
            levels.push_back({&def.DBFFieldDefs(), offsetHere + m.Bytes, 0});
    }
    CheckRecordLength(recordEnd);
    // The null bitmap must lie inside the record too.
    if (DBFFieldDefs_.NullFlagsOffset() > 0 &&
        DBFFieldDefs_.NullFlagsOffset() + DBFFieldDefs_.NullFlagsSize() > RecLen_)
        DBFFieldDefs_.SetNullFlags(0, 0);
}

}  // namespace zarbel
