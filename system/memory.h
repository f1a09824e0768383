// Large zero-filled blocks of memory straight from the system, how much
// memory the system can give, and the array that owns such a block.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

// Blocks from this size on come from the system's page allocator; smaller
// ones from the C heap.
constexpr std::int64_t kPageBlockThresholdBytes = std::int64_t{1} << 20;

// `bytes` zero-filled bytes, or nullptr when the system refuses them (or
// `bytes` is not positive, or larger than the address space). Large blocks
// are fresh pages, zero already, committed as they are first touched.
void* AllocateZeroedBlock(std::int64_t bytes);

// Gives a block back; `bytes` is the size it was allocated with. Null is
// ignored.
void ReleaseZeroedBlock(void* block, std::int64_t bytes);

// Bytes the system reports it can give without swapping, or -1 when it does
// not tell.
std::int64_t AvailableMemoryBytes();

// True when the system reports `bytes` available (or cannot say). Linux hands
// out more address space than it can back and ends the process when the
// pages are touched, so a job asks this before it allocates.
inline bool MemoryIsAvailable(std::int64_t bytes) {
  if (bytes < 0 || bytes == std::numeric_limits<std::int64_t>::max()) return false;
  const std::int64_t available = AvailableMemoryBytes();
  return available < 0 || bytes <= available;
}

// A zero-filled array owned by one holder, on the zeroed blocks above: the
// pass's buffers and the reference's working arrays.
// Released explicitly as soon as the last step that reads it is done, or when
// the holder goes away.
template <typename T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
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
    constexpr std::int64_t kMaxCount =
        std::numeric_limits<std::int64_t>::max() / static_cast<std::int64_t>(sizeof(T));
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
