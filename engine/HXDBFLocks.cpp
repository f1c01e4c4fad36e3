#include "engine/HXDBFLocks.h"

#include <algorithm>

#include "engine/HXDBFPrx.h"
#include "platform/exception.h"

namespace zarbel {

TLockRange LockRangeFor(LockProtocolType protocol, TLockTarget target, std::uint32_t recNo) {
    TLockRange r;
    std::uint32_t base;
    bool recordDown;  // record r at base - r (true) or base + r (false)
    std::uint32_t memo;
    switch (protocol) {
        case lpNone: r.kind = TLockRange::NoLock; return r;
        case lpDB4Lock: base = 0xEFFFFFFFu; recordDown = true; memo = 0xEFFFFFFFu; break;
        case lpClipperLock: base = 1000000000u; recordDown = false; memo = 1000000000u; break;
        case lpFoxLock: base = 0x7FFFFFFEu; recordDown = true; memo = 0x40000000u; break;
        case lpClipperForFoxLob: base = 0; recordDown = false; memo = 0; break;
        default: r.kind = TLockRange::Invalid; return r;
    }
    r.kind = TLockRange::Byte;
    switch (target) {
        case TLockTarget::Header:
        case TLockTarget::Index: r.Offset = base; break;
        case TLockTarget::Memo: r.Offset = memo; break;
        case TLockTarget::Record:
            // DB4 counts down from the byte below its header byte, Fox from its header byte.
            if (protocol == lpDB4Lock)
                r.Offset = 0xEFFFFFFEu - recNo;
            else
                r.Offset = recordDown ? base - recNo : base + recNo;
            break;
    }
    return r;
}

namespace {

bool AttemptLock(TProxyStream* file, const TLockRange& range) {
    switch (range.kind) {
        case TLockRange::NoLock: return true;
        case TLockRange::Byte: return file != nullptr && file->Lock(range.Offset, 1);
        default: return false;
    }
}

bool DoUnlock(TProxyStream* file, const TLockRange& range) {
    switch (range.kind) {
        case TLockRange::NoLock: return true;
        case TLockRange::Byte: return file != nullptr && file->Unlock(range.Offset, 1);
        default: return false;
    }
}

void WaitBetweenAttempts(const TProxyStream* file) { (file ? file->Env() : TEnv::Default()).Sleep(1); }

}  // namespace

// ---------------------------------------------------------------------------------------
// THXDBFLockState
// ---------------------------------------------------------------------------------------
void THXDBFLockState::SetLockProtocol(LockProtocolType p, bool active) {
    if (active) throw Exception("THXSmartDBF.SetLockProtocol: Can't change lock protocol while dataset is active!");
    LockProtocol_ = p;
}

void THXDBFLockState::SetLobLockProtocol(LockProtocolType p, bool active) {
    if (active)
        throw Exception("THXSmartDBF.SetLobLockProtocol: Can't change lock protocol while dataset is active!");
    LobLockProtocol_ = p;
}

void THXDBFLockState::Reset() {
    std::lock_guard<std::mutex> g(StateLock_);
    HeaderLocked_ = false;
    MemoLocked_ = false;
    LockedRecords_.clear();
}

bool THXDBFLockState::NoSharing() const { return AccessMode_ != nullptr && AccessMode_->NoSharing(); }

bool THXDBFLockState::TryLock(TProxyStream* file, const TLockRange& range) const {
    const int attempts = std::max(1, WaitBusyRes_);
    for (int i = 0; i < attempts; ++i) {
        if (AttemptLock(file, range)) return true;
        WaitBetweenAttempts(file);
    }
    return false;
}

bool THXDBFLockState::HeaderLock() {
    std::lock_guard<std::mutex> cs(HeaderLockCS_);
    const int attempts = std::max(1, WaitBusyRes_);
    const TLockRange range = LockRangeFor(LockProtocol_, TLockTarget::Header);
    bool ok = false;
    for (int i = 0; i < attempts && !ok; ++i) {
        ok = HeaderLocked_ || NoSharing() || AttemptLock(TableFile_, range);
        if (!ok) WaitBetweenAttempts(TableFile_);
    }
    if (!ok) {
        HeaderLocked_ = false;
        return false;
    }
    // Another program may have added records while the lock was not held: refresh the header.
    if (TableFile_ && Header_) {
        std::uint8_t buf[kHeaderSize];
        if (TableFile_->PRead(0, buf, kHeaderSize) == kHeaderSize) Header_->Load(buf);
    }
    HeaderLocked_ = true;
    return true;
}

bool THXDBFLockState::HeaderUnlock() {
    std::lock_guard<std::mutex> cs(HeaderUnlockCS_);
    bool ok = true;
    if (!NoSharing() && HeaderLocked_) ok = DoUnlock(TableFile_, LockRangeFor(LockProtocol_, TLockTarget::Header));
    if (ok) HeaderLocked_ = false;
    return ok;
}

bool THXDBFLockState::RecordLock(std::uint32_t recNo) {
    std::lock_guard<std::mutex> cs(RecordLockCS_);
    {
        std::lock_guard<std::mutex> g(StateLock_);
        if (std::find(LockedRecords_.begin(), LockedRecords_.end(), recNo) != LockedRecords_.end()) return true;
    }
    if (NoSharing()) return true;
    if (!TryLock(TableFile_, LockRangeFor(LockProtocol_, TLockTarget::Record, recNo))) return false;
    std::lock_guard<std::mutex> g(StateLock_);
    LockedRecords_.push_back(recNo);
    return true;
}

bool THXDBFLockState::RecordUnlock(std::uint32_t recNo) {
    std::lock_guard<std::mutex> cs(RecordUnlockCS_);
    if (NoSharing()) return true;
    if (!DoUnlock(TableFile_, LockRangeFor(LockProtocol_, TLockTarget::Record, recNo))) return false;
    std::lock_guard<std::mutex> g(StateLock_);
    auto it = std::find(LockedRecords_.begin(), LockedRecords_.end(), recNo);
    if (it != LockedRecords_.end()) LockedRecords_.erase(it);
    return true;
}

void THXDBFLockState::RecordAndHeaderUnlock(std::uint32_t recNo) {
    if (!NoSharing() && TableFile_ && TableFile_->ProxyStreamType() == pstFile &&
        LockRangeFor(LockProtocol_, TLockTarget::Header).kind == TLockRange::Byte) {
        // No record lock may be in progress on another thread meanwhile (its lock would go
        // with the others); if one is, the two are released one by one.
        std::unique_lock<std::mutex> lcs(RecordLockCS_, std::try_to_lock);
        if (lcs.owns_lock()) {
            std::lock_guard<std::mutex> rcs(RecordUnlockCS_);
            std::lock_guard<std::mutex> hcs(HeaderUnlockCS_);
            bool alone;
            {
                std::lock_guard<std::mutex> g(StateLock_);
                alone = HeaderLocked_ && LockedRecords_.size() == 1 && LockedRecords_[0] == recNo;
            }
            if (alone && TableFile_->UnlockAll()) {
                std::lock_guard<std::mutex> g(StateLock_);
                LockedRecords_.clear();
                HeaderLocked_ = false;
                return;
            }
        }
    }
    RecordUnlock(recNo);
    HeaderUnlock();
}

bool THXDBFLockState::MemoLock(TProxyStream& memoFile) {
    std::lock_guard<std::mutex> cs(MemoLockCS_);
    const int attempts = std::max(1, WaitBusyRes_);
    const TLockRange range = LockRangeFor(LobLockProtocol_, TLockTarget::Memo);
    bool ok = false;
    for (int i = 0; i < attempts && !ok; ++i) {
        ok = MemoLocked_ || NoSharing() || AttemptLock(&memoFile, range);
        if (!ok) WaitBetweenAttempts(&memoFile);
    }
    MemoLocked_ = ok;
    return ok;
}

bool THXDBFLockState::MemoUnlock(TProxyStream& memoFile) {
    std::lock_guard<std::mutex> cs(MemoUnlockCS_);
    bool ok = true;
    if (!NoSharing() && MemoLocked_) ok = DoUnlock(&memoFile, LockRangeFor(LobLockProtocol_, TLockTarget::Memo));
    if (ok) MemoLocked_ = false;
    return ok;
}

bool THXDBFLockState::IsHeaderLocked() const { return HeaderLocked_; }

bool THXDBFLockState::IsMemoLocked() const { return MemoLocked_; }

bool THXDBFLockState::IsRecordLocked(std::uint32_t recNo) const {
    std::lock_guard<std::mutex> g(StateLock_);
    return std::find(LockedRecords_.begin(), LockedRecords_.end(), recNo) != LockedRecords_.end();
}

std::vector<std::uint32_t> THXDBFLockState::LockedRecords() const {
    std::lock_guard<std::mutex> g(StateLock_);
    return LockedRecords_;
}

// ---------------------------------------------------------------------------------------
// THXDBFIndexLockState
// ---------------------------------------------------------------------------------------
bool THXDBFIndexLockState::IndexLock(TProxyStream& indexFile, const THXDBFLockState& table) {
    std::lock_guard<std::mutex> cs(LockCS_);
    {
        std::lock_guard<std::mutex> g(StateLock_);
        if (IndexLocked_ || table.NoSharing()) {
            IndexLocked_ = true;
            return true;
        }
    }
    bool ok = table.TryLock(&indexFile, LockRangeFor(table.LockProtocol(), TLockTarget::Index));
    std::lock_guard<std::mutex> g(StateLock_);
    IndexLocked_ = ok;
    return ok;
}

bool THXDBFIndexLockState::IndexUnlock(TProxyStream& indexFile, const THXDBFLockState& table) {
    std::lock_guard<std::mutex> cs(UnlockCS_);
    bool ok = table.NoSharing() || DoUnlock(&indexFile, LockRangeFor(table.LockProtocol(), TLockTarget::Index));
    std::lock_guard<std::mutex> g(StateLock_);
    IndexLocked_ = !ok;
    return ok;
}

bool THXDBFIndexLockState::IsIndexLocked() const {
    std::lock_guard<std::mutex> g(StateLock_);
    return IndexLocked_;
}

void THXDBFIndexLockState::Reset() {
    std::lock_guard<std::mutex> g(StateLock_);
    IndexLocked_ = false;
}

}  // namespace zarbel
