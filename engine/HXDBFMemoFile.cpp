// Memo file layouts, entry reading and writing, dBase IV free chain, pack file swap.
#include "engine/HXDBFMemoFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/exception.h"

namespace zarbel {

namespace {

constexpr int kMemoHeaderSize = kMemoFileHeaderSize;
constexpr std::uint32_t kDBase3BlockSize = 512;
constexpr int kMinCreateBlockSize = 512;
constexpr int kMaxCreateBlockSize = 65408;  // 0xFF80: largest multiple of 128 below 65536
constexpr char kDBase3Signature[] = "This is Lob!";  // 12 bytes, no terminator written
constexpr std::int64_t kMaxChainSteps = 1 << 20;
constexpr std::int64_t kProbeSize = 512;  // bytes read at an entry first: its head and its start
constexpr std::uint8_t kUsedRunMark[4] = {0xFF, 0xFF, 0x08, 0x00};

const char* const kReadBlockError = "THXSmartDBF: Lob stream read block error!";
const char* const kCreateError = "THXSmartDBF: Lob stream create error!";
const char* const kSaveError = "THXSmartDBF: Lob stream save error!";

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

bool IsNBKind(THXDBFType k) {
    return k == dbftClob_NB || k == dbftBlob_NB || k == dbftGraphic_NB || k == dbftFmtMemo_NB ||
           k == dbftDBFDataSet_NB;
}

bool IsFptVersion(std::uint8_t versionByte, xBaseVersion memoDialect) {
    return versionByte == 0xF5 || ((versionByte >= 0x30 && versionByte <= 0x32) && memoDialect == xVisualFoxPro);
}

std::string ReplaceExtension(const std::string& name, const std::string& ext) {
    std::size_t slash = name.find_last_of("/\\");
    std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
    return name.substr(0, dot) + ext;
}

std::string OsInfo(int code) {
    return std::string("\r\n####> OS info\r\nError code: ") + std::to_string(code) + "\r\nError message: " +
           TEnv::ErrorText(code);
}

}  // namespace

TMemoLayout MemoLayoutOf(xBaseVersion memoDialect) {
    switch (memoDialect) {
        case xBaseIV:
        case xBaseV:
        case xBaseVII: return mlDBase4;
        case xFoxPro:
        case xVisualFoxPro: return mlFoxPro;
        default: return mlDBase3;
    }
}

bool IsMemoExtendedKind(std::uint8_t extendType) {
    switch (ExtendedStorage(extendType)) {
        case dbftClob: case dbftBlob: case dbftGraphic: case dbftFmtMemo: case dbftDBFDataSet:
        case dbftClob_NB: case dbftBlob_NB: case dbftGraphic_NB: case dbftFmtMemo_NB: case dbftDBFDataSet_NB:
            return true;
        default: return false;
    }
}

TMemoFieldForm MemoFieldForm(xBaseVersion memoDialect, char fieldType, std::uint8_t extendType, bool binaryColumn) {
    TMemoFieldForm f;
    TMemoLayout layout = MemoLayoutOf(memoDialect);
    bool vfp = memoDialect == xVisualFoxPro;
    if (fieldType == 'E') {
        if (!IsMemoExtendedKind(extendType)) return f;
        THXDBFType k = ExtendedStorage(extendType);
        bool nb = IsNBKind(k);
        f.Text = k == dbftClob || k == dbftFmtMemo || k == dbftClob_NB || k == dbftFmtMemo_NB;
        f.Nested = k == dbftDBFDataSet || k == dbftDBFDataSet_NB;
        f.Ref = (vfp || nb) ? mrfBinary : mrfText;
        f.ByteOffset = nb && layout == mlDBase3;
        return f;
    }
    bool allowed = false;
    switch (layout) {
        case mlDBase3: allowed = fieldType == 'M'; break;
        case mlDBase4: allowed = fieldType == 'M' || fieldType == 'B' || fieldType == 'G'; break;
        case mlFoxPro: allowed = fieldType == 'M' || fieldType == 'P' || fieldType == 'G' || (vfp && fieldType == 'W'); break;
    }
    if (!allowed) return f;
    f.Ref = vfp ? mrfBinary : mrfText;
    f.Terminated = layout == mlDBase3;
    f.Text = fieldType == 'M' && !(vfp && binaryColumn);
    return f;
}

bool DecodeMemoReference(const std::uint8_t* p, int size, TMemoRefForm form, std::uint32_t& number) {
    number = 0;
    if (!p || size <= 0) return false;
    if (form == mrfBinary) {
        if (size < 4) return false;
        std::uint32_t v = GetLE32(p);
        if (v == 0 || v == 0x20202020u) return false;
        number = v;
        return true;
    }
    if (form != mrfText) return false;
    int b = 0, e = size;
    while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
    if (b == e) return false;
    std::uint64_t v = 0;
    for (int i = b; i < e; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(p[i] - '0');
        if (v > 0xFFFFFFFFull) return false;
    }
    if (v == 0) return false;
    number = static_cast<std::uint32_t>(v);
    return true;
}

void EncodeMemoReference(std::uint8_t* p, int size, TMemoRefForm form, std::uint32_t number) {
    if (!p || size <= 0) return;
    if (form == mrfBinary) {
        if (size >= 4) PutLE32(p, number);
        return;
    }
    std::memset(p, ' ', static_cast<std::size_t>(size));
    int i = size;
    do {
        p[--i] = static_cast<std::uint8_t>('0' + number % 10);
        number /= 10;
    } while (number != 0 && i > 0);
}

bool VersionHasMemoFile(std::uint8_t versionByte, xBaseVersion memoDialect) {
    return versionByte == 0x83 || versionByte == 0x8B || versionByte == 0x8C || IsFptVersion(versionByte, memoDialect);
}

std::string MemoFileNameFor(const std::string& dbfFileName, std::uint8_t versionByte, xBaseVersion memoDialect) {
    if (versionByte >= 0x30 && versionByte <= 0x32 && memoDialect != xVisualFoxPro) return {};
    return ReplaceExtension(dbfFileName, IsFptVersion(versionByte, memoDialect) ? ".fpt" : ".dbt");
}

std::string LocateMemoFile(TEnv& env, const std::string& memoFileName) {
    if (memoFileName.empty() || env.FileExists(memoFileName)) return memoFileName;
    std::size_t dot = memoFileName.find_last_of('.');
    std::size_t slash = memoFileName.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return memoFileName;
    std::string upper = memoFileName, lower = memoFileName;
    for (std::size_t i = dot + 1; i < memoFileName.size(); ++i) {
        char c = memoFileName[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    if (env.FileExists(upper)) return upper;
    if (env.FileExists(lower)) return lower;
    return memoFileName;
}

int CreationBlockSize(int lobBlockSize) {
    if (lobBlockSize < kMinCreateBlockSize) return kMinCreateBlockSize;
    if (lobBlockSize > kMaxCreateBlockSize) return kMaxCreateBlockSize;
    return lobBlockSize;
}

// ---------------------------------------------------------------------------------------
// THXMemoFile
// ---------------------------------------------------------------------------------------
THXMemoFile::THXMemoFile(TProxyStream& stream)
    : Stream_(stream),
      Header_(TMemBlock::Tagged("THXMemoFile.Header", kMemoHeaderSize)),
      Probe_(TMemBlock::Tagged("THXMemoFile.Probe", kProbeSize)) {
    std::memset(Header_.Data(), 0, kMemoHeaderSize);
}

void THXMemoFile::TakeEntryData(TMemoryStream& out, std::int64_t pos, std::int64_t got, std::int64_t length) {
    if (length > got - 8) {
        ReadDataInto(out, pos + 8, length);
        return;
    }
    if (length > 0 && out.Write(Probe_.Bytes() + 8, length) != length) throw Exception(kReadBlockError);
}

void THXMemoFile::RaiseIoError() const { throw Exception("THXSmartDBF: " + Stream_.Env().LastErrorText()); }

std::int64_t THXMemoFile::FileSize() {
    std::int64_t n = Stream_.GetFileSize();
    if (n < 0) RaiseIoError();
    return n;
}

void THXMemoFile::WriteRaw2(std::int64_t pos, const void* head, std::int64_t headLen, const void* data,
                            std::int64_t count) {
    if (pos < 0 || Stream_.PWrite2(pos, head, headLen, data, count) != headLen + count) RaiseIoError();
}

// Positioned transfers: one system call each on a disk file (no seek before it).
std::int64_t THXMemoFile::ReadSome(std::int64_t pos, void* buffer, std::int64_t count) {
    if (pos < 0) return 0;
    std::int64_t got = Stream_.PRead(pos, buffer, count);
    return got > 0 ? got : 0;
}

void THXMemoFile::WriteRaw(std::int64_t pos, const void* buffer, std::int64_t count) {
    if (pos < 0 || Stream_.PWrite(pos, buffer, count) != count) RaiseIoError();
}

std::uint32_t THXMemoFile::EndBlock(std::int64_t fileSize) const {
    std::int64_t size = fileSize < kMemoHeaderSize ? kMemoHeaderSize : fileSize;
    std::int64_t b = CeilDiv(size, BlockSize_);
    return b > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(b);
}

bool THXMemoFile::CreateHeader(std::uint8_t versionByte, xBaseVersion memoDialect, int lobBlockSize) {
    std::uint8_t* h = Header_.Bytes();
    std::memset(h, 0, kMemoHeaderSize);
    std::uint32_t bs = static_cast<std::uint32_t>(CreationBlockSize(lobBlockSize));
    if (versionByte == 0x83) {
        Layout_ = mlDBase3;
        BlockSize_ = kDBase3BlockSize;
        std::memcpy(h, kDBase3Signature, 12);
        return Stream_.WriteAt(0, h, 12);
    }
    if (versionByte == 0x8B || versionByte == 0x8C) {
        Layout_ = mlDBase4;
        BlockSize_ = bs;
        PutLE32(h, 1);
        PutLE16(h + 20, static_cast<std::uint16_t>(bs));
        return Stream_.WriteAt(0, h, kMemoHeaderSize);
    }
    if (IsFptVersion(versionByte, memoDialect)) {
        Layout_ = mlFoxPro;
        BlockSize_ = bs;
        PutBE32(h, 1);
        PutBE32(h + 4, bs);
        return Stream_.WriteAt(0, h, kMemoHeaderSize);
    }
    return true;
}

bool THXMemoFile::ReadHeader(std::uint8_t versionByte, xBaseVersion memoDialect) {
    std::memset(Header_.Data(), 0, kMemoHeaderSize);
    if (versionByte == 0x83) {
        Layout_ = mlDBase3;
        BlockSize_ = kDBase3BlockSize;
        return true;
    }
    if (versionByte == 0x8B || versionByte == 0x8C) Layout_ = mlDBase4;
    else if (IsFptVersion(versionByte, memoDialect)) Layout_ = mlFoxPro;
    else {
        Layout_ = MemoLayoutOf(memoDialect);
        BlockSize_ = kDBase3BlockSize;
        return false;
    }
    std::int64_t got = ReadSome(0, Header_.Data(), kMemoHeaderSize);
    BlockSize_ = Layout_ == mlDBase4 ? GetLE32(Header_.Bytes() + 20) : GetBE32(Header_.Bytes() + 4);
    if (got < (Layout_ == mlDBase4 ? 24 : 8)) {
        BlockSize_ = 0;
        return false;
    }
    return true;
}

bool THXMemoFile::RefreshHeader() {
    if (Layout_ == mlDBase3) {
        BlockSize_ = kDBase3BlockSize;
        return true;
    }
    std::memset(Header_.Data(), 0, kMemoHeaderSize);
    if (Layout_ == mlDBase4) {
        std::int64_t got = ReadSome(0, Header_.Data(), kMemoHeaderSize);
        BlockSize_ = GetLE32(Header_.Bytes() + 20);
        if (got < 24) BlockSize_ = 0;
    } else {
        std::int64_t got = ReadSome(0, Header_.Data(), 8);
        BlockSize_ = GetBE32(Header_.Bytes() + 4);
        if (got < 8) BlockSize_ = 0;
    }
    return BlockSize_ != 0;
}

void THXMemoFile::ReadDataInto(TMemoryStream& out, std::int64_t pos, std::int64_t length) {
    if (length <= 0) return;
    // An entry running past the end gives what is there. A small length is read and cut to
    // what came; a large one is first bounded by the file size, so that a damaged length
    // never becomes a huge allocation.
    constexpr std::int64_t kReadWithoutSize = 1 << 20;
    if (length > kReadWithoutSize) {
        std::int64_t avail = FileSize() - pos;
        if (length > avail) length = avail;
        if (length <= 0) return;
    }
    if (!out.SetSize(length)) throw Exception(kReadBlockError);
    std::int64_t got = ReadSome(pos, out.Memory(), length);
    if (got < length) out.SetSize(got);
}

void THXMemoFile::ReadEntry(const TMemoFieldForm& form, std::uint32_t number, TMemoryStream& out,
                            std::uint32_t* entryPos) {
    out.Clear();
    if (!form.Valid()) throw Exception(kCreateError);
    std::int64_t pos = 0;
    switch (Layout_) {
        case mlDBase4: {
            if (!RefreshHeader()) throw Exception(kReadBlockError);
            pos = BlockPosition(number);
            const std::int64_t got = ReadSome(pos, Probe_.Data(), kProbeSize);
            const std::uint8_t* h = Probe_.Bytes();
            if (got < 8 || std::memcmp(h, kUsedRunMark, 4) != 0 || GetLE32(h + 4) < 8) throw Exception(kReadBlockError);
            TakeEntryData(out, pos, got, static_cast<std::int64_t>(GetLE32(h + 4)) - 8);
            break;
        }
        case mlFoxPro: {
            if (!RefreshHeader()) throw Exception(kReadBlockError);
            pos = BlockPosition(number);
            const std::int64_t got = ReadSome(pos, Probe_.Data(), kProbeSize);
            const std::uint8_t* h = Probe_.Bytes();
            // 0 picture, 1 text, 2 object (what Visual FoxPro writes for General fields)
            if (got < 8 || GetBE32(h) > 2) throw Exception(kReadBlockError);
            TakeEntryData(out, pos, got, GetBE32(h + 4));
            break;
        }
        case mlDBase3: {
            BlockSize_ = kDBase3BlockSize;
            pos = form.ByteOffset ? static_cast<std::int64_t>(number)
                                  : static_cast<std::int64_t>(number) * kDBase3BlockSize;
            if (form.Terminated) {
                // 512-byte pieces until the first 0x1A or the end of the file
                static_assert(kProbeSize >= kDBase3BlockSize, "the probe holds a piece");
                TMemBlock& piece = Probe_;
                std::int64_t at = pos;
                for (;;) {
                    std::int64_t got = ReadSome(at, piece.Data(), kDBase3BlockSize);
                    if (got <= 0) break;
                    const void* eof = std::memchr(piece.Data(), kEndOfFileMarker, static_cast<std::size_t>(got));
                    std::int64_t take = eof ? static_cast<const std::uint8_t*>(eof) - piece.Bytes() : got;
                    if (take > 0) {
                        out.Seek(0, soEnd);
                        if (out.Write(piece.Data(), take) != take) throw Exception(kReadBlockError);
                    }
                    if (eof || got < kDBase3BlockSize) break;
                    at += got;
                }
                out.Seek(0, soBeginning);
                if (entryPos) *entryPos = static_cast<std::uint32_t>(pos);
                return;  // never enciphered
            }
            std::uint8_t lb[4];
            if (ReadSome(pos, lb, 4) == 4) ReadDataInto(out, pos + 4, GetLE32(lb));
            break;
        }
    }
    if (out.Size() > 0 && OnDecryptEntry) OnDecryptEntry(static_cast<std::uint32_t>(pos), out.Memory(), out.Size());
    out.Seek(0, soBeginning);
    if (entryPos) *entryPos = static_cast<std::uint32_t>(pos);
}

std::int64_t THXMemoFile::EntryRoom(const TMemoFieldForm& form, std::uint32_t number) {
    if (!form.Valid() || form.Terminated || !RefreshHeader()) return 0;
    const std::int64_t bs = BlockSize_;
    std::uint8_t h[8];
    switch (Layout_) {
        case mlDBase4:
            if (ReadSome(BlockPosition(number), h, 8) != 8 || std::memcmp(h, kUsedRunMark, 4) != 0 || GetLE32(h + 4) < 8)
                return 0;
            return CeilDiv(GetLE32(h + 4), bs) * bs - 8;
        case mlFoxPro:
            if (ReadSome(BlockPosition(number), h, 8) != 8 || GetBE32(h) > 2) return 0;
            return CeilDiv(static_cast<std::int64_t>(GetBE32(h + 4)) + 8, bs) * bs - 8;
        case mlDBase3: {
            const std::int64_t pos = form.ByteOffset ? static_cast<std::int64_t>(number)
                                                     : static_cast<std::int64_t>(number) * kDBase3BlockSize;
            if (ReadSome(pos, h, 4) != 4) return 0;
            return GetLE32(h);
        }
    }
    return 0;
}

std::int64_t THXMemoFile::BlockPosition(std::uint32_t block) const {
    const std::uint64_t pos = static_cast<std::uint64_t>(block) * BlockSize_;  // below 2^64
    return static_cast<std::int64_t>(std::min<std::uint64_t>(pos, std::numeric_limits<std::int64_t>::max()));
}

bool THXMemoFile::FreeEntry(std::uint32_t block) {
    if (Layout_ != mlDBase4 || !RefreshHeader()) return false;
    std::int64_t fileSize = FileSize();
    std::int64_t pos = BlockPosition(block);
    if (pos < kMemoHeaderSize || pos + 8 > fileSize) return false;
    std::uint8_t bh[8];
    if (ReadSome(pos, bh, 8) != 8 || std::memcmp(bh, kUsedRunMark, 4) != 0) return false;
    std::uint32_t total = GetLE32(bh + 4);
    if (total < 8) return false;
    std::int64_t runLen = CeilDiv(total, BlockSize_);
    std::int64_t maxLen = static_cast<std::int64_t>(EndBlock(fileSize)) - block;  // not past the end
    if (runLen > maxLen) runLen = maxLen;
    if (runLen < 1) runLen = 1;
    std::uint8_t* h = Header_.Bytes();
    std::uint8_t run[8];
    PutLE32(run, GetLE32(h));
    PutLE32(run + 4, static_cast<std::uint32_t>(runLen));
    WriteRaw(pos, run, 8);
    PutLE32(h, block);
    WriteRaw(0, h, 8);
    return true;
}

std::uint32_t THXMemoFile::Allocate(std::uint32_t needed) {
    std::int64_t fileSize = FileSize();
    const std::uint32_t endBlock = EndBlock(fileSize);
    const std::int64_t bs = BlockSize_;
    std::uint8_t* h = Header_.Bytes();
    // the previous link: block 0 (the header) or a free run, with its second value
    std::uint32_t prev = 0;
    std::uint32_t prevSecond = GetLE32(h + 4);
    std::uint32_t current = GetLE32(h);
    auto link = [&](std::uint32_t next) {
        std::uint8_t rec[8];
        PutLE32(rec, next);
        PutLE32(rec + 4, prevSecond);
        WriteRaw(static_cast<std::int64_t>(prev) * bs, rec, 8);
        if (prev == 0) std::memcpy(h, rec, 8);
    };
    // Every step of a sound chain visits a different run, so a walk longer than the file has
    // blocks is a loop; past a million runs the walk gives up as well (the entry then goes to
    // the end of the file and the rest of the chain is dropped, which wastes space but never
    // corrupts an entry).
    std::int64_t steps = static_cast<std::int64_t>(endBlock) + 1;
    if (steps > kMaxChainSteps) steps = kMaxChainSteps;
    for (;;) {
        std::int64_t pos = static_cast<std::int64_t>(current) * bs;
        if (pos >= fileSize || current >= endBlock || pos < kMemoHeaderSize || --steps < 0) {
            // end of the chain (or a damaged link): the entry goes to the end of the file
            std::uint32_t at = (pos >= kMemoHeaderSize && current == endBlock) ? current : endBlock;
            if (static_cast<std::uint64_t>(at) + needed > 0xFFFFFFFFull) throw Exception(kSaveError);
            link(at + needed);
            return at;
        }
        std::uint8_t run[8];
        if (ReadSome(pos, run, 8) != 8) {
            current = endBlock;  // a run header cut by the end of the file
            continue;
        }
        std::uint32_t next = GetLE32(run);
        std::uint32_t length = GetLE32(run + 4);
        std::uint32_t avail = endBlock - current;
        if (length > avail) length = avail;  // a run cannot reach past the end of the file
        if (length > needed) {
            std::uint8_t rest[8];
            PutLE32(rest, next);
            PutLE32(rest + 4, length - needed);
            WriteRaw((static_cast<std::int64_t>(current) + needed) * bs, rest, 8);
            link(current + needed);
            return current;
        }
        if (length == needed) {
            link(next);
            return current;
        }
        prev = current;
        prevSecond = length;  // clamped: relinking this run also trims a length past the end
        current = next;
    }
}

std::uint32_t THXMemoFile::WriteEntry(const TMemoFieldForm& form, std::uint8_t* data, std::int64_t size, bool hasOld,
                                      std::uint32_t oldNumber, TSaveMode mode) {
    if (!form.Valid() || size <= 0) throw Exception(kSaveError);
    if (mode == smRewrite && !hasOld) throw Exception(kSaveError);
    if (!RefreshHeader()) throw Exception(kSaveError);
    const std::int64_t bs = BlockSize_;
    std::uint32_t number = 0;
    std::int64_t pos = 0;
    switch (Layout_) {
        case mlDBase3: {
            if (mode == smRewrite) {
                number = oldNumber;
            } else if (form.ByteOffset) {
                std::int64_t fs = FileSize();
                if (fs < 12) fs = 12;
                if (fs > 0xFFFFFFFFll) throw Exception(kSaveError);
                number = static_cast<std::uint32_t>(fs);
            } else {
                std::int64_t b = CeilDiv(FileSize(), kDBase3BlockSize);
                if (b < 1) b = 1;
                if (b > 0xFFFFFFFFll) throw Exception(kSaveError);
                number = static_cast<std::uint32_t>(b);
            }
            pos = form.ByteOffset ? static_cast<std::int64_t>(number)
                                  : static_cast<std::int64_t>(number) * kDBase3BlockSize;
            break;
        }
        case mlDBase4: {
            if (mode == smRewrite) {
                number = oldNumber;
            } else {
                if (mode == smNormal && hasOld && !FreeEntry(oldNumber)) RefreshHeader();
                std::int64_t needed = CeilDiv(size + 8, bs);
                if (needed > 0xFFFFFFFFll) throw Exception(kSaveError);
                number = Allocate(static_cast<std::uint32_t>(needed));
            }
            pos = static_cast<std::int64_t>(number) * bs;
            break;
        }
        case mlFoxPro: {
            if (mode == smRewrite) {
                number = oldNumber;
            } else {
                std::uint8_t* h = Header_.Bytes();
                std::uint32_t endBlock = EndBlock(FileSize());
                std::uint32_t next = GetBE32(h);
                // a next-free block inside the header or past the end: the end of the file
                if (static_cast<std::int64_t>(next) * bs < kMemoHeaderSize || next > endBlock) next = endBlock;
                std::int64_t advance = static_cast<std::int64_t>(next) + CeilDiv(size + 8, bs);
                if (advance > 0xFFFFFFFFll) throw Exception(kSaveError);
                number = next;
                PutBE32(h, static_cast<std::uint32_t>(advance));
                WriteRaw(0, h, 8);
            }
            pos = static_cast<std::int64_t>(number) * bs;
            break;
        }
    }
    if (!form.Terminated && OnEncryptEntry) OnEncryptEntry(static_cast<std::uint32_t>(pos), data, size);
    std::uint8_t bh[8];
    switch (Layout_) {
        case mlDBase3:
            if (form.Terminated) {
                const std::uint8_t eof = kEndOfFileMarker;
                WriteRaw2(pos, data, size, &eof, 1);
                return number;
            }
            if (size > 0xFFFFFFFFll) throw Exception(kSaveError);
            PutLE32(bh, static_cast<std::uint32_t>(size));
            WriteRaw2(pos, bh, 4, data, size);
            return number;
        case mlDBase4:
            if (size + 8 > 0xFFFFFFFFll) throw Exception(kSaveError);
            std::memcpy(bh, kUsedRunMark, 4);
            PutLE32(bh + 4, static_cast<std::uint32_t>(size + 8));
            break;
        case mlFoxPro:
            if (size > 0xFFFFFFFFll) throw Exception(kSaveError);
            PutBE32(bh, form.Text ? 1u : 0u);
            PutBE32(bh + 4, static_cast<std::uint32_t>(size));
            break;
    }
    WriteRaw2(pos, bh, 8, data, size);
    return number;
}

// ---------------------------------------------------------------------------------------
// Pack support
// ---------------------------------------------------------------------------------------
bool PackLobOpen(TProxyStream& temp, const std::string& tempName, std::uint32_t accessMode, std::uint8_t versionByte,
                 xBaseVersion memoDialect, int lobBlockSize) {
    temp.Close();
    temp.SetFileName(tempName);
    temp.SetProxyStreamType(pstFile);
    temp.AccessMode().SetAccessMode(accessMode);
    temp.CreateProxyStream();
    if (!temp.IsOpen()) return false;
    THXMemoFile f(temp);
    return f.CreateHeader(versionByte, memoDialect, lobBlockSize);
}

void PackLobClose(TProxyStream& temp, TProxyStream& memo, const std::string& memoName, const std::string& tempName) {
    temp.Close();
    memo.Close();
    TEnv& env = memo.Env();
    if (memo.ProxyStreamType() == pstFile) {
        if (!env.DeleteFile(memoName)) {
            int code = env.LastError();
            throw Exception("THXSmartDBF.PackLobHandlerClose: Can not delete file \"" + memoName + "\" !" +
                            OsInfo(code));
        }
        if (!env.RenameFile(tempName, memoName)) {
            int code = env.LastError();
            // The system's temporary directory may lie on another file system, which a rename
            // cannot cross: the file is copied there instead.
            if (code == EXDEV && env.CopyFile(tempName, memoName)) {
                env.DeleteFile(tempName);
            } else {
                if (code == EXDEV) code = env.LastError();
                throw Exception("THXSmartDBF.PackLobHandlerClose: Can not rename file \"" + tempName + "\" to \"" +
                                memoName + "\" !" + OsInfo(code));
            }
        }
    } else {
        if (!memo.LoadFromFile(tempName)) {
            int code = env.LastError() != 0 ? env.LastError() : EIO;
            throw Exception("THXSmartDBF.PackLobHandlerClose: Can not load file \"" + tempName + "\" !" +
                            OsInfo(code));
        }
        if (!env.DeleteFile(tempName)) {
            int code = env.LastError();
            throw Exception("THXSmartDBF.PackLobHandlerClose: Can not delete file \"" + tempName + "\" !" +
                            OsInfo(code));
        }
    }
    memo.OpenProxyStream();
}

}  // namespace zarbel
