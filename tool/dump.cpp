// zarbel-dump: a table's dialect, structure and records, read through the engine.
#include "tool/dump.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string_view>

#include "expr/HXDBFExprParser.h"
#include "index/HXDBFNTX.h"
#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/env.h"
#include "platform/locale.h"

namespace zarbel {

namespace {

// Read block: larger than any record a header can declare (16-bit record length).
constexpr int kDumpBufferSize = 65536;

const char* DialectName(xBaseVersion v) {
    switch (v) {
        case xClipper: return "xClipper";
        case xBaseIII: return "xBaseIII";
        case xBaseIV: return "xBaseIV";
        case xBaseV: return "xBaseV";
        case xBaseVII: return "xBaseVII";
        case xFoxPro: return "xFoxPro";
        case xVisualFoxPro: return "xVisualFoxPro";
        default: return "xUnknown";
    }
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string HexByte(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v & 0xFFu);
    return b;
}

}  // namespace

std::string NameForConsole(std::string_view text, ConsoleEncoding enc) {
    if (enc == ConsoleEncoding::Utf8) return IsValidUtf8(text) ? std::string(text) : AnsiToUtf8(text);
    return AnsiToOemShown(FileNameToAnsi(text));
}

namespace {

std::string NameToUtf8(std::string_view text) {
    return IsValidUtf8(text) ? std::string(text) : AnsiToUtf8(text);
}

// A table's text (ANSI, as the engine hands it out) for the plain text output, showing the
// characters of the table's code page (oem: the text stands for CP866 text).
std::string AnsiForConsole(std::string_view ansi, ConsoleEncoding enc, bool oem) {
    if (enc == ConsoleEncoding::Utf8) return TableTextToUtf8(ansi, oem);
    return oem ? AnsiToOem(ansi) : AnsiToOemShown(ansi);
}

// A JSON string of UTF-8 text. Bytes that do not form UTF-8 (a type byte of 0x80 or more,
// say) are written as the code points of the same numbers: the document stays valid UTF-8
// whatever the table holds.
void JsonString(std::string& out, std::string_view utf8) {
    const bool valid = IsValidUtf8(utf8);
    out.push_back('"');
    for (unsigned char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || (c >= 0x80 && !valid)) {
                    char b[8];
                    std::snprintf(b, sizeof b, "\\u%04x", c);
                    out += b;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
}

void JsonNumber(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "\"NaN\"";
    } else if (std::isinf(v)) {
        out += v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        char b[64];
        auto r = std::to_chars(b, b + sizeof b, v);
        out.append(b, r.ptr);
    }
}

void AppendInt(std::string& out, std::int64_t v) {
    char b[24];
    auto r = std::to_chars(b, b + sizeof b, v);
    out.append(b, r.ptr);
}

void AppendDate(std::string& out, TDateTime dt) {
    int y, m, d;
    DecodeDate(dt, y, m, d);
    char b[16];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
    out += b;
}

void AppendTime(std::string& out, TDateTime dt) {
    int h, mi, s, ms;
    DecodeTime(dt, h, mi, s, ms);
    char b[16];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", h, mi, s, ms);
    out += b;
}

bool IsBinaryBlob(TFieldType t) {
    return t == ftBlob || t == ftGraphic || t == ftParadoxOle || t == ftDBaseOle || t == ftTypedBinary;
}

// How a value is written in JSON and in CSV.
enum class TValueKind { Null, Number, Boolean, Quoted, Text };

// One value in the form JSON and CSV share, by typed access, never through the locale's texts:
// text gets a number, "T" or "F", a date, time or date-time (Quoted, as are the hex of binary
// values and the words for non-finite numbers), or the value's UTF-8 text.
TValueKind ValueForm(TField& f, bool oem, std::string& text) {
    text.clear();
    if (f.IsNull()) return TValueKind::Null;
    switch (f.DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint: AppendInt(text, f.AsLargeInt()); return TValueKind::Number;
        case ftFloat:
        case ftCurrency:
        case ftBCD: {
            const double v = f.AsFloat();
            if (std::isfinite(v)) {
                JsonNumber(text, v);
                return TValueKind::Number;
            }
            text = std::isnan(v) ? "NaN" : v > 0 ? "Infinity" : "-Infinity";
            return TValueKind::Quoted;
        }
        case ftBoolean: text = f.AsBoolean() ? "T" : "F"; return TValueKind::Boolean;
        case ftDate: AppendDate(text, f.AsDateTime()); return TValueKind::Quoted;
        case ftTime: AppendTime(text, f.AsDateTime()); return TValueKind::Quoted;
        case ftDateTime: {
            const TDateTime dt = f.AsDateTime();
            AppendDate(text, dt);
            text.push_back('T');
            AppendTime(text, dt);
            return TValueKind::Quoted;
        }
        case ftString:
        case ftFixedChar:
        case ftWideString:
        case ftMemo:
        case ftFmtMemo: text = TableTextToUtf8(f.AsString(), oem); return TValueKind::Text;
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftGraphic:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary: text = Hex(f.AsString()); return TValueKind::Quoted;
        default: return TValueKind::Null;  // nested tables and kinds without a value form
    }
}

void JsonValue(std::string& out, TField& f, bool oem, std::string& text) {
    switch (ValueForm(f, oem, text)) {
        case TValueKind::Null: out += "null"; break;
        case TValueKind::Number: out += text; break;
        case TValueKind::Boolean: out += text == "T" ? "true" : "false"; break;
        case TValueKind::Quoted:
            out.push_back('"');
            out += text;
            out.push_back('"');
            break;
        case TValueKind::Text: JsonString(out, text); break;
    }
}

// One CSV field (RFC 4180): in double quotes, with its quotes doubled, when it holds a comma, a
// double quote, a CR or an LF; as it is otherwise.
void CsvField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

// One value as a CSV field: no value is an empty field; text loses its trailing blanks, and
// an empty text is written "" so that readers that tell the two apart (a database's CSV import)
// see an empty text rather than no value.
void CsvValue(std::string& out, TField& f, bool oem, std::string& text) {
    const TValueKind kind = ValueForm(f, oem, text);
    if (kind == TValueKind::Null) return;
    if (kind != TValueKind::Text) {
        out += text;
        return;
    }
    std::string_view v(text);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    if (v.empty()) out += "\"\"";
    else CsvField(out, v);
}

// One value as plain text: the field's own text; memo text and strings with their control
// characters escaped so that a value stays on its line; binary values in hex.
std::string TextValue(TField& f, ConsoleEncoding enc, bool oem) {
    if (f.IsNull()) return "(null)";
    const TFieldType t = f.DataType();
    if (t == ftBytes || t == ftVarBytes || IsBinaryBlob(t)) return "0x" + Hex(f.AsString());
    std::string s = f.AsString();
    if (t == ftString || t == ftFixedChar || t == ftWideString) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
    }
    std::string esc;
    esc.reserve(s.size());
    for (unsigned char c : s) {
        if (c == '\n') esc += "\\n";
        else if (c == '\r') esc += "\\r";
        else if (c == '\t') esc += "\\t";
        else if (c == '\\') esc += "\\\\";
        else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            esc += b;
        } else {
            esc.push_back(static_cast<char>(c));
        }
    }
    return AnsiForConsole(esc, enc, oem);
}

struct TDumpColumn {
    const THXDBFFieldDef* Def;
    TField* Field;  // null: the descriptor has no dataset field
};

std::vector<TDumpColumn> Columns(THXSmartDBF& t) {
    std::vector<TDumpColumn> cols;
    THXDBFFieldDefs& defs = t.DBFFieldDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const THXDBFFieldDef& d = defs[i];
        TField* field = nullptr;
        if (const TFieldDef* fd = d.FieldDef()) {
            for (int k = 0; k < t.Fields().Count(); ++k)
                if (t.Fields()[k].FieldNo() == fd->FieldNo) {
                    field = &t.Fields()[k];
                    break;
                }
        }
        cols.push_back({&d, field});
    }
    return cols;
}

std::string FlagNames(const TFieldFlag& f) {
    std::string s;
    auto add = [&s](const char* n) {
        if (!s.empty()) s += ",";
        s += n;
    };
    if (f.System()) add("System");
    if (f.CanStoreNull()) add("CanStoreNull");
    if (f.BinaryColumn()) add("BinaryColumn");
    if (f.AutoIncrement()) add("AutoIncrement");
    return s;
}

std::string TypeText(const THXDBFFieldDef& d) {
    std::string s(1, d.field_type() >= 0x20 && d.field_type() < 0x7F ? d.field_type() : '?');
    if (d.field_type() == 'E') {
        s += ":";
        std::string_view n = THXDBFTypeName(static_cast<int>(d.extend_type()) & 0x7F);
        s += n.empty() ? "?" : std::string(n);
    }
    return s;
}

// The header row: the field names (UTF-8), then "deleted" when the deletion flag is a column.
void CsvHeader(std::string& o, bool oem, const std::vector<TDumpColumn>& cols, bool deletedColumn) {
    for (std::size_t n = 0; n < cols.size(); ++n) {
        if (n > 0) o.push_back(',');
        CsvField(o, TableTextToUtf8(cols[n].Def->Name(), oem));
    }
    if (deletedColumn) o += cols.empty() ? "deleted" : ",deleted";
    o += "\r\n";
}

void JsonHeader(std::string& o, const std::string& fileName, THXDBFNTX& t, bool oem, const std::vector<TDumpColumn>& cols) {
    o += "{\"file\":";
    JsonString(o, NameToUtf8(fileName));
    o += ",\"dialect\":\"";
    o += DialectName(t.DbfVersion());
    o += "\",\"version_byte\":";
    AppendInt(o, t.Header().Version());
    o += ",\"memo_dialect\":";
    if (t.MemoDialect() == xUnknown) {
        o += "null";
    } else {
        o += "\"";
        o += DialectName(t.MemoDialect());
        o += "\"";
    }
    o += ",\"oem\":";
    o += oem ? "true" : "false";
    o += ",\"codepage_byte\":";
    AppendInt(o, t.Header().CodePage());
    o += ",\"table_flags\":";
    AppendInt(o, t.Header().TableFlags());
    o += ",\"header_length\":";
    AppendInt(o, t.HeaderLength());
    o += ",\"record_length\":";
    AppendInt(o, t.RecordLength());
    o += ",\"record_count\":";
    AppendInt(o, t.RecordCount());
    o += ",\n\"fields\":[";
    bool first = true;
    for (const TDumpColumn& c : cols) {
        const THXDBFFieldDef& d = *c.Def;
        o += first ? "\n " : ",\n ";
        first = false;
        o += "{\"name\":";
        JsonString(o, TableTextToUtf8(d.Name(), oem));
        o += ",\"type\":";
        JsonString(o, std::string(1, d.field_type()));
        o += ",\"extended_type\":";
        if (d.field_type() == 'E') {
            std::string_view n = THXDBFTypeName(static_cast<int>(d.extend_type()) & 0x7F);
            if (n.empty()) AppendInt(o, static_cast<int>(d.extend_type()));
            else JsonString(o, n);
        } else {
            o += "null";
        }
        o += ",\"length\":";
        AppendInt(o, d.len());
        o += ",\"decimals\":";
        AppendInt(o, d.dec());
        o += ",\"offset\":";
        AppendInt(o, d.Offset());
        o += ",\"flags\":";
        AppendInt(o, d.FieldFlag().FieldFlag());
        o += ",\"null_bit\":";
        if (d.NullOrdinal() >= 0) AppendInt(o, d.NullOrdinal());
        else o += "null";
        o += ",\"data_type\":";
        if (c.Field) JsonString(o, FieldTypeName(c.Field->DataType()));
        else o += "null";
        o += ",\"size\":";
        AppendInt(o, c.Field ? c.Field->Size() : 0);
        o += "}";
    }
    o += "],\n\"records\":[";
}

// Field names for the console, padded to one width.
std::vector<std::string> TextLabels(const std::vector<TDumpColumn>& cols, ConsoleEncoding enc, bool oem) {
    std::size_t width = 4;
    for (const TDumpColumn& c : cols) width = std::max(width, TableTextToUtf8(c.Def->Name(), oem).size());
    std::vector<std::string> labels;
    for (const TDumpColumn& c : cols) {
        const std::string name = c.Def->Name();
        // Cyrillic letters take one byte in ANSI and one cell on the terminal: pad by ANSI length.
        labels.push_back(AnsiForConsole(name, enc, oem) + std::string(width - std::min(width, name.size()), ' '));
    }
    return labels;
}

void TextHeader(std::string& o, const std::string& fileName, THXDBFNTX& t, bool oem, const char* oemWhy,
                const std::vector<TDumpColumn>& cols, const std::vector<std::string>& labels, ConsoleEncoding enc) {
    char b[256];
    o += "Table: " + NameForConsole(fileName, enc) + "\n";
    std::snprintf(b, sizeof b, "Dialect: %s (version byte %s), memo: %s\n", DialectName(t.DbfVersion()),
                  HexByte(t.Header().Version()).c_str(),
                  t.MemoDialect() == xUnknown ? "none" : DialectName(t.MemoDialect()));
    o += b;
    std::snprintf(b, sizeof b, "Text: %s (%s); code page byte %s, table flags %s\n",
                  oem ? "OEM, CP866" : "ANSI, CP1251", oemWhy, HexByte(t.Header().CodePage()).c_str(),
                  HexByte(t.Header().TableFlags()).c_str());
    o += b;
    std::snprintf(b, sizeof b, "Header length %d, record length %d, records %d\n", t.HeaderLength(),
                  t.RecordLength(), t.RecordCount());
    o += b;
    std::snprintf(b, sizeof b, "Fields: %d\n", static_cast<int>(cols.size()));
    o += b;
    for (std::size_t n = 0; n < cols.size(); ++n) {
        const TDumpColumn& c = cols[n];
        const THXDBFFieldDef& d = *c.Def;
        std::snprintf(b, sizeof b, "  %3d ", static_cast<int>(n + 1));
        o += b;
        o += labels[n];
        std::snprintf(b, sizeof b, " %-6s %5u %3u  offset %-5d %s", TypeText(d).c_str(), d.len(), d.dec(),
                      d.Offset(), c.Field ? FieldTypeName(c.Field->DataType()) : "(no dataset field)");
        o += b;
        if (c.Field && c.Field->Size() > 0) {
            std::snprintf(b, sizeof b, "(%d)", c.Field->Size());
            o += b;
        }
        const std::string flags = FlagNames(d.FieldFlag());
        if (!flags.empty()) {
            o += "  [";
            o += flags;
            o += "]";
        }
        if (d.NullOrdinal() >= 0) {
            std::snprintf(b, sizeof b, "  null bit %d", d.NullOrdinal());
            o += b;
        }
        o += "\n";
    }
}

}  // namespace

// --key: the expression compiled for the table (as an index compiles its key) and the key of
// each record, as the index would store it.
class TDumpKey {
public:
    // A compile failure raises TDumpKey::Error with the engine's message.
    struct Error : Exception {
        using Exception::Exception;
    };
    TDumpKey(THXDBFNTX& t, const std::string& text) : T_(t), P_(&t) {
        if (text.empty()) return;
        P_.SetIndexMode(true);
        try {
            P_.Compile(text, 0, poExtendedSyntax);
        } catch (const Exception& e) {
            throw Error(e.Message());
        }
        On_ = true;
    }
    bool On() const { return On_; }
    int Width() const { return P_.KeyWidth(); }
    // The key of the active record in the table's own code page; false (message in key) when it
    // cannot be made.
    bool Make(std::string& key) {
        try {
            key = P_.EvaluateKey();
        } catch (const Exception& e) {
            key = e.Message();
            return false;
        }
        if (T_.OEM()) T_.TranslateBuffer(key.data(), key.data(), static_cast<int>(key.size()), true);
        return true;
    }

private:
    THXDBFNTX& T_;
    THXDBFExprParser P_;
    bool On_ = false;
};

bool DumpTableIsOem(const std::string& fileName) {
    TEnv& env = TEnv::Default();
    TEnvHandle h(env, env.Open(fileName, faRead, TShareLock::None));
    if (h.Get() == kInvalidHandle) return false;
    unsigned char head[64] = {};
    const std::int64_t got = env.ReadAt(h.Get(), 0, head, sizeof head);
    if (got < 30) return false;
    if (head[29] == 0x26 || head[29] == 0x65) return true;
    // dBase 7: the language driver name in the header extension.
    if ((head[0] == 0x04 || head[0] == 0x8C) && got >= 64) {
        std::string_view ld(reinterpret_cast<const char*>(head + 32), 32);
        ld = ld.substr(0, std::min(ld.find('\0'), ld.size()));
        if (ld.find("866") != std::string_view::npos) return true;
    }
    return false;
}

int DumpTable(const std::string& fileName, const TDumpOptions& options, std::ostream& out, std::ostream* err) {
    bool oem = false;
    const char* why = "-win";
    switch (options.CodePage) {
        case TDumpCodePage::Oem: oem = true; why = "-oem"; break;
        case TDumpCodePage::Win: break;
        case TDumpCodePage::Auto:
            oem = DumpTableIsOem(fileName);
            why = oem ? "by the table's code page" : "default";
            break;
    }

    THXDBFNTX t;
    t.SetDBFFileName(fileName);
    t.SetOEM(oem);
    if (options.Cipher != cmNone) {
        t.Crypt().SetCryptMethod(options.Cipher);
        t.Crypt().SetPassword(options.Password);
        t.Crypt().SetActive(true);
    }
    t.SetBufferSize(kDumpBufferSize);
    t.AccessMode().SetAccessMode(0);  // reading only: a shared lock, beside any other reader
    // --index: the NTX file joins the table's indexes (opened with it, read only) and walks it.
    THXNTXIndex* index = nullptr;
    if (!options.Index.empty()) {
        index = &t.Indexes().Add();
        index->SetNTXFileName(options.Index);
    }
    t.Open();
    if (index) {
        index->SetActive(true);
        if (options.Verify) {
            const TVerifyNotes notes = index->VerifyIndex();
            out << "VerifyIndex: OK, " << index->VerifiedKeys() << " keys\n";
            if (err)
                for (const std::string& n : notes) *err << "note: " << NameForConsole(n, options.Encoding) << "\n";
            out.flush();
            t.Close();
            return 0;
        }
    }
    if (!options.Filter.empty()) {
        // the engine compiles the condition when it is set; a bad one skips the table as a bad key does
        try {
            t.SetFilter(options.Filter);
            t.SetFiltered(true);
        } catch (const Exception& e) {
            throw TDumpKey::Error(e.Message());
        }
    }
    TDumpKey key(t, options.Key);
    const bool keyShown = key.On() || index;
    const int keyWidth = index ? index->KeySize() : key.Width();

    const std::vector<TDumpColumn> cols = Columns(t);
    const bool text = !options.Json && !options.Csv;
    const std::vector<std::string> labels = text ? TextLabels(cols, options.Encoding, oem) : std::vector<std::string>();
    std::string o;
    if (options.Json) {
        JsonHeader(o, fileName, t, oem, cols);
        if (keyShown) o.insert(o.rfind(",\n\"records\":["), ",\"key_width\":" + std::to_string(keyWidth));
    } else if (options.Csv) {
        CsvHeader(o, oem, cols, options.Deleted);
        if (keyShown) o.insert(o.size() - 2, cols.empty() && !options.Deleted ? "key_hex" : ",key_hex");
    } else {
        TextHeader(o, fileName, t, oem, why, cols, labels, options.Encoding);
        if (index)
            o += "Index: " + NameForConsole(options.Index, options.Encoding) + ", key " +
                 AnsiForConsole(index->KeyExpresion(), options.Encoding, false) + " (width " +
                 std::to_string(keyWidth) + ")" +
                 (index->ForExpresion().empty() ? std::string()
                                                : ", for " + AnsiForConsole(index->ForExpresion(), options.Encoding, false)) +
                 "\n";
    }
    out << o;

    int errors = 0;
    std::string value, keyText, scratch;
    // One value, or the failure to read it, appended to o.
    auto put = [&](std::string& o, const TDumpColumn& c) {
        value.clear();
        try {
            if (!c.Field) value = options.Json ? "null" : options.Csv ? "" : "(no dataset field)";
            else if (options.Json) JsonValue(value, *c.Field, oem, scratch);
            else if (options.Csv) CsvValue(value, *c.Field, oem, scratch);
            else value = TextValue(*c.Field, options.Encoding, oem);
        } catch (const Exception& e) {
            ++errors;
            if (err)
                *err << NameForConsole(fileName, options.Encoding) << ": record " << t.RecNo() << ", field "
                     << AnsiForConsole(c.Def->Name(), options.Encoding, oem) << ": " << NameForConsole(e.Message(), options.Encoding)
                     << "\n";
            value.clear();
            if (options.Json) {
                value = "{\"error\":";
                JsonString(value, NameToUtf8(e.Message()));
                value += "}";
            } else if (options.Csv) {
                // an empty field; the message went to err and the exit status says so
            } else {
                value = "(error: " + NameForConsole(e.Message(), options.Encoding) + ")";
            }
        }
        o += value;
    };
    bool first = true;
    // The record that field reads see now, shown with its key (the index's stored bytes, or
    // the --key expression's).
    auto show = [&](const std::string* indexKey) {
        o.clear();
        const std::uint8_t* rec = t.ActiveRecord();
        const unsigned flag = rec ? rec[0] : 0x20u;
        if (options.Json) {
            o += first ? "\n {\"recno\":" : ",\n {\"recno\":";
            AppendInt(o, t.RecNo());
            o += ",\"deleted\":";
            o += flag == kRecordDeleted ? "true" : "false";
            if (flag != kRecordDeleted && flag != kRecordLive) {
                o += ",\"flag_byte\":";
                AppendInt(o, flag);
            }
            o += ",\"values\":[";
            bool firstValue = true;
            for (const TDumpColumn& c : cols) {
                if (!firstValue) o.push_back(',');
                firstValue = false;
                put(o, c);
            }
            o += "]";
            if (indexKey) {
                o += ",\"key_hex\":\"" + Hex(*indexKey) + "\"";
            } else if (key.On()) {
                if (key.Make(keyText)) {
                    o += ",\"key_hex\":\"" + Hex(keyText) + "\"";
                } else {
                    o += ",\"key_hex\":null,\"key_error\":";
                    JsonString(o, NameToUtf8(keyText));
                }
            }
            o += "}";
        } else if (options.Csv) {
            if (flag == kRecordDeleted && !options.Deleted) return;
            for (std::size_t n = 0; n < cols.size(); ++n) {
                if (n > 0) o.push_back(',');
                put(o, cols[n]);
            }
            // A row of one empty field would be an empty line, which readers skip.
            if (o.empty() && cols.size() == 1 && !options.Deleted) o = "\"\"";
            if (options.Deleted) {
                if (!cols.empty()) o.push_back(',');
                o.push_back(flag == kRecordDeleted ? 'T' : 'F');
            }
            if (keyShown) {
                // the key's bytes as an index stores them; a key that cannot be made is empty
                if (!cols.empty() || options.Deleted) o.push_back(',');
                if (indexKey) o += Hex(*indexKey);
                else if (key.Make(keyText)) o += Hex(keyText);
                else ++errors;
            }
            o += "\r\n";
        } else {
            if (first) o += "Records:\n";
            o += "Record " + std::to_string(t.RecNo());
            if (flag == kRecordDeleted) o += " (deleted)";
            else if (flag != kRecordLive) o += " (flag byte " + HexByte(flag) + ")";
            o += "\n";
            for (std::size_t n = 0; n < cols.size(); ++n) {
                o += "  " + labels[n] + " = ";
                put(o, cols[n]);
                o += "\n";
            }
            if (indexKey) {
                o += "  Key: " + Hex(*indexKey) + "\n";
            } else if (key.On()) {
                const bool made = key.Make(keyText);
                // the key as text: back to ANSI for the console when the table is OEM
                if (made && t.OEM()) t.TranslateBuffer(keyText.data(), keyText.data(), static_cast<int>(keyText.size()), false);
                o += made ? "  key = " + AnsiForConsole(keyText, options.Encoding, t.OEM()) + "\n"
                          : "  key = (error: " + NameForConsole(keyText, options.Encoding) + ")\n";
                if (!made) ++errors;
            }
        }
        first = false;
        out << o;
    };
    if (index) {
        // One record per index entry, in index order; the index only reads, so the table's
        // record count cannot change under the walk.
        const int count = t.RecordCount();
        for (bool on = index->First(); on; on = index->Next()) {
            const std::uint32_t r = index->CurrentRecNo();
            if (r < 1 || r > static_cast<std::uint32_t>(count) || !t.ReadRecordDirect(static_cast<int>(r)))
                index->Corrupt("record number " + std::to_string(r) + " is outside 1.." + std::to_string(count));
            // --filter: the acceptance test drops what the condition rejects, in index order
            if (!options.Filter.empty() && !t.AcceptsRecord(t.ActiveRecord())) {
                t.ReleaseRecordDirect();
                continue;
            }
            try {
                show(&index->CurrentKey());
            } catch (...) {
                t.ReleaseRecordDirect();
                throw;
            }
            t.ReleaseRecordDirect();
        }
    } else {
        for (t.First(); !t.Eof(); t.Next()) show(nullptr);
    }
    if (options.Json) out << (first ? "]}\n" : "\n]}\n");
    else if (first && text) out << "Records: none\n";
    t.Close();
    return errors;
}

namespace {

const char kDumpUsage[] =
    "Usage: zarbel-dump [-oem|-win] [--json|--csv [--deleted]] TABLE...\n"
    "       zarbel-dump [-oem|-win] [--json|--csv] [--filter EXPR] --index FILE.ntx [--verify] TABLE\n"
    "Shows each table's dialect, structure and records as the engine reads them.\n"
    "  -oem       the table text is OEM (CP866)\n"
    "  -win       the table text is ANSI (CP1251)\n"
    "             (neither: each table's code page byte decides; ANSI when it says nothing)\n"
    "  --json     one JSON document (UTF-8) per table instead of plain text\n"
    "  --csv      CSV (RFC 4180, UTF-8, CRLF): a header row of field names, then one row per\n"
    "             record; deleted records are left out\n"
    "  --deleted  with --csv: deleted records too, and a last column \"deleted\" (T or F)\n"
    "  --key EXPR, --key=EXPR\n"
    "             under each record the key an index on EXPR would hold (CSV: a last\n"
    "             column \"key_hex\")\n"
    "  --filter EXPR, --filter=EXPR\n"
    "             only the records the xBase condition EXPR accepts (AGE>20 .AND. AGE<30)\n"
    "  --index FILE.ntx, --index=FILE.ntx\n"
    "             the records in the order of this NTX index, one per index entry, each with\n"
    "             the key bytes the index holds for it (JSON \"key_hex\", text \"Key:\", CSV a\n"
    "             last column \"key_hex\"); the table and the index are only read\n"
    "  --verify   with --index: no records; checks the index against the table and prints\n"
    "             \"VerifyIndex: OK, <n> keys\" (notes on standard error), or the finding\n"
    "  --cipher xor|gost|gost1 --password TEXT\n"
    "             the table is enciphered with this method and password\n"
    "             (also --cipher=NAME --password=TEXT)\n"
    "  -h, --help     this text\n"
    "  --version      the program's version\n"
    "Exit status: 0 every table shown, 1 a table or index did not open, a value could not be\n"
    "read or --verify found a fault, 2 parameter error, or a key expression or filter that\n"
    "does not compile for a table.\n";

}  // namespace

int DumpMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             ConsoleEncoding encoding) {
    TDumpOptions options;
    options.Encoding = encoding;
    std::vector<std::string> tables;
    bool optionsEnd = false;
    bool bad = false;
    bool havePassword = false;
    for (std::size_t i = 0; i < args.size() && !bad; ++i) {
        const std::string& a = args[i];
        if (!optionsEnd && !a.empty() && a[0] == '-') {
            // --key, --cipher and --password take a value: "--opt VALUE" or "--opt=VALUE"
            const std::size_t eq = a.find('=');
            const std::string name = a.substr(0, eq);
            std::string value;
            if (name == "--key" || name == "--filter" || name == "--cipher" || name == "--password" ||
                name == "--index") {
                if (eq != std::string::npos) {
                    value = a.substr(eq + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    err << "zarbel-dump: " << name << " needs a value\n";
                    bad = true;
                    break;
                }
            }
            std::string up = AnsiUpperCase(a);
            if (up == "-OEM") options.CodePage = TDumpCodePage::Oem;
            else if (up == "-WIN") options.CodePage = TDumpCodePage::Win;
            else if (a == "--json") options.Json = true;
            else if (a == "--csv") options.Csv = true;
            else if (a == "--deleted") options.Deleted = true;
            else if (a == "--help" || a == "-h") {
                out << kDumpUsage;
                return 0;
            } else if (a == "--version") {
                out << "zarbel-dump " ZARBEL_VERSION "\n";
                return 0;
            } else if (a == "--") optionsEnd = true;
            else if (a == "--verify") options.Verify = true;
            else if (name == "--key") options.Key = value;
            else if (name == "--filter")  // compared with the table's text, which the engine holds in CP1251
                options.Filter = encoding == ConsoleEncoding::Utf8 ? FileNameToAnsi(value) : OemToAnsi(value);
            else if (name == "--index") {
                if (value.empty()) {
                    err << "zarbel-dump: --index needs a file name\n";
                    bad = true;
                }
                options.Index = value;
            }
            else if (name == "--cipher") {
                const std::string v = AnsiUpperCase(value);
                options.Cipher = v == "XOR" ? cmXOR : v == "GOST" ? cmGost : v == "GOST1" ? cmGost1 : cmNone;
                if (options.Cipher == cmNone) {
                    err << "zarbel-dump: unknown cipher " << NameForConsole(value, encoding) << " (xor, gost or gost1)\n";
                    bad = true;
                }
            } else if (name == "--password") {
                // the key is made from the password's CP1251 bytes, as where the table was written
                options.Password = encoding == ConsoleEncoding::Utf8 ? FileNameToAnsi(value) : OemToAnsi(value);
                havePassword = true;
            } else {
                err << "zarbel-dump: unknown option " << NameForConsole(a, encoding) << "\n";
                bad = true;
            }
        } else {
            tables.push_back(a);
        }
    }
    if (!bad && options.Cipher != cmNone && !havePassword) {
        err << "zarbel-dump: --cipher needs --password\n";
        bad = true;
    }
    if (!bad && options.Cipher == cmNone && havePassword) {
        err << "zarbel-dump: --password needs --cipher\n";
        bad = true;
    }
    if (!bad && options.Json && options.Csv) {
        err << "zarbel-dump: --json and --csv exclude each other\n";
        bad = true;
    }
    if (!bad && options.Deleted && !options.Csv) {
        err << "zarbel-dump: --deleted needs --csv\n";
        bad = true;
    }
    if (!bad && !options.Index.empty() && !options.Key.empty()) {
        err << "zarbel-dump: --key and --index exclude each other\n";
        bad = true;
    }
    if (!bad && options.Verify && options.Index.empty()) {
        err << "zarbel-dump: --verify needs --index\n";
        bad = true;
    }
    if (!bad && !options.Index.empty() && tables.size() != 1) {
        err << "zarbel-dump: --index takes exactly one TABLE\n";
        bad = true;
    }
    if (bad || tables.empty()) {
        err << kDumpUsage;
        return 2;
    }
    int status = 0;
    for (const std::string& name : tables) {
        try {
            if (DumpTable(name, options, out, &err) > 0) status = std::max(status, 1);
        } catch (const TDumpKey::Error& e) {
            out.flush();
            err << NameForConsole(name, encoding) << ": " << NameForConsole(e.Message(), encoding) << "\n";
            status = 2;
        } catch (const Exception& e) {
            out.flush();
            err << NameForConsole(e.Message(), encoding) << "\n";
            status = std::max(status, 1);
        } catch (const std::exception& e) {
            out.flush();
            err << "zarbel-dump: " << NameForConsole(name, encoding) << ": " << e.what() << "\n";
            status = std::max(status, 1);
        }
    }
    out.flush();
    return status;
}

}  // namespace zarbel
