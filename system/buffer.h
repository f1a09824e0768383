// A zero-filled array owned by one holder, on the zeroed blocks of memory.h:
// the working arrays and the pass's buffers.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

#include "system/memory.h"

// Released explicitly as soon as the last step that reads it is done, or when
// the holder goes away.
template <typename T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept : data_(std::exchange(other.data_, nullptr)),
                                    count_(std::exchange(other.count_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::exchange(other.data_, nullptr);
      count_ = std::exchange(other.count_, 0);
    }
    return *this;
  }
  ~Buffer() { Release(); }

  // Allocates `count` zeroed elements; false (and empty) when memory is
  // refused or `count` is negative. Zero elements hold no memory.
  bool Allocate(std::int64_t count) {
    Release();
    if (count < 0) return false;
    if (count == 0) return true;
    constexpr std::int64_t kMaxCount = std::numeric_limits<std::int64_t>::max() / static_cast<std::int64_t>(sizeof(T));
    if (count > kMaxCount) return false;
    void* memory = AllocateZeroedBlock(count * static_cast<std::int64_t>(sizeof(T)));
    if (memory == nullptr) return false;
    data_ = static_cast<T*>(memory);
    count_ = count;
    return true;
  }

  void Release() {
    ReleaseZeroedBlock(data_, count_ * static_cast<std::int64_t>(sizeof(T)));
    data_ = nullptr;
    count_ = 0;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::int64_t size() const { return count_; }
  T& operator[](std::int64_t i) { return data_[i]; }
  const T& operator[](std::int64_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
  std::int64_t count_ = 0;
};
