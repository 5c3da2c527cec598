// A 1-bit picture: index 0 is white, index 1 is black. Rows are packed into
// 64-bit words, leftmost pixel in the most significant bit, so compositing can
// work 64 pixels at a time. Copies are deep: a later change to one bitmap never
// shows in another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quellora {

class Bitmap1 {
public:
    Bitmap1() = default;
    Bitmap1(int width, int height) { Resize(width, height); }

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    int WordsPerRow() const { return words_; }

    // Resizes and clears every pixel to white (index 0).
    void Resize(int width, int height);
    void Clear() { Resize(0, 0); }
    void Fill(bool black);

    bool Get(int x, int y) const {
        return (row(y)[x >> 6] >> (63 - (x & 63))) & 1u;
    }
    void Set(int x, int y, bool black) {
        uint64_t bit = uint64_t{1} << (63 - (x & 63));
        uint64_t& w = row(y)[x >> 6];
        w = black ? (w | bit) : (w & ~bit);
    }

    uint64_t* Row(int y) { return row(y); }
    const uint64_t* Row(int y) const { return row(y); }

    // Number of black pixels.
    long long CountBlack() const;

    bool operator==(const Bitmap1& o) const {
        return width_ == o.width_ && height_ == o.height_ && bits_ == o.bits_;
    }

private:
    uint64_t* row(int y) { return bits_.data() + static_cast<size_t>(y) * words_; }
    const uint64_t* row(int y) const { return bits_.data() + static_cast<size_t>(y) * words_; }

    int width_ = 0;
    int height_ = 0;
    int words_ = 0;
    std::vector<uint64_t> bits_;  // padding bits past the width stay 0
};

// An 8-bit palette picture whose palette entries are grey levels.
struct GreyPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> levels;   // palette: grey level of each index
    std::vector<uint8_t> indices;  // width * height palette indices, top row first

    bool Empty() const { return width == 0 || height == 0; }
    uint8_t At(int x, int y) const { return indices[static_cast<size_t>(y) * width + x]; }
    uint8_t LevelAt(int x, int y) const { return levels[At(x, y)]; }
    bool operator==(const GreyPicture&) const = default;
};

}  // namespace quellora
