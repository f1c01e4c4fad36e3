// Index kinds. Each index collection works out, from the class name of the items it holds, a
// kind code: NTX 1, NDX 2, MDX 3, CDX 5, anything else 0. Only the NTX kind behaves; the
// other kinds are named so that a caller can tell them, and their items answer every
// question with 0, false or an empty text.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace zarbel {

enum TIndexKind : int { ikUnknown = 0, ikNTX = 1, ikNDX = 2, ikMDX = 3, ikCDX = 5 };

// The kind code of an index or bag item class name (THXNTXIndex / THXNTXBag: 1, ...).
int IndexKindOfClass(std::string_view className);

// An index of a kind the engine does not implement: it never opens and holds no key.
class THXForeignIndex {
public:
    explicit THXForeignIndex(TIndexKind kind) : Kind_(kind) {}
    int Kind() const { return Kind_; }
    bool Open() { return false; }
    bool IsOpen() const { return false; }
    std::string KeyExpresion() const { return {}; }
    std::string ForExpresion() const { return {}; }
    std::uint32_t Seek(const std::string&, bool) { return 0; }
    std::uint32_t KeyCount() const { return 0; }

private:
    TIndexKind Kind_;
};

class THXNDXIndex : public THXForeignIndex {
public:
    THXNDXIndex() : THXForeignIndex(ikNDX) {}
};
class THXMDXIndex : public THXForeignIndex {
public:
    THXMDXIndex() : THXForeignIndex(ikMDX) {}
};
class THXCDXIndex : public THXForeignIndex {
public:
    THXCDXIndex() : THXForeignIndex(ikCDX) {}
};

// Bags of those kinds: no file is ever created or opened.
class THXForeignBag {
public:
    explicit THXForeignBag(TIndexKind kind) : Kind_(kind) {}
    int Kind() const { return Kind_; }
    bool CreateBag() { return false; }
    bool Open() { return false; }
    int OrderCount() const { return 0; }

private:
    TIndexKind Kind_;
};

class THXNDXBag : public THXForeignBag {
public:
    THXNDXBag() : THXForeignBag(ikNDX) {}
};
class THXMDXBag : public THXForeignBag {
public:
    THXMDXBag() : THXForeignBag(ikMDX) {}
};
class THXCDXBag : public THXForeignBag {
public:
    THXCDXBag() : THXForeignBag(ikCDX) {}
};

}  // namespace zarbel
