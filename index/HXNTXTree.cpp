#include "index/HXNTXTree.h"

#include "engine/HXDBFPrx.h"
#include "platform/exception.h"

namespace zarbel {

int THXNTXByteCompare::Compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        if (a[i] == 0) return 0;
    }
    return 0;
}

THXNTXTree::THXNTXTree() = default;
THXNTXTree::~THXNTXTree() = default;

void THXNTXTree::SetCompare(const THXNTXKeyCompare* c) { Compare_ = c ? c : &ByteCompare_; }
TNTXOpenStatus THXNTXTree::Open(TProxyStream&, TDBFCipher*, std::string&) { return TNTXOpenStatus::ReadFailed; }
void THXNTXTree::Close() {}
bool THXNTXTree::CreateEmpty(TProxyStream&, const TNTXHeader&, TDBFCipher*) { return false; }
bool THXNTXTree::WriteHeader() { return false; }
void THXNTXTree::Refresh() {}
bool THXNTXTree::First(THXNTXCursor&) { return false; }
bool THXNTXTree::Last(THXNTXCursor&) { return false; }
bool THXNTXTree::Seek(THXNTXCursor&, const std::uint8_t*, std::size_t, bool) { return false; }
bool THXNTXTree::SeekEntry(THXNTXCursor&, const std::uint8_t*, std::uint32_t) { return false; }
bool THXNTXTree::Next(THXNTXCursor&) { return false; }
bool THXNTXTree::Prev(THXNTXCursor&) { return false; }
std::uint32_t THXNTXTree::FindKey(const std::uint8_t*, std::size_t, bool, std::uint32_t, bool,
                                  const std::function<bool(std::uint32_t)>&) { return 0; }
void THXNTXTree::AddKey(const std::uint8_t*, std::uint32_t) {}
bool THXNTXTree::DeleteKey(const std::uint8_t*, std::uint32_t) { return false; }
void THXNTXTree::BeginUpdate() {}
void THXNTXTree::EndUpdate() {}
void THXNTXTree::Empty() {}
void THXNTXTree::BeginRebuild() {}
void THXNTXTree::EndRebuild() {}
void THXNTXTree::MarkFailed() {}
void THXNTXTree::DropCache() {}
TNTXVerifyReport THXNTXTree::Verify(const TNTXVerifyOptions&) { return {}; }
void THXNTXTree::BeforeWrite() {}
void THXNTXTree::WriteFailed() {}

}  // namespace zarbel
