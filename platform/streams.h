// Byte streams of the host layer: the abstract TStream (positioned read, write, seek, size)
// and TMemoryStream, a growable stream in memory. Positions and sizes are 64-bit.
// Failures are results (-1, false), never exceptions.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zarbel {

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    // Bytes actually read (0 at the end), or -1 on failure.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Bytes actually written, or -1 on failure.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // New position from the origin (0 beginning, 1 current, 2 end), or -1 on failure.
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
    // Cuts or extends (with zeros) the stream; the position is kept within the new size.
    virtual bool SetSize(std::int64_t size) = 0;
    // Size in bytes (default: seeks to the end and back); -1 on failure.
    virtual std::int64_t Size();

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
    // Reads / writes exactly count bytes; false when fewer were moved.
    bool ReadBuffer(void* buffer, std::int64_t count) { return count >= 0 && Read(buffer, count) == count; }
    bool WriteBuffer(const void* buffer, std::int64_t count) {
        return count >= 0 && Write(buffer, count) == count;
    }
    // Copies count bytes from the source's position (count 0: the whole source from its
    // beginning). Returns the bytes copied, -1 on a read or write failure.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    bool SetSize(std::int64_t size) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(Data_.size()); }

    void Clear() {
        Data_.clear();
        Pos_ = 0;
    }
    std::uint8_t* Memory() { return Data_.data(); }
    const std::uint8_t* Memory() const { return Data_.data(); }
    // Whole file in (size := the file's size, position 0) / out. False when the file cannot be
    // read or written; on a failed load the stream is unchanged.
    bool LoadFromFile(const std::string& fileName);
    bool SaveToFile(const std::string& fileName) const;
    bool LoadFromStream(TStream& source);

private:
    std::vector<std::uint8_t> Data_;
    std::int64_t Pos_ = 0;
};

}  // namespace zarbel
