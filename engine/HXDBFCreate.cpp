// THXSmartDBF: table creation.
// Placeholder until the creation layer is written: it replaces this unit.
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

void THXSmartDBF::CreateTable() { throw Exception("THXSmartDBF.CreateTable: table creation is not available"); }

}  // namespace zarbel
