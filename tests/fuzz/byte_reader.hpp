// Fuzz bytes read front to back by the input generators.
#pragma once

#include <cstddef>
#include <cstdint>

// Past the end every read gives 0, so any prefix of an input is an input too (libFuzzer's
// shrinking relies on that).
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t word()
    {
        const std::uint16_t high = byte();
        return static_cast<std::uint16_t>(high << 8 | byte());
    }
    // lo..hi in 256 steps.
    double between(double lo, double hi) { return lo + (hi - lo) * byte() / 255.0; }
    int index(int count) { return byte() % count; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};
