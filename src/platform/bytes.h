// Packed little-endian records: bounds-checked reading and writing of byte spans.
//
// Every file and wire structure in the system is byte-packed and little-endian.
// ByteReader never reads past the end of its span: a read that would fails,
// returns zero and leaves the reader failed, so a parser can check once at the end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tessaro {

static_assert(std::endian::native == std::endian::little,
              "packed records are read by memcpy: a big-endian host needs byte swapping here");

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

// Reads a little-endian value at p (p must have sizeof(T) bytes).
template <class T>
inline T LoadLE(const void* p) {
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
inline void StoreLE(void* p, T v) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(p, &v, sizeof v);
}

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(ByteSpan data) : data_(data) {}
    ByteReader(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data), size) {}

    bool ok() const { return ok_; }
    size_t pos() const { return pos_; }
    size_t size() const { return data_.size(); }
    size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    bool atEnd() const { return remaining() == 0; }

    // True when n more bytes can be read; never fails the reader.
    bool has(size_t n) const { return ok_ && n <= data_.size() - pos_; }

    template <class T>
    T get() {
        T v{};
        if (!has(sizeof(T))) {
            ok_ = false;
            return v;
        }
        std::memcpy(&v, data_.data() + pos_, sizeof v);
        pos_ += sizeof v;
        return v;
    }

    // Reads into a trivially copyable record (a packed struct).
    template <class T>
    bool read(T& out) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!has(sizeof(T))) {
            ok_ = false;
            return false;
        }
        std::memcpy(&out, data_.data() + pos_, sizeof out);
        pos_ += sizeof out;
        return true;
    }

    // A view of the next n bytes; an empty span and a failed reader when short.
    ByteSpan bytes(size_t n) {
        if (!has(n)) {
            ok_ = false;
            return {};
        }
        ByteSpan s = data_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

    // A fixed text field of `width` bytes: the text up to the first NUL or the
    // field's end when the field holds no NUL.
    std::string fixedText(size_t width) {
        ByteSpan s = bytes(width);
        size_t n = 0;
        while (n < s.size() && s[n] != 0) ++n;
        return std::string(reinterpret_cast<const char*>(s.data()), n);
    }

    bool skip(size_t n) {
        if (!has(n)) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }

    bool seek(size_t pos) {
        if (!ok_ || pos > data_.size()) {
            ok_ = false;
            return false;
        }
        pos_ = pos;
        return true;
    }

    void fail() { ok_ = false; }

private:
    ByteSpan data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Appends packed little-endian values to a growing buffer.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(size_t reserve) { out_.reserve(reserve); }

    template <class T>
    ByteWriter& put(T v) {
        static_assert(std::is_trivially_copyable_v<T>);
        size_t at = out_.size();
        out_.resize(at + sizeof v);
        std::memcpy(out_.data() + at, &v, sizeof v);
        return *this;
    }

    template <class T>
    ByteWriter& write(const T& record) {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* p = reinterpret_cast<const uint8_t*>(&record);
        out_.insert(out_.end(), p, p + sizeof record);
        return *this;
    }

    ByteWriter& bytes(ByteSpan s) {
        out_.insert(out_.end(), s.begin(), s.end());
        return *this;
    }

    ByteWriter& bytes(std::string_view s) {
        out_.insert(out_.end(), s.begin(), s.end());
        return *this;
    }

    ByteWriter& zeros(size_t n) {
        out_.resize(out_.size() + n, 0);
        return *this;
    }

    // A fixed text field: the text cut to width - 1 bytes at a character
    // boundary, NUL-padded to width.
    ByteWriter& fixedText(std::string_view text, size_t width);

    // Overwrites a value already written at offset `at`.
    template <class T>
    void patch(size_t at, T v) {
        if (at + sizeof v <= out_.size()) std::memcpy(out_.data() + at, &v, sizeof v);
    }

    size_t size() const { return out_.size(); }
    const Bytes& data() const { return out_; }
    Bytes take() { return std::move(out_); }

private:
    Bytes out_;
};

}  // namespace tessaro
