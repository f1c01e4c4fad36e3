// Set-up of the two tables and the structure union over every source.
#include <exception>

#include "platform/codepage.h"
#include "platform/locale.h"
#include "tool/merge_tables.h"

namespace zarbel {

namespace {

constexpr int kMergeBufferSize = 32384;

std::unique_ptr<THXDBFNTX> MakeTable(bool oem, std::uint32_t accessMode) {
    auto t = std::make_unique<THXDBFNTX>();
    t->SetBufferSize(kMergeBufferSize);
    t->SetOEM(oem);
    t->AccessMode().SetAccessMode(accessMode);
    t->SetDbfVersion(xBaseIV);
    return t;
}

}  // namespace

std::string OutputFieldName(std::string_view name, bool oem) {
    return Trim(AnsiUpperCase(name.substr(0, 10), oem));
}

std::string_view FileNamePart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void SetUpTables(MergeContext& ctx, MergeTables& tables) {
    tables.output = MakeTable(ctx.oem, 2);  // read and write
    tables.source = MakeTable(ctx.oem, 0);  // read only
    THXDBFNTX& out = *tables.output;
    out.Close();
    out.SetCodepage(ctx.oem ? 0 : 2);
    out.SetDBFFileName(ctx.outputPath);
    out.DBFFieldDefs().Clear();
}

void BuildStructureUnion(MergeContext& ctx, MergeTables& tables) {
    THXDBFNTX& src = *tables.source;
    THXDBFFieldDefs& outDefs = tables.output->DBFFieldDefs();
    for (const std::string& path : ctx.fileList) {
        const std::string pathAnsi = FileNameToAnsi(path);
        src.Close();
        src.SetDBFFileName(path);
        try {
            ctx.SayName(Ansi(" анализ структуры: "), FileNamePart(path));
            ctx.Log(Ansi("Открытие файла: ") + pathAnsi);
            src.Open();
        } catch (const std::exception& e) {
            ctx.Log(Ansi("Ошибка открытия файла: ") + pathAnsi + " / " + e.what());
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

        const THXDBFFieldDefs& defs = src.DBFFieldDefs();
        for (int j = 0; j < defs.Count(); ++j) {
            const THXDBFFieldDef& d = defs[j];
            const std::string name = d.Name();
            if (Trim(name).empty()) continue;
            const std::string key = OutputFieldName(name, ctx.oem);
            bool found = false;
            for (int k = 0; k < outDefs.Count() && !found; ++k)
                found = OutputFieldName(outDefs[k].Name(), ctx.oem) == key;
            if (found) continue;
            THXDBFFieldDef& n = outDefs.Add();
            const char t = d.field_type();
            n.Setfield_type(t == 'I' || t == 'O' ? 'C' : t);
            n.SetName(name);
            n.Setlen(d.len());
            n.Setdec(d.dec());
            n.Setextend_type(d.extend_type());
        }
        src.Close();
    }
    ctx.Say(Ansi(" анализ структуры завершен"));
}

}  // namespace zarbel
