// zarbel-dump: shows a table as the engine reads it - its dialect, its structure and every
// record with its deletion flag - as plain text for a terminal, as one JSON document per
// table, or as CSV. The program's logic lives here so that it can be run in-process; dump_main.cpp only
// passes the command line and the standard streams.
//
//   zarbel-dump [-oem|-win] [--json|--csv [--deleted]] [--key EXPR] [--filter EXPR]
//               [--cipher xor|gost|gost1 --password TEXT] TABLE...
//   zarbel-dump [-oem|-win] [--json|--csv] [--filter EXPR] [--cipher M --password P]
//               --index FILE.ntx [--verify] TABLE
//   zarbel-dump --help | -h | --version
//
// --key EXPR (or --key=EXPR) shows under each record the key an index on EXPR would hold for
// it: in JSON as "key_hex" (the key bytes as stored, OEM for an OEM table) with the document's
// "key_width"; in plain text as the key's text; in CSV as a last column "key_hex".
//
// --index FILE.ntx (or --index=FILE.ntx) opens the NTX file with the table, both for reading
// only, makes it the table's active index and shows one record per index entry, in index
// order, each with the key bytes as the page holds them (deciphered, never converted): in
// JSON "key_hex" and the document's "key_width", in plain text a "Key: <hex>" line, in CSV a
// last column "key_hex". --verify shows no records: it checks the index against the table,
// prints "VerifyIndex: OK, <n> keys" on out and each note as "note: <text>" on err; a
// finding is the engine's message on err and exit status 1. --index takes exactly one TABLE.
//
// Code page of the table text: -oem reads it as OEM (CP866, the table's OEM property set),
// -win as ANSI (CP1251). Without either, each table decides for itself: OEM when its code page
// byte says CP866 (0x26 or 0x65) or its dBase 7 language driver name carries "866", ANSI
// otherwise.
//
// --filter EXPR (or --filter=EXPR) shows only the records the xBase condition accepts (the
// table's Filter, Filtered on), each with its own record number. A condition that does not
// compile for a table skips that table like a bad --key.
//
// --csv writes RFC 4180 CSV (UTF-8, CRLF line ends): per table a header row of the field names
// and a row per record, values in their JSON form (numbers, YYYY-MM-DD dates, T/F logicals, hex
// binary values, text without trailing blanks), an empty field for no value. Deleted records are
// left out; --deleted keeps them and adds a last column "deleted" holding T or F.
//
// --cipher and --password read an enciphered table (both needed; "--opt VALUE" or
// "--opt=VALUE"). The password is converted from the terminal's encoding to CP1251 first, so a
// Cyrillic password gives the key it gave where the table was written.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HXDBFCrypt.h"
#include "platform/console.h"

namespace zarbel {

enum class TDumpCodePage { Auto, Oem, Win };

struct TDumpOptions {
    TDumpCodePage CodePage = TDumpCodePage::Auto;
    bool Json = false;
    // Key expression to show for every record (empty: none).
    std::string Key;
    // Filter condition, ANSI (CP1251) text (empty: every record).
    std::string Filter;
    // NTX index to walk the table by (empty: file order), and whether only to verify it.
    std::string Index;
    bool Verify = false;
    bool Csv = false;      // CSV instead of plain text
    bool Deleted = false;  // CSV: deleted records too, with a "deleted" column
    // Encoding of the plain text output and of messages (JSON is always UTF-8).
    ConsoleEncoding Encoding = ConsoleEncoding::Utf8;
    // The table's cipher (cmNone: read as plain) and its password (CP1251 bytes).
    TCryptMethod Cipher = cmNone;
    std::string Password;
};

// A file name or an engine message (ANSI text, possibly holding a file name in UTF-8) for the
// console.
std::string NameForConsole(std::string_view text, ConsoleEncoding enc);

// Whether the table's text is OEM when the code page is left to the table: decided from the
// first bytes of the file (code page byte 29; dBase 7 language driver name at 32..63). A file
// that cannot be read gives false.
bool DumpTableIsOem(const std::string& fileName);

// Dumps one table to out. The engine's exception when the table does not open (or a move to
// the next record fails) passes to the caller; what was written before it stays written. A value
// that fails to read (a damaged memo entry) is shown as {"error": message} in JSON and
// "(error: message)" in text, reported on err (when given) with its record and field, and
// counted: the result is the number of such values.
int DumpTable(const std::string& fileName, const TDumpOptions& options, std::ostream& out,
              std::ostream* err = nullptr);

// The program: arguments without the program name. Exit status: 0 every table dumped, 1 a table
// or index did not open, a value could not be read or --verify found a fault (the message on
// err, the other tables and values are still dumped), 2 parameter error (usage on err) or a
// key expression or filter that does not compile for a table (the message on err, that table
// skipped, the others dumped). --help and -h write
// the usage on out, --version the program's name and version; both give 0.
int DumpMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             ConsoleEncoding encoding);

}  // namespace zarbel
