// Decoder for raw deflate streams (RFC 1951), the compression of ZIP entries.
// It streams: input is pulled in pieces and output is pushed in pieces, so
// memory use stays fixed whatever the size of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Fills up to `capacity` bytes of `buffer` and gives how many it wrote;
// 0 means the input has ended.
using InflateInput = std::function<std::size_t(std::uint8_t* buffer, std::size_t capacity)>;
// Takes the next piece of decoded data; false stops the decoding.
using InflateOutput = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// Decodes one deflate stream up to and including its final block. Bytes of
// the input after the final block are left unread or ignored. False with a
// reason in `error` for malformed or truncated data, or when `output`
// returned false ("output refused").
bool Inflate(const InflateInput& input, const InflateOutput& output, std::string& error);

// The memory a decoding works in (about 200 KiB), for decoding many small
// streams without allocating it for each. One decoding at a time.
class InflateWorkspace {
 public:
  InflateWorkspace();
  ~InflateWorkspace();
  InflateWorkspace(const InflateWorkspace&) = delete;
  InflateWorkspace& operator=(const InflateWorkspace&) = delete;

  struct Buffers;
  Buffers& buffers() { return *buffers_; }

 private:
  std::unique_ptr<Buffers> buffers_;
};

// The same, working in `workspace`.
bool Inflate(const InflateInput& input, const InflateOutput& output, std::string& error, InflateWorkspace& workspace);
