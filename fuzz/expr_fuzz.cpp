// libFuzzer target for the expression parser and evaluator: the input's first byte picks the
// options (extended syntax, aggregate and default-expression checks, case options, index mode),
// the rest is an expression text. It is compiled against a small table and, when it compiles,
// evaluated on every record as a value, as a key, and as a key from given field values (with
// function calls taking arbitrary argument lists from the text). The engine may refuse the text
// or a value with zarbel::Exception; anything else (a crash, a sanitizer report, another
// exception, a hang) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/HXDBFDataSet.h"
#include "expr/HXDBFExprParser.h"
#include "platform/exception.h"

namespace {

// NAME C(10), CITY C(8), AGE N(3), SUM N(6,2), DATE D, OK L; three records, one blank.
std::string TableBytes() {
    const struct {
        const char* name;
        char type;
        int len, dec;
    } fields[] = {{"NAME", 'C', 10, 0}, {"CITY", 'C', 8, 0}, {"AGE", 'N', 3, 0},
                  {"SUM", 'N', 6, 2},   {"DATE", 'D', 8, 0}, {"OK", 'L', 1, 0}};
    const char* records[] = {" SMITH     Moscow   25  3.5020240131T",
                             " Jones     Berlin  -12-99.9919991231F",
                             "                                    "};
    const int nf = 6, recLen = 37, nrec = 3;
    std::string h(32, '\0');
    h[0] = 0x03;
    h[1] = 124, h[2] = 1, h[3] = 1;
    h[4] = static_cast<char>(nrec);
    const int headerLen = 32 + 32 * nf + 1;
    h[8] = static_cast<char>(headerLen & 0xFF), h[9] = static_cast<char>(headerLen >> 8);
    h[10] = static_cast<char>(recLen);
    for (const auto& f : fields) {
        std::string d(32, '\0');
        d.replace(0, std::string_view(f.name).size(), f.name);
        d[11] = f.type;
        d[16] = static_cast<char>(f.len);
        d[17] = static_cast<char>(f.dec);
        h += d;
    }
    h += '\r';
    for (const char* r : records) h += r;
    h += '\x1A';
    return h;
}

zarbel::THXSmartDBF& Table() {
    static std::unique_ptr<zarbel::THXSmartDBF> t = [] {
        const char* tmp = std::getenv("TMPDIR");
        const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarbel_expr_fuzz_" + std::to_string(::getpid());
        ::mkdir(dir.c_str(), 0700);
        const std::string path = dir + "/t.dbf";
        std::ofstream(path, std::ios::binary) << TableBytes();
        auto table = std::make_unique<zarbel::THXSmartDBF>();
        table->SetDBFFileName(path);
        table->AccessMode().SetAccessMode(0);
        table->Open();
        return table;
    }();
    return *t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    zarbel::THXSmartDBF& t = Table();
    const std::uint8_t o = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    unsigned parser = (o & 1) ? zarbel::poExtendedSyntax : 0;
    if (o & 2) parser |= zarbel::poAggregate;
    if (o & 4) parser |= zarbel::poDefaultExpression;
    const unsigned filter = (o >> 3) & 3;
    zarbel::THXDBFExprParser p(&t);
    p.SetIndexMode((o & 0x20) != 0);
    try {
        if (o & 0x40) p.CompileWithChecks(text, filter, parser, "NAME");
        else p.Compile(text, filter, parser);
    } catch (const zarbel::Exception&) {
        return 0;  // a clean refusal
    }
    for (int r = 1; r <= 3; ++r) {
        t.SetRecNo(r);
        try {
            p.Evaluate();
        } catch (const zarbel::Exception&) {
        }
        try {
            p.EvaluateKey(static_cast<char>(o));
        } catch (const zarbel::Exception&) {
        }
    }
    try {
        p.EvaluateKeyForValues("NAME;AGE;DATE",
                               zarbel::TVariant::ArrayOf({zarbel::TVariant("x"), zarbel::TVariant(-1.5),
                                                          zarbel::TVariant::Null()}),
                               '\xFF');
    } catch (const zarbel::Exception&) {
    }
    (void)p.FieldUseList();
    (void)p.FieldUseCount("NAME;AGE");
    return 0;
}
