// The flag bytes of a field descriptor (TFieldFlag) and of the table header (TTableFlag),
// held as Boolean properties. Writing the byte clears all flags, then sets each whose bit
// is set; bits without a property are dropped. A new object has every flag false.
#pragma once
#include <cstdint>

namespace zarbel {

class TFieldFlag {
public:
    static constexpr std::uint8_t kSystem = 0x01;
    static constexpr std::uint8_t kCanStoreNull = 0x02;
    static constexpr std::uint8_t kBinaryColumn = 0x04;
    static constexpr std::uint8_t kAutoIncrement = 0x08;

    std::uint8_t FieldFlag() const {
        return static_cast<std::uint8_t>((System_ ? kSystem : 0) | (CanStoreNull_ ? kCanStoreNull : 0) |
                                         (BinaryColumn_ ? kBinaryColumn : 0) |
                                         (AutoIncrement_ ? kAutoIncrement : 0));
    }
    void SetFieldFlag(std::uint8_t v) {
        System_ = (v & kSystem) != 0;
        CanStoreNull_ = (v & kCanStoreNull) != 0;
        BinaryColumn_ = (v & kBinaryColumn) != 0;
        AutoIncrement_ = (v & kAutoIncrement) != 0;
    }

    bool System() const { return System_; }
    void SetSystem(bool v) { System_ = v; }
    bool CanStoreNull() const { return CanStoreNull_; }
    void SetCanStoreNull(bool v) { CanStoreNull_ = v; }
    bool BinaryColumn() const { return BinaryColumn_; }
    void SetBinaryColumn(bool v) { BinaryColumn_ = v; }
    bool AutoIncrement() const { return AutoIncrement_; }
    void SetAutoIncrement(bool v) { AutoIncrement_ = v; }

private:
    bool System_ = false;
    bool CanStoreNull_ = false;
    bool BinaryColumn_ = false;
    bool AutoIncrement_ = false;
};

class TTableFlag {
public:
    static constexpr std::uint8_t kHasGotIndex = 0x01;
    static constexpr std::uint8_t kHasGotMemo = 0x02;
    static constexpr std::uint8_t kItIsDatabase = 0x04;

    std::uint8_t TableFlag() const {
        return static_cast<std::uint8_t>((HasGotIndex_ ? kHasGotIndex : 0) | (HasGotMemo_ ? kHasGotMemo : 0) |
                                         (ItIsDatabase_ ? kItIsDatabase : 0));
    }
    void SetTableFlag(std::uint8_t v) {
        HasGotIndex_ = (v & kHasGotIndex) != 0;
        HasGotMemo_ = (v & kHasGotMemo) != 0;
        ItIsDatabase_ = (v & kItIsDatabase) != 0;
    }

    bool HasGotIndex() const { return HasGotIndex_; }
    void SetHasGotIndex(bool v) { HasGotIndex_ = v; }
    bool HasGotMemo() const { return HasGotMemo_; }
    void SetHasGotMemo(bool v) { HasGotMemo_ = v; }
    bool ItIsDatabase() const { return ItIsDatabase_; }
    void SetItIsDatabase(bool v) { ItIsDatabase_ = v; }

private:
    bool HasGotIndex_ = false;
    bool HasGotMemo_ = false;
    bool ItIsDatabase_ = false;
};

}  // namespace zarbel
