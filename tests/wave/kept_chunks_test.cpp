#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/wave/wave_test_support.h"
#include "wave/kept_chunks.h"

namespace {

// A RIFF file of one bext chunk of `size` bytes, its history all 'b' (no
// NUL to drop): served without being held, whatever its size.
struct LongBext {
  std::uint32_t size;
};

bool ReadLongBext(void* context, std::int64_t offset, std::uint8_t* into, std::int64_t count) {
  wavetest::Bytes head =
      wavefiles::WaveFile<wavetest::Bytes>("RIFF", {wavefiles::Chunk<wavetest::Bytes>("bext", {})});
  wavetest::PutLe(head, 16, static_cast<const LongBext*>(context)->size, 4);
  for (std::int64_t i = 0; i < count; ++i) {
    const auto at = static_cast<std::size_t>(offset + i);
    into[i] = at < head.size() ? head[at] : 'b';
  }
  return true;
}

// The coding-history line is added while the chunk's size still fits in its
// 32-bit field, and left out beyond: no size field may say less than the
// bytes that follow it.
TEST(CountKeptChunks, BextNear4GiBGetsTheLineOnlyWhileItsSizeFits) {
  const std::string line = CodingHistoryLine(wavetest::Format(2, 192000), 'E');
  const std::int64_t most = 0xFFFFFFFF;
  const std::int64_t withLine =
      most - 2 - static_cast<std::int64_t>(line.size());  // CR LF, then the line
  for (const std::int64_t size : {withLine, withLine + 1, most - 1}) {
    LongBext bext{static_cast<std::uint32_t>(size)};
    const WaveSource source{ReadLongBext, &bext, 20 + size + size % 2};
    std::int64_t bytes = 0;
    ASSERT_TRUE(CountKeptChunks(source, line, bytes));
    const std::int64_t body = size == withLine ? most : size;
    EXPECT_EQ(bytes, 8 + body + body % 2) << size;
  }
}

}  // namespace
