// PodArray: a growable array of trivially copyable values that grows with
// realloc. Large arrays then grow by remapping their pages instead of copying
// them into fresh memory, which matters for the millions of values a big
// message decodes to.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace quorvel {

template <class T>
requires std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>
class PodArray {
 public:
  PodArray() = default;
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;
  PodArray(PodArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  PodArray& operator=(PodArray&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~PodArray() { std::free(data_); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }

  void push_back(const T& value) {
    if (size_ == capacity_) {
      grow(size_ + 1);
    }
    new (data_ + size_) T(value);
    ++size_;
  }

  // Appends room for `count` values, which the caller must all assign before
  // reading them; returns the first.
  T* append_uninitialized(std::size_t count) {
    if (capacity_ - size_ < count) {
      grow(size_ + count);
    }
    T* first = data_ + size_;
    size_ += count;
    return first;
  }

  // Appends `count` copies of `value`; returns the first of them.
  T* append(std::size_t count, const T& value) {
    if (capacity_ - size_ < count) {
      grow(size_ + count);
    }
    T* first = data_ + size_;
    std::uninitialized_fill_n(first, count, value);
    size_ += count;
    return first;
  }

 private:
  void grow(std::size_t needed) {
    const std::size_t capacity = std::max({needed, capacity_ + capacity_ / 2, std::size_t{64}});
    if (capacity > SIZE_MAX / sizeof(T)) {
      throw std::bad_alloc();
    }
    void* moved = std::realloc(static_cast<void*>(data_), capacity * sizeof(T));
    if (moved == nullptr) {
      throw std::bad_alloc();
    }
    data_ = static_cast<T*>(moved);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quorvel
