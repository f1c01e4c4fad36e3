// THXNTXIndex: the properties that act on the header while the index is open.
#include "index/HXDBFNTX.h"
#include "platform/exception.h"

namespace zarbel {

std::string THXNTXIndex::Order() const { return Open_ ? Tree_.Header().OrderNameText() : Order_; }

void THXNTXIndex::SetOrder(const std::string& v) {
    Order_ = v;
    if (!Open_) return;
    RequireWritable("its header cannot be changed");
    Tree_.MutableHeader().SetOrderNameText(v);
    WriteHeader();
    Name_ = Tree_.Header().OrderNameText();
}

}  // namespace zarbel
