// Writing the file of a new, empty table: the 32-byte header (plus the dBase VII extension),
// one descriptor per field definition (nested lists included), the 0x0D terminator, the 0x1A
// byte counted in the header length and, for Visual FoxPro, the 263-byte trailer.
//
// THXSmartDBF::CreateTable drives it (file creation, memo file, the opening check); the writer
// itself only needs an open, empty proxy, so it also serves nested tables and tests.
//
// The length byte of every fixed-width kind holds its width in the record (+ and I 4; @, O,
// T and Y 8; M, G, P 10, or 4 in Visual FoxPro; B 10, or 8 in Visual FoxPro), as other xBase
// programs expect; this engine's reader takes these widths from the type letter anyway.
//
// Widths in the record are taken with the reader's own rule (FieldStorageSize on the length
// and decimal bytes actually written), so a table the engine creates always reads back with
// the record length it was written with.
#pragma once
#include <cstdint>
#include <functional>

#include "engine/HXDBFFieldDefs.h"
#include "engine/HXDBFFlags.h"
#include "engine/HXDBFFormat.h"

namespace zarbel {

class TProxyStream;

struct TTableCreateSettings {
    xBaseVersion DbfVersion = xBaseIII;
    std::uint8_t Codepage = 0;
    // Converts count name bytes from ANSI to OEM in place (the table's OEM translation);
    // none: names are written as they are.
    std::function<void(std::uint8_t* bytes, int count)> NameToOem;
};

// What creation decided; filled in step by step, so it is meaningful also after a failure.
struct TTableCreateResult {
    std::uint8_t VersionByte = 0;
    bool HasMemo = false;                  // a field needs a memo file
    xBaseVersion MemoDialect = xUnknown;   // DbfVersion when HasMemo, else unchanged (xUnknown)
    int HeaderLength = 0;
    int RecordLength = 0;
};

// Writes the table structure into file (open, positioned anywhere; it is written from 0 and
// cut after the structure). Changes the definitions as creation does: BinaryColumn for I, +, O
// and @, the length/decimal/flag bytes and dialect of each image, and for Visual FoxPro with
// nullable fields the "_NULLFLAGS" definition (appended once; an existing one is reused).
// foxTableFlag gets HasGotMemo for a Visual FoxPro table with memo fields.
// Throws Exception with the creation messages; a failed write throws "THXSmartDBF: " + the
// system's message.
void WriteTableStructure(TProxyStream& file, const TTableCreateSettings& settings, TTableFlag& foxTableFlag,
                         THXDBFFieldDefs& defs, TTableCreateResult& result);

// The width in the record of a definition being created (after its length bytes are set);
// throws "Field_type incarect!" / "Extend_type incarect!".
int CreatedFieldWidth(const THXDBFFieldDef& def, xBaseVersion dbfVersion);

// The messages of table creation.
inline constexpr const char* kCreateOpenMsg = "THXSmartDBF.CreateTable: Can not create table while dataset is open";
inline constexpr const char* kCreateErrorMsg = "THXSmartDBF.CreateTable: Create error";
inline constexpr const char* kCreateNoFieldsMsg =
    "THXSmartDBF.CreateTable: You should define one field at least to create table!";
inline constexpr const char* kFieldTypeIncorrectMsg = "Field_type incarect!";
inline constexpr const char* kExtendTypeIncorrectMsg = "Extend_type incarect!";
inline constexpr const char* kCreateVIIMsg =
    "THXSmartDBF.CreateTable: DBF Version must be greater then xBaseVII for fields \"I\", \"+\", \"O\", \"@\"!";
inline constexpr const char* kCreateBGMsg =
    "THXSmartDBF.CreateTable: DBF Version must be greater then xBaseIV for field type \"B\" or \"G\"!";
inline constexpr const char* kCreateFMsg =
    "THXSmartDBF.CreateTable: DBF Version must be greater then xBaseIII for field type \"F\"!";
inline constexpr const char* kCreatePMsg =
    "THXSmartDBF.CreateTable: DBF Version must be xFoxPro or greater for field type \"P\"!";
inline constexpr const char* kCreateTMsg =
    "THXSmartDBF.CreateTable: DBF Version must be xFoxPro or greater for field type \"T\"!";
inline constexpr const char* kCreateYMsg =
    "THXSmartDBF.CreateTable: DBF Version must be xFoxPro or greater for field type \"Y\"!";
// Limits of the 16-bit header and record length fields.
inline constexpr const char* kCreateRecordTooLongMsg =
    "THXSmartDBF.CreateTable: Record length exceeds 65535 bytes!";
inline constexpr const char* kCreateHeaderTooLongMsg =
    "THXSmartDBF.CreateTable: Header length exceeds 65535 bytes!";

}  // namespace zarbel
