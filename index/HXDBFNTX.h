// THXDBFNTX: the table class callers instantiate. It is THXSmartDBF with Clipper's lock
// conventions and the table's NTX index collection installed as its index collaborator; its
// expression parser holds the one compiled copy of Filter (the record filter collaborator).
#pragma once
#include <string>

#include "engine/HXDBFDataSet.h"
#include "expr/HXDBFExprParser.h"
#include "index/HXNTXIndexes.h"

namespace zarbel {

class THXDBFNTX : public THXSmartDBF {
public:
    THXDBFNTX();
    ~THXDBFNTX() override;
    const std::string& IndexName() const { return IndexName_; }
    void SetIndexName(const std::string& name) { IndexName_ = name; }
    TIndexes& Indexes() { return Indexes_; }

private:
    std::string IndexName_;
    TIndexes Indexes_;
    THXDBFExprParser FilterParser_{this};
};

}  // namespace zarbel
