#include "index/HXDBFNTX.h"

namespace zarbel {

THXDBFNTX::THXDBFNTX() {
    SetLockProtocol(lpClipperLock);
    SetLobLockProtocol(lpClipperLock);
    SetIndexOrder(&Indexes_);
    SetRecordFilter(&FilterParser_.FilterExpr());
}

THXDBFNTX::~THXDBFNTX() { DestroyingClose(); }

}  // namespace zarbel
