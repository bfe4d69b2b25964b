// Little-endian integers in and out of byte strings: a reader that never
// reads past its end and a writer that appends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cecab {

// Reads at positions given by the caller; every read says whether it fitted.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t size() const { return size_; }
    // Whether [offset, offset + length) lies inside the data.
    bool fits(uint64_t offset, uint64_t length) const
    {
        return offset <= size_ && length <= size_ - offset;
    }
    bool u16(uint64_t offset, uint16_t* value) const
    {
        if (!fits(offset, 2))
            return false;
        *value = static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
        return true;
    }
    bool u32(uint64_t offset, uint32_t* value) const
    {
        if (!fits(offset, 4))
            return false;
        *value = 0;
        for (int i = 3; i >= 0; --i)
            *value = *value << 8 | data_[offset + i];
        return true;
    }
    bool bytes(uint64_t offset, uint64_t length, std::string* out) const
    {
        if (!fits(offset, length))
            return false;
        out->assign(reinterpret_cast<const char*>(data_) + offset, length);
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

inline void putU16(std::string* out, uint16_t value)
{
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>(value >> 8));
}

inline void putU32(std::string* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

// Overwrites a value already appended (for offsets known only later).
inline void setU16(std::string* out, size_t at, uint16_t value)
{
    (*out)[at] = static_cast<char>(value & 0xFF);
    (*out)[at + 1] = static_cast<char>(value >> 8);
}

inline void setU32(std::string* out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        (*out)[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

}  // namespace cecab
