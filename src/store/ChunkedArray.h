#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

// An array that grows by whole chunks of 2^kShift elements and never moves what it holds, so a
// long recording's summaries are never copied (all channels would copy theirs in the same
// batch), while a walk over them stays on contiguous memory. A deque's 512-byte pieces lie
// scattered over the heap: a summing walk then waits on a cache and TLB miss every few nodes,
// which cost the compare chart most of its replot. A chunk is reserved, not touched: only the
// pages written count as resident memory.
template <typename T, int kShift = 14>
class ChunkedArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
  static constexpr size_t kChunk = size_t(1) << kShift;

  ChunkedArray() = default;
  ChunkedArray(ChunkedArray &&) noexcept = default;
  ChunkedArray &operator=(ChunkedArray &&) noexcept = default;

  [[nodiscard]] size_t size() const { return m_size; }
  [[nodiscard]] bool empty() const { return m_size == 0; }
  [[nodiscard]] const T &operator[](size_t i) const { return m_chunks[i >> kShift][i & (kChunk - 1)]; }
  [[nodiscard]] T &operator[](size_t i) { return m_chunks[i >> kShift][i & (kChunk - 1)]; }
  [[nodiscard]] const T &front() const { return (*this)[0]; }
  [[nodiscard]] const T &back() const { return (*this)[m_size - 1]; }

  void push_back(const T &v) {
    if ((m_size >> kShift) == m_chunks.size()) {
      void *raw = std::malloc(kChunk * sizeof(T));
      if (!raw)
        throw std::bad_alloc();
      m_chunks.emplace_back(static_cast<T *>(raw));
    }
    ::new (&(*this)[m_size]) T(v);
    ++m_size;
  }
  void clear() {
    m_chunks.clear();
    m_size = 0;
  }
  // Bytes written so far (what is resident), for the memory figures.
  [[nodiscard]] size_t bytesUsed() const {
    return m_size * sizeof(T) + m_chunks.capacity() * sizeof(void *);
  }

private:
  struct Free {
    void operator()(T *p) const { std::free(p); }
  };
  std::vector<std::unique_ptr<T[], Free>> m_chunks;
  size_t m_size = 0;
};
