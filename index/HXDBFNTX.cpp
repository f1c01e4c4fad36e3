#include "index/HXDBFNTX.h"

namespace zarbel {

THXDBFNTX::THXDBFNTX() {
    SetLockProtocol(lpClipperLock);
    SetLobLockProtocol(lpClipperLock);
    SetIndexOrder(&Indexes_);
}

THXDBFNTX::~THXDBFNTX() { DestroyingClose(); }

}  // namespace zarbel
