#include "platform/streams.h"

#include <algorithm>
#include <cstring>

#include "platform/fileio.h"

namespace zarbel {

std::int64_t TStream::Size() {
    std::int64_t pos = Seek(0, soCurrent);
    if (pos < 0) return -1;
    std::int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count < 0) return -1;
    if (count == 0) {
        if (source.Seek(0, soBeginning) < 0) return -1;
        count = source.Size();
        if (count < 0) return -1;
    }
    std::uint8_t buf[65536];
    std::int64_t done = 0;
    while (done < count) {
        std::int64_t want = std::min<std::int64_t>(count - done, sizeof buf);
        std::int64_t got = source.Read(buf, want);
        if (got < 0) return -1;
        if (got == 0) break;
        if (Write(buf, got) != got) return -1;
        done += got;
    }
    return done;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count < 0) return -1;
    const std::int64_t size = Size();
    if (Pos_ >= size || count == 0) return 0;
    std::int64_t n = std::min(count, size - Pos_);
    std::memcpy(buffer, Data_.data() + Pos_, static_cast<std::size_t>(n));
    Pos_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count < 0) return -1;
    if (count == 0) return 0;
    const std::int64_t end = Pos_ + count;
    try {
        if (end > Size()) Data_.resize(static_cast<std::size_t>(end), 0);
    } catch (...) {
        return -1;
    }
    std::memcpy(Data_.data() + Pos_, buffer, static_cast<std::size_t>(count));
    Pos_ = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
    std::int64_t base;
    switch (origin) {
        case soBeginning: base = 0; break;
        case soCurrent: base = Pos_; break;
        case soEnd: base = Size(); break;
        default: return -1;
    }
    std::int64_t target = base + offset;
    if (target < 0) return -1;
    Pos_ = target;
    return Pos_;
}

bool TMemoryStream::SetSize(std::int64_t size) {
    if (size < 0) return false;
    try {
        Data_.resize(static_cast<std::size_t>(size), 0);
    } catch (...) {
        return false;
    }
    if (Pos_ > size) Pos_ = size;
    return true;
}

bool TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileGuard guard(FileOpen(fileName, faRead, TShareLock::Shared));
    const THandle h = guard.Get();
    if (h == kInvalidHandle) return false;
    std::vector<std::uint8_t> data;
    bool ok = true;
    std::uint8_t buf[65536];
    for (;;) {
        std::int64_t got = FileRead(h, buf, sizeof buf);
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) break;
        data.insert(data.end(), buf, buf + got);
    }
    if (!ok) return false;
    Data_.swap(data);
    Pos_ = 0;
    return true;
}

bool TMemoryStream::SaveToFile(const std::string& fileName) const {
    TFileGuard guard(FileCreate(fileName, TShareLock::Exclusive));
    if (guard.Get() == kInvalidHandle) return false;
    const auto n = static_cast<std::int64_t>(Data_.size());
    return FileWrite(guard.Get(), Data_.data(), n) == n;
}

bool TMemoryStream::LoadFromStream(TStream& source) {
    TMemoryStream tmp;
    if (tmp.CopyFrom(source, 0) < 0) return false;
    Data_.swap(tmp.Data_);
    Pos_ = 0;
    return true;
}

}  // namespace zarbel
