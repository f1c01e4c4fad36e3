// The phases of a run that follow the scan.
#include "platform/locale.h"
#include "tool/zarbel.h"

namespace zarbel {

void RunMergePhases(MergeContext& ctx) {
    // Steps to come with the table engine, each a function of its own, in this order:
    // set-up of the output and source tables, structure union, creation of the output
    // (its failure saves the log and ends the run), record transfer.
    FinishRun(ctx);
}

void FinishRun(MergeContext& ctx) {
    ctx.Log(Ansi("Дата и время окончания загрузки: ") + DateTimeToStr(ctx.Now()));
    ctx.SaveLog();
}

}  // namespace zarbel
