// THXSmartDBF: pack.
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

void THXSmartDBF::Pack(bool) { throw Exception("THXSmartDBF.Pack: pack is not available"); }

}  // namespace zarbel
