// The phases of a merge that work on tables: set-up, structure union, creation of the output,
// record transfer and finish.
#pragma once
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "index/HXDBFNTX.h"
#include "tool/zarbel.h"

namespace zarbel {

struct MergeTables {
    std::unique_ptr<THXDBFNTX> output;
    std::unique_ptr<THXDBFNTX> source;
    // Field identity (see IdentityKey) -> the name of its output field.
    std::map<std::string, std::string> outputOf;
    // Output field names taken so far, upper-cased.
    std::set<std::string> takenNames;
};

// One field of a source as the union and the transfer see it.
struct SourceField {
    const THXDBFFieldDef* def = nullptr;
    TField* field = nullptr;  // its dataset field; null when the engine gives it none
    std::string name;         // the full name, upper-cased, without surrounding blanks
    int occurrence = 1;       // 1 for the first field of that name in its table, 2 for the second...
};
// The fields of an open source in record order.
void ListSourceFields(THXDBFNTX& src, std::vector<SourceField>& out, bool oem = false);
// A field's identity: its full name and its occurrence number in its own table.
std::string IdentityKey(const SourceField& f);

// The output definition of a source field: the dBase IV output keeps C, N, F, D, L and text M
// fields as they are and turns every other kind into one of these; false when the values are
// not user data or cannot be read (_NULLFLAGS, a nested table, a letter without a dataset field).
struct OutputType {
    char letter = 'C';
    int len = 0;
    int dec = 0;
};
bool OutputTypeFor(const SourceField& f, OutputType& out);
// Values of this dataset type are bytes, copied without code-page translation.
bool CopiesBytes(TFieldType type);

// The output field name of a new identity: the first 10 characters of `name`, or, when that is
// taken, the longest prefix of the name followed by "_" and the smallest number n = 1, 2, ...
// giving a free name of at most 10 characters. `taken` holds upper-cased names.
std::string FreeOutputName(std::string_view name, const std::set<std::string>& taken, bool oem = false);

// Both table objects constructed and set up: output first, then source.
void SetUpTables(MergeContext& ctx, MergeTables& tables);
// Opens every source, counts its records and appends an output field for every identity not
// yet present.
void BuildStructureUnion(MergeContext& ctx, MergeTables& tables);
// Creates and opens the output; false when creation failed (logged with the structure, what
// creation wrote removed, log saved).
bool CreateOutput(MergeContext& ctx, MergeTables& tables);
// Copies every record of every source into the output; stops early on a termination request
// or when the output's disk is full.
void TransferRecords(MergeContext& ctx, MergeTables& tables);
// Closes and releases both tables; closing message, end line, log saved.
void FinishMerge(MergeContext& ctx, MergeTables& tables);

// The status line's remaining time: h:mm:ss; below zero 0:00:00; a day or more as total hours.
std::string RemainingTimeText(TDateTime remaining);
// The file name part of a path (after the last separator).
std::string_view FileNamePart(std::string_view path);

}  // namespace zarbel
