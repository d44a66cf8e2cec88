// A vector of plain values whose first N lie inside the object that holds it;
// more move to the heap. For data read on every call of an object that is
// itself read on every call: the values then share its cache lines instead of
// lying in a block of their own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

namespace vrz {

template <class T, size_t N>
class InlineVector {
  static_assert(std::is_trivially_copyable<T>::value, "values are copied as they are");
  static_assert(N > 0, "room for at least one value inside");

 public:
  InlineVector() = default;
  InlineVector(const InlineVector&) = delete;
  InlineVector& operator=(const InlineVector&) = delete;

  size_t size() const { return size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

  // New values are value-initialised. Throws std::bad_alloc, changing nothing.
  void resize(size_t n) {
    reserve(n);
    std::fill(data_ + size_, data_ + std::max<size_t>(n, size_), T());
    size_ = static_cast<uint32_t>(n);
  }
  // Keeps the room it has.
  void clear() { size_ = 0; }
  // Before position, which must lie in [begin(), end()]. Throws std::bad_alloc,
  // changing nothing.
  void insert(const T* position, const T& value) {
    const size_t at = static_cast<size_t>(position - data_);
    const T copy = value;  // value may lie in this vector
    reserve(size_ + 1);
    std::copy_backward(data_ + at, data_ + size_, data_ + size_ + 1);
    data_[at] = copy;
    ++size_;
  }

 private:
  void reserve(size_t n) {
    if (n <= capacity_) return;
    if (n > UINT32_MAX) throw std::bad_alloc();
    const size_t capacity = std::max<size_t>(n, std::min<size_t>(2 * size_t{capacity_}, UINT32_MAX));
    std::unique_ptr<T[]> bigger(new T[capacity]);
    std::copy(data_, data_ + size_, bigger.get());
    heap_ = std::move(bigger);
    data_ = heap_.get();
    capacity_ = static_cast<uint32_t>(capacity);
  }

  // Counts of 32 bits keep the first value on the header's cache line.
  T* data_ = inside_;
  uint32_t size_ = 0;
  uint32_t capacity_ = N;
  T inside_[N] = {};
  std::unique_ptr<T[]> heap_;  // data_ when the values outgrew inside_
};

}  // namespace vrz
