// THXSmartDBF: memo file open/close and blob streams.
// Placeholder until the memo layer is written: it replaces this unit. Without it memo fields
// read as their stored reference only (no text).
#include "engine/HXDBFDataSet.h"
#include "platform/streams.h"

namespace zarbel {

void THXSmartDBF::OpenMemoFile() {}

void THXSmartDBF::CloseMemoFile() { MemoFile_.Close(); }

std::unique_ptr<TStream> THXSmartDBF::CreateBlobStream(TField*, TBlobStreamMode) { return nullptr; }

}  // namespace zarbel
