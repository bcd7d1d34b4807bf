// A stream buffer that hands its bytes to one platform write call in large
// pieces and keeps the first error, which std::ostream would reduce to a bad
// bit: a writer that must say "No space left on device" needs the code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>

namespace quorvex {

class WriteBuffer : public std::streambuf {
 public:
  WriteBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }
  // The platform's code of the first failed write; 0 while none failed.
  std::uint32_t Error() const { return error_; }

 protected:
  // Writes some of the bytes and returns how many; 0 with `error` set when
  // the write failed, 0 with it left 0 when the call should be made again.
  virtual std::size_t WriteSome(const char* data, std::size_t size, std::uint32_t& error) = 0;

  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    for (const char* at = pbase(); error_ == 0 && at < pptr();) {
      at += WriteSome(at, static_cast<std::size_t>(pptr() - at), error_);
    }
    if (error_ != 0) return false;
    setp(buffer_, buffer_ + sizeof buffer_);
    return true;
  }

  std::uint32_t error_ = 0;
  char buffer_[64 * 1024];
};

}  // namespace quorvex
