// zarbel-index (see index_tool.h): the command line, the refusals that protect the user's
// files, and the builds.
#include "tool/index_tool.h"

#include <cstring>
#include <ostream>

#include "index/HXDBFNTX.h"
#include "platform/codepage.h"
#include "platform/env.h"
#include "platform/exception.h"
#include "platform/paths.h"
#include "platform/locale.h"
#include "tool/dump.h"

namespace zarbel {

namespace {

const char kIndexUsage[] =
    "Usage: zarbel-index create TABLE INDEX.ntx KEYEXPR [--for EXPR] [--unique] [--desc] [--builder NAME]\n"
    "       zarbel-index verify TABLE INDEX.ntx\n"
    "       zarbel-index reindex TABLE INDEX.ntx [--builder NAME]\n"
    "Builds, rebuilds or checks an NTX index of a table; the table is only read.\n"
    "  -oem       the table text is OEM (CP866)\n"
    "  -win       the table text is ANSI (CP1251)\n"
    "             (neither: the table's code page byte decides)\n"
    "  --for EXPR       only records for which the condition holds\n"
    "  --unique         one entry per key (the lowest record number)\n"
    "  --desc           descending order\n"
    "  --builder NAME   insert (default), compact, quick, bintree, redblack, avl, trie,\n"
    "                   merge2, merge4, merge8\n"
    "  --cipher xor|gost|gost1 --password TEXT   an enciphered table\n"
    "  --help, -h       this text;  --version  the program's version\n"
    "Exit status: 0 done, 1 the engine failed, 2 parameter error or a refused INDEX.ntx.\n";

struct TIndexOptions {
    std::string Command, Table, Index, Key, For, Builder = "insert";
    bool Unique = false, Desc = false, ForGiven = false, BuilderGiven = false;
    TDumpCodePage CodePage = TDumpCodePage::Auto;
    TCryptMethod Cipher = cmNone;
    std::string Password;
    bool HavePassword = false;
};

// The builder of a name; false for an unknown name.
bool RunBuilder(const std::string& name, THXNTXIndex& ix) {
    struct TSorterName {
        const char* Name;
        THXSorterClass Class;
    };
    static const TSorterName kSorters[] = {{"quick", scQuick},   {"bintree", scBinaryTree},  {"redblack", scRedBlackTree},
                                           {"avl", scAVLTree},   {"trie", scTrieTree},       {"merge2", scMerge},
                                           {"merge4", sc4PathMerge}, {"merge8", sc8PathMerge}};
    if (name == "insert") {
        ix.CreateIndex(false, 65536);
        return true;
    }
    if (name == "compact") {
        ix.CreateCompactIndex(65536, false);
        return true;
    }
    for (const TSorterName& s : kSorters)
        if (name == s.Name) {
            ix.CreateIndexUsingSorter(s.Class, false);
            return true;
        }
    return false;
}

bool KnownBuilder(const std::string& name) {
    for (const char* n : {"insert", "compact", "quick", "bintree", "redblack", "avl", "trie", "merge2", "merge4", "merge8"})
        if (name == n) return true;
    return false;
}

// The file's identity; false when it cannot be opened.
bool IdentityOf(TEnv& env, const std::string& path, FileIdentity& id) {
    TEnvHandle h(env, env.Open(path, faRead, TShareLock::None));
    return h.Get() != kInvalidHandle && env.GetHandleIdentity(h.Get(), id);
}

bool SameFile(TEnv& env, const std::string& a, const std::string& b) {
    FileIdentity x, y;
    return IdentityOf(env, a, x) && IdentityOf(env, b, y) && x == y;
}

// The path without its extension (the last "." after the last "/").
std::string WithoutExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
}


std::string StemOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return WithoutExtension(slash == std::string::npos ? path : path.substr(slash + 1));
}

// Why create must not write the file (empty: it may).
std::string RefusalFor(TEnv& env, const std::string& table, const std::string& index) {
    if (!env.FileExists(index)) return {};
    if (SameFile(env, table, index)) return "it is the table itself";
    const std::string stem = WithoutExtension(table);
    for (const char* ext : {".dbt", ".DBT", ".fpt", ".FPT", ".Dbt", ".Fpt"})
        if (SameFile(env, stem + ext, index)) return "it is the table's memo file";
    TEnvHandle h(env, env.Open(index, faRead, TShareLock::None));
    if (h.Get() == kInvalidHandle) return "it cannot be read: " + env.LastErrorText();
    if (env.SizeOf(h.Get()) == 0) return {};
    unsigned char sig[2] = {};
    const unsigned s = env.ReadAt(h.Get(), 0, sig, 2) == 2 ? sig[0] | (sig[1] << 8) : 0;
    if (s == 6 || s == 7) return {};
    return "it exists and is not an NTX file";
}

// The table, opened for reading only under the code-page rule and the cipher.
void OpenTable(THXDBFNTX& t, const TIndexOptions& o) {
    t.SetDBFFileName(o.Table);
    t.SetOEM(o.CodePage == TDumpCodePage::Oem || (o.CodePage == TDumpCodePage::Auto && DumpTableIsOem(o.Table)));
    if (o.Cipher != cmNone) {
        t.Crypt().SetCryptMethod(o.Cipher);
        t.Crypt().SetPassword(o.Password);
        t.Crypt().SetActive(true);
    }
    t.AccessMode().SetAccessMode(0);
    t.Open();
}

THXNTXIndex& AddIndex(THXDBFNTX& t, const std::string& file) {
    THXNTXIndex& ix = t.Indexes().Add();
    ix.SetFileAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareExclusive);
    ix.SetNTXFileName(file);
    return ix;
}

void Create(const TIndexOptions& o) {
    THXDBFNTX t;
    OpenTable(t, o);
    THXNTXIndex& ix = AddIndex(t, o.Index);
    ix.SetKeyExpresion(o.Key);
    ix.SetForExpresion(o.For);
    ix.SetUnique(o.Unique);
    ix.SetDesc(o.Desc);
    ix.SetClipperVer(v500);
    ix.OuterSorterProperties().SetTmpPath(PathDirectory(o.Index));
    RunBuilder(o.Builder, ix);
    // The order name is the file's stem, in at most 11 bytes and a NUL.
    const std::string stem = StemOf(o.Index);
    TNTXHeader& h = ix.Tree().MutableHeader();
    h.OrderName.fill(0);
    std::memcpy(h.OrderName.data(), stem.data(), std::min<std::size_t>(stem.size(), h.OrderName.size() - 1));
    if (!ix.Tree().WriteHeader()) throw Exception("THXSmartDBF: " + t.Env().LastErrorText());
    t.Close();
}

void Reindex(const TIndexOptions& o) {
    THXDBFNTX t;
    OpenTable(t, o);
    THXNTXIndex& ix = AddIndex(t, o.Index);
    ix.OuterSorterProperties().SetTmpPath(PathDirectory(o.Index));
    ix.Open();
    RunBuilder(o.Builder, ix);
    t.Close();
}

}  // namespace

int IndexMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, ConsoleEncoding encoding) {
    TIndexOptions o;
    std::vector<std::string> operands;
    bool optionsEnd = false, bad = false;
    // Expressions and passwords are CP1251 inside the engine.
    auto ansi = [&](const std::string& v) { return encoding == ConsoleEncoding::Utf8 ? FileNameToAnsi(v) : OemToAnsi(v); };
    for (std::size_t i = 0; i < args.size() && !bad; ++i) {
        const std::string& a = args[i];
        if (optionsEnd || a.size() < 2 || a[0] != '-') {
            operands.push_back(a);
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        std::string value;
        const bool takesValue = name == "--for" || name == "--builder" || name == "--cipher" || name == "--password";
        if (takesValue) {
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                err << "zarbel-index: " << name << " needs a value\n";
                bad = true;
                break;
            }
        }
        const std::string up = AnsiUpperCase(a);
        if (up == "-OEM") o.CodePage = TDumpCodePage::Oem;
        else if (up == "-WIN") o.CodePage = TDumpCodePage::Win;
        else if (a == "--help" || a == "-h") {
            out << kIndexUsage;
            return 0;
        } else if (a == "--version") {
            out << "zarbel-index " ZARBEL_VERSION "\n";
            return 0;
        } else if (a == "--") optionsEnd = true;
        else if (a == "--unique") o.Unique = true;
        else if (a == "--desc") o.Desc = true;
        else if (name == "--for") {
            o.For = ansi(value);
            o.ForGiven = true;
        } else if (name == "--builder") {
            o.Builder = value;
            o.BuilderGiven = true;
            if (!KnownBuilder(value)) {
                err << "zarbel-index: unknown builder " << NameForConsole(value, encoding) << "\n";
                bad = true;
            }
        } else if (name == "--cipher") {
            const std::string v = AnsiUpperCase(value);
            o.Cipher = v == "XOR" ? cmXOR : v == "GOST" ? cmGost : v == "GOST1" ? cmGost1 : cmNone;
            if (o.Cipher == cmNone) {
                err << "zarbel-index: unknown cipher " << NameForConsole(value, encoding) << " (xor, gost or gost1)\n";
                bad = true;
            }
        } else if (name == "--password") {
            o.Password = ansi(value);
            o.HavePassword = true;
        } else {
            err << "zarbel-index: unknown option " << NameForConsole(a, encoding) << "\n";
            bad = true;
        }
    }
    if (!bad) {
        if (operands.empty()) {
            err << "zarbel-index: no command\n";
            bad = true;
        } else {
            o.Command = operands[0];
            const std::size_t want = o.Command == "create" ? 4 : 3;
            if (o.Command != "create" && o.Command != "verify" && o.Command != "reindex") {
                err << "zarbel-index: unknown command " << NameForConsole(o.Command, encoding) << "\n";
                bad = true;
            } else if (operands.size() != want) {
                err << "zarbel-index: " << o.Command << " takes " << want - 1 << " operands\n";
                bad = true;
            } else {
                o.Table = operands[1];
                o.Index = operands[2];
                if (want == 4) o.Key = ansi(operands[3]);
            }
        }
    }
    if (!bad && o.Command != "create" && (o.ForGiven || o.Unique || o.Desc)) {
        err << "zarbel-index: --for, --unique and --desc belong to create\n";
        bad = true;
    }
    if (!bad && o.Command == "verify" && o.BuilderGiven) {
        err << "zarbel-index: --builder does not belong to verify\n";
        bad = true;
    }
    if (!bad && (o.Cipher != cmNone) != o.HavePassword) {
        err << (o.Cipher != cmNone ? "zarbel-index: --cipher needs --password\n" : "zarbel-index: --password needs --cipher\n");
        bad = true;
    }
    if (!bad && o.Command == "create" && o.Key.empty()) {
        err << "zarbel-index: the key expression is empty\n";
        bad = true;
    }
    if (bad) {
        err << kIndexUsage;
        return 2;
    }
    if (o.Command == "verify") {
        TDumpOptions d;
        d.CodePage = o.CodePage;
        d.Index = o.Index;
        d.Verify = true;
        d.Encoding = encoding;
        d.Cipher = o.Cipher;
        d.Password = o.Password;
        try {
            DumpTable(o.Table, d, out, &err);
        } catch (const Exception& e) {
            out.flush();
            err << NameForConsole(e.Message(), encoding) << "\n";
            return 1;
        }
        return 0;
    }
    if (o.Command == "create") {
        const std::string why = RefusalFor(TEnv::Default(), o.Table, o.Index);
        if (!why.empty()) {
            err << "zarbel-index: " << NameForConsole(o.Index, encoding) << " is not written: " << why << "\n";
            return 2;
        }
    }
    try {
        if (o.Command == "create") Create(o);
        else Reindex(o);
    } catch (const Exception& e) {
        if (o.Command == "create") {
            TEnv::Default().DeleteFile(o.Index);
        }
        err << NameForConsole(e.Message(), encoding) << "\n";
        return 1;
    }
    return 0;
}

}  // namespace zarbel
