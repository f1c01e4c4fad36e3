// THXSmartDBF: pack.
// Placeholder until the pack layer is written: it replaces this unit.
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

void THXSmartDBF::Pack() { throw Exception("THXSmartDBF.Pack: pack is not available"); }

}  // namespace zarbel
