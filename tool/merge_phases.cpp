// The phases of a run that follow the scan.
#include "platform/locale.h"
#include "tool/merge_tables.h"
#include "tool/zarbel.h"

namespace zarbel {

void RunMergePhases(MergeContext& ctx) {
    MergeTables tables;
    SetUpTables(ctx, tables);
    BuildStructureUnion(ctx, tables);
    if (ctx.Stopped()) {
        ctx.RemoveOutput();  // interrupted before anything was created
    } else {
        if (!CreateOutput(ctx, tables)) return;  // logged and saved
        TransferRecords(ctx, tables);
    }
    FinishMerge(ctx, tables);
}

void FinishRun(MergeContext& ctx) {
    ctx.Log(Ansi("Дата и время окончания загрузки: ") + DateTimeToStr(ctx.Now()));
    ctx.SaveLog();
}

}  // namespace zarbel
