// Reading compiled resources field by field: little-endian words, NUL-terminated UTF-16 text,
// never past the end of the data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

class ResourceReader {
  public:
    explicit ResourceReader(std::span<const unsigned char> data) : data_(data) {}

    bool Word(WORD& value) {
        if (data_.size() - pos_ < 2)
            return false;
        value = static_cast<WORD>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool Short(short& value) {
        WORD word = 0;
        if (!Word(word))
            return false;
        value = static_cast<short>(word);
        return true;
    }
    bool Dword(DWORD& value) {
        WORD low = 0;
        WORD high = 0;
        if (!Word(low) || !Word(high))
            return false;
        value = static_cast<DWORD>(low) | static_cast<DWORD>(high) << 16;
        return true;
    }
    bool Byte(BYTE& value) {
        if (data_.size() - pos_ < 1)
            return false;
        value = data_[pos_++];
        return true;
    }
    bool Text(std::u16string& value) {
        value.clear();
        for (WORD c = 0;;) {
            if (!Word(c))
                return false;
            if (c == 0)
                return true;
            value.push_back(static_cast<char16_t>(c));
        }
    }
    bool Skip(std::size_t bytes) {
        if (bytes > data_.size() - pos_)
            return false;
        pos_ += bytes;
        return true;
    }
    bool Bytes(std::size_t count, std::vector<unsigned char>& value) {
        if (data_.size() - pos_ < count)
            return false;
        value.assign(data_.begin() + pos_, data_.begin() + pos_ + count);
        pos_ += count;
        return true;
    }
    // Items of dialog templates start on a DWORD boundary of the template.
    bool AlignToDword() {
        std::size_t aligned = (pos_ + 3) & ~std::size_t{3};
        if (aligned > data_.size())
            return false;
        pos_ = aligned;
        return true;
    }

  private:
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
};
