// Set-up of the two tables and the structure union over every source.
#include <exception>

#include "platform/codepage.h"
#include "platform/locale.h"
#include "platform/signals.h"
#include "tool/merge_tables.h"

namespace zarbel {

namespace {

constexpr int kMergeBufferSize = 32384;

std::unique_ptr<THXDBFNTX> MakeTable(TEnv& env, bool oem, std::uint32_t accessMode) {
    auto t = std::make_unique<THXDBFNTX>();
    t->SetEnv(env);
    t->SetBufferSize(kMergeBufferSize);
    t->SetOEM(oem);
    t->AccessMode().SetAccessMode(accessMode);
    t->SetDbfVersion(xBaseIV);
    return t;
}

// A field kind the output cannot hold as it is, kept as text of the given width.
bool AsText(int len, OutputType& out) {
    out = {'C', len, 0};
    return len > 0;
}

}  // namespace

void ListSourceFields(THXDBFNTX& src, std::vector<SourceField>& out, bool oem) {
    out.clear();
    std::map<int, TField*> byNumber;
    for (int i = 0; i < src.FieldCount(); ++i) byNumber[src.Fields()[i].FieldNo()] = &src.Fields()[i];
    std::map<std::string, int> seen;
    const THXDBFFieldDefs& defs = src.DBFFieldDefs();
    for (int j = 0; j < defs.Count(); ++j) {
        SourceField f;
        f.def = &defs[j];
        if (const TFieldDef* fd = f.def->FieldDef()) {
            auto it = byNumber.find(fd->FieldNo);
            if (it != byNumber.end()) f.field = it->second;
        }
        f.name = Trim(AnsiUpperCase(f.def->Name(), oem));
        f.occurrence = ++seen[f.name];
        out.push_back(std::move(f));
    }
}

std::string IdentityKey(const SourceField& f) { return f.name + '#' + std::to_string(f.occurrence); }

bool CopiesBytes(TFieldType type) {
    switch (type) {
        case ftBytes: case ftVarBytes: case ftBlob: case ftGraphic: case ftParadoxOle: case ftDBaseOle:
        case ftTypedBinary:
            return true;
        default:
            return false;
    }
}

bool OutputTypeFor(const SourceField& f, OutputType& out) {
    const char letter = f.def->field_type();
    if (!f.field || letter == '0') return false;
    const int len = f.def->len();
    const bool numberLetter = letter == 'N' || letter == 'F';
    switch (f.field->DataType()) {
        case ftString: case ftFixedChar: case ftWideString: case ftBytes:
            return AsText(len, out);
        case ftSmallint: case ftWord: case ftInteger: case ftLargeint: case ftAutoInc: case ftFloat:
            if (numberLetter) {
                out = {letter, len, f.def->dec()};
                return true;
            }
            return AsText(len, out);
        case ftCurrency: case ftBCD:
            return AsText(len, out);
        case ftDate:
            out = {'D', 8, 0};
            return true;
        case ftTime: case ftDateTime:
            return AsText(19, out);  // date-time text without milliseconds
        case ftBoolean:
            out = {'L', 1, 0};
            return true;
        case ftMemo: case ftFmtMemo: case ftBlob: case ftGraphic: case ftParadoxOle: case ftDBaseOle:
        case ftTypedBinary: case ftVarBytes:
            out = {'M', 10, 0};
            return true;
        default:
            return false;  // a nested table, or a kind without values
    }
}

std::string FreeOutputName(std::string_view name, const std::set<std::string>& taken, bool oem) {
    std::string first = Trim(name.substr(0, 10));
    if (!taken.count(AnsiUpperCase(first, oem))) return first;
    for (int n = 1;; ++n) {
        std::string suffix = std::to_string(n);
        suffix.insert(suffix.begin(), '_');
        std::string candidate(name.substr(0, 10 - suffix.size()));
        candidate += suffix;
        if (!taken.count(AnsiUpperCase(candidate, oem))) return candidate;
    }
}

std::string_view FileNamePart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void SetUpTables(MergeContext& ctx, MergeTables& tables) {
    tables.output = MakeTable(ctx.env, ctx.oem, 2);  // read and write
    tables.source = MakeTable(ctx.env, ctx.oem, 0);  // read only
    THXDBFNTX& out = *tables.output;
    out.Close();
    // The code page byte names the text's real code page: CP1251 (0xC9) or CP866 (0x65).
    out.SetCodepage(ctx.oem ? 0x65 : 0xC9);
    out.SetDBFFileName(ctx.outputPath);
    out.DBFFieldDefs().Clear();
}

void BuildStructureUnion(MergeContext& ctx, MergeTables& tables) {
    THXDBFNTX& src = *tables.source;
    THXDBFFieldDefs& outDefs = tables.output->DBFFieldDefs();
    std::vector<SourceField> fields;
    for (const std::string& path : ctx.fileList) {
        if (TInterruptCatcher::Pending()) return;
        const std::string pathAnsi = FileNameToAnsi(path);
        src.Close();
        src.SetDBFFileName(path);
        try {
            ctx.SayName(Ansi(" анализ структуры: "), FileNamePart(path));
            ctx.Log(Ansi("Открытие файла: ") + pathAnsi);
            src.Open();
        } catch (const std::exception& e) {
            ctx.Log(Ansi("Ошибка открытия файла: ") + pathAnsi + " / " + EngineText(e));
            ctx.failureLogged = true;
        }
        if (!src.Active()) continue;

        // The pack of a source opened for reading only changes no file; reopening reads the
        // header and the descriptors afresh.
        src.Pack();
        src.Close();
        src.Open();
        ctx.Log(Ansi("   Получение структуры файла: ") + pathAnsi);
        ctx.totalRecordCount += src.RecordCount();

        ListSourceFields(src, fields, ctx.oem);
        for (const SourceField& f : fields) {
            if (f.name.empty()) continue;
            const std::string key = IdentityKey(f);
            if (tables.outputOf.count(key)) continue;
            OutputType type;
            if (!OutputTypeFor(f, type)) {
                ctx.Log(Ansi("   Поле не загружается: ") + f.name + " (" +
                        (f.def->field_type() ? std::string(1, f.def->field_type()) : std::string("0x00")) + ")");
                continue;
            }
            const std::string outName = FreeOutputName(f.name, tables.takenNames, ctx.oem);
            if (outName != Trim(f.name.substr(0, 10)))
                ctx.Log(Ansi("   Поле ") + f.name + Ansi(" файла ") + pathAnsi + Ansi(" загружается в поле ") +
                        outName);
            tables.outputOf.emplace(key, outName);
            tables.takenNames.insert(AnsiUpperCase(outName, ctx.oem));
            THXDBFFieldDef& n = outDefs.Add();
            n.Setfield_type(type.letter);
            n.SetName(outName);
            n.Setlen(static_cast<std::uint16_t>(type.len));
            n.Setdec(static_cast<std::uint16_t>(type.dec));
        }
        src.Close();
    }
    ctx.Say(Ansi(" анализ структуры завершен"));
}

}  // namespace zarbel
