// THXSmartDBF: appending and posting records.
// Placeholder until the append/post layer is written: it replaces this unit.
#include "engine/HXDBFDataSet.h"
#include "platform/exception.h"

namespace zarbel {

void THXSmartDBF::InternalAddRecord(char*, bool) {
    throw Exception("THXSmartDBF.InternalAddRecord: appending is not available");
}

void THXSmartDBF::InternalPost() { throw Exception("THXSmartDBF.InternalPost: posting is not available"); }

}  // namespace zarbel
