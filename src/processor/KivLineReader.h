#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class KivByteSource;

// Reads text lines from a byte source (a descriptor, a followed file, a decompressed capture)
// through its own buffer. A line is what comes before the next newline, at most kMaxLineLength
// characters of it: a longer line is handed out in pieces of that length. The state flags follow
// an input stream's: eof once the input has ended, fail when a read found nothing at all, bad on
// a read error.
//
// Input that has not arrived yet is waited for (by the source). Once the run is asked to end
// (KivInterrupt), the input ends at the last whole line read: the lines already read are handed
// out, a line still without its newline is not.
class KivLineReader {
 public:
  static constexpr std::size_t kMaxLineLength = 4095;

  // `beforeWait` runs before every read from the source, which may wait.
  explicit KivLineReader(std::unique_ptr<KivByteSource> source,
                         std::function<void()> beforeWait = {});
  // Reads the descriptor as it is (KivFdSource).
  explicit KivLineReader(int fd, std::function<void()> beforeWait = {});
  ~KivLineReader();

  // The next line, without its newline and cut at its first zero byte; `cut` tells that the line
  // went on beyond kMaxLineLength characters. False when no character could be read.
  bool readLine(std::string_view& line, bool& cut);

  // The lines readLine() would hand out until it next reads, all at once, with their newlines:
  // a run of whole lines (and of a long line's pieces) that splitLines() takes apart; at the end
  // of the input, the last line without its newline. `cut` tells that the run ends within a
  // line, after a piece of kMaxLineLength characters. `beforeWait` runs where it would for
  // readLine(). False when no character could be read.
  // With `buffer`, the span stays valid as long as *buffer is kept (the reader reads on into
  // another buffer); without, until the next call.
  bool readSpan(std::string_view& span, bool& cut, std::shared_ptr<const char[]>* buffer = nullptr);

  // Calls onLine(offset, length, cut) for each line of `span`, runs readSpan() handed out one
  // after the other, as readLine() would have handed the line out: cut at its first zero byte,
  // `cut` telling that it went on beyond kMaxLineLength characters. `endsCut`: the last run's.
  template <typename OnLine>
  static void splitLines(std::string_view span, bool endsCut, OnLine&& onLine);

  // Where the line at `start` ends, with `available` bytes there of which the first `scanned`
  // hold no newline: a newline within kMaxLineLength + 1 characters ends it; without one, more
  // than kMaxLineLength characters give a piece of that many (cut). `taken`, the bytes it takes
  // with its newline, is 0 when neither holds: only more input, or its end, can tell.
  struct LineEnd {
    std::size_t length = 0;
    std::size_t taken = 0;
    bool cut = false;
  };
  static LineEnd lineEnd(const char* start, std::size_t available, std::size_t scanned = 0) {
    const std::size_t window = std::min(available, kMaxLineLength + 1);
    if (const void* newline = std::memchr(start + scanned, '\n', window - scanned)) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
      return {length, length + 1, false};
    }
    if (available > kMaxLineLength) {
      return {kMaxLineLength, kMaxLineLength, true};
    }
    return {};
  }

  // Bytes the source took from its file or descriptor so far (compressed bytes, for a
  // compressed capture).
  uint64_t bytesRead() const;

  bool good() const { return !eof_ && !fail_ && !bad_; }
  bool bad() const { return bad_; }
  bool eof() const { return eof_; }
  bool fail() const { return fail_ || bad_; }
  // Why the input could not be read further (a system error's text, or what is wrong with
  // compressed data); empty when the input ended without an error.
  const std::string& error() const { return error_; }
  // Whether the input ended because the run was asked to end.
  bool stopped() const { return stopped_; }

 private:
  // Moves the unread bytes to the front and reads more; false at end of input or on an error.
  bool refill();
  bool deliver(std::size_t length, std::size_t consumed, std::string_view& line);
  // Offset of the first zero byte at or after `from` in the buffered input, or end_ when none.
  std::size_t findNul(std::size_t from) const;

  std::unique_ptr<KivByteSource> source_;
  std::function<void()> beforeWait_;
  // Where input is read into, and buffers read into before: runs of lines handed out with their
  // buffer keep it from being read into again until they are done with it.
  std::shared_ptr<char[]> buffer_;
  std::vector<std::shared_ptr<char[]>> spare_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // The first zero byte at or after begin_, or end_ when the buffered input holds none: lines are
  // cut there, and most input has none, so lines need no search of their own.
  std::size_t nul_ = 0;
  bool eof_ = false;
  bool fail_ = false;
  bool bad_ = false;
  bool stopped_ = false;
  std::string error_;
};

template <typename OnLine>
void KivLineReader::splitLines(std::string_view span, bool endsCut, OnLine&& onLine) {
  if (span.empty()) {
    return;  // whose data() may be null, which memchr() must not get
  }
  const char* const data = span.data();
  const std::size_t size = span.size();
  auto nulFrom = [data, size](std::size_t from) {
    const void* nul = std::memchr(data + from, 0, size - from);
    return nul == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(nul) - data);
  };
  std::size_t nul = nulFrom(0);
  std::size_t begin = 0;
  while (begin < size) {
    const std::size_t available = size - begin;
    // What remains without a newline is the piece of a long line that the runs end with, or the
    // input's last line.
    LineEnd end = lineEnd(data + begin, available);
    if (end.taken == 0) {
      end = {available, available, endsCut};
    }
    onLine(begin, std::min(end.length, nul - begin), end.cut);
    begin += end.taken;
    if (nul < begin) {
      nul = nulFrom(begin);
    }
  }
}
