#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// Reads text lines from a file descriptor through its own buffer. A line is what comes before the
// next newline, at most kMaxLineLength characters of it: a longer line is handed out in pieces of
// that length. The state flags follow an input stream's: eof once the input has ended, fail when a
// read found nothing at all, bad on a read error.
//
// A descriptor that has no input yet (a non-blocking one included) is waited for. Once the run is
// asked to end (KivInterrupt), the input ends at the last whole line read: the lines already read
// are handed out, a line still without its newline is not.
class KivLineReader {
 public:
  static constexpr std::size_t kMaxLineLength = 4095;

  // `beforeWait` runs before every read from the descriptor, which may block.
  explicit KivLineReader(int fd, std::function<void()> beforeWait = {});

  // The next line, without its newline and cut at its first zero byte; `cut` tells that the line
  // went on beyond kMaxLineLength characters. False when no character could be read.
  bool readLine(std::string_view& line, bool& cut);

  // Bytes read from the descriptor so far.
  uint64_t bytesRead() const { return bytesRead_; }

  bool good() const { return !eof_ && !fail_ && !bad_; }
  bool bad() const { return bad_; }
  bool eof() const { return eof_; }
  bool fail() const { return fail_ || bad_; }
  // The errno of the read error that ended the input, 0 when none did.
  int error() const { return error_; }
  // Whether the input ended because the run was asked to end.
  bool stopped() const { return stopped_; }

 private:
  // Moves the unread bytes to the front and reads more; false at end of input or on an error.
  bool refill();
  bool deliver(std::size_t length, std::size_t consumed, std::string_view& line);
  // Offset of the first zero byte at or after `from` in the buffered input, or end_ when none.
  std::size_t findNul(std::size_t from) const;

  int fd_;
  std::function<void()> beforeWait_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // The first zero byte at or after begin_, or end_ when the buffered input holds none: lines are
  // cut there, and most input has none, so lines need no search of their own.
  std::size_t nul_ = 0;
  uint64_t bytesRead_ = 0;
  bool eof_ = false;
  bool fail_ = false;
  bool bad_ = false;
  bool stopped_ = false;
  int error_ = 0;
};
