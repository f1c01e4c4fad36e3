// The phases of a merge that work on tables: set-up, structure union, creation of the output,
// record transfer and finish.
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "engine/HXDBFDataSet.h"
#include "tool/zarbel.h"

namespace zarbel {

struct MergeTables {
    std::unique_ptr<THXDBFNTX> output;
    std::unique_ptr<THXDBFNTX> source;
};

// Both table objects constructed and set up: output first, then source.
void SetUpTables(MergeContext& ctx, MergeTables& tables);
// Opens every source, counts its records and appends the field definitions not yet present.
void BuildStructureUnion(MergeContext& ctx, MergeTables& tables);
// Creates and opens the output; false when creation failed (logged with the structure, log saved).
bool CreateOutput(MergeContext& ctx, MergeTables& tables);
// Copies every record of every source into the output.
void TransferRecords(MergeContext& ctx, MergeTables& tables);
// Closes and releases both tables; closing message, end line, log saved.
void FinishMerge(MergeContext& ctx, MergeTables& tables);

// A field name in the form the output holds it: its first 10 characters, upper-cased, without
// surrounding blanks (an opened table trims and upper-cases its names). Names are
// compared in this form, so a long (dBase VII) name enters the structure once and its values
// find their output field. oem: the names stand for OEM text (their box-drawing characters
// are no letters).
std::string OutputFieldName(std::string_view name, bool oem = false);
// The status line's remaining time: h:mm:ss; below zero 0:00:00; a day or more as total hours.
std::string RemainingTimeText(TDateTime remaining);
// The file name part of a path (after the last separator).
std::string_view FileNamePart(std::string_view path);

}  // namespace zarbel
