// The line reader must hand out the same lines, cut flags and final state however its input
// arrives: the same bytes are read once in one piece from a file, once through a pipe in chunks
// whose sizes come from the input (single bytes, odd sizes, chunks ending on either side of the
// 4095-character cut), and once compressed (gzip, zstd or xz, chosen by the input) and
// decompressed as they are read. All are also checked against the plain definition of a line. A
// read in chunks may also be asked to end after some chunks, as a signal asks: then only the
// whole lines of what was read come out. The chunks are also read in runs of lines, as the
// parallel decoder reads them (readSpan(), taken apart by splitLines()): the same lines, state
// and reads, before the same lines, must come out.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KivFuzzSupport.h"
#include "input/KivInputSource.h"
#include "processor/KivLineReader.h"
#include "support/KivCompress.h"
#include "support/KivInterrupt.h"

namespace {

// Enough for a few cuts; one read of the reader's buffer takes it whole.
constexpr std::size_t kMaxInput = 20000;
// Past this many reads the rest of the input comes in the largest chunks, so that single bytes
// cannot make one run cost tens of thousands of system calls.
constexpr std::size_t kMaxSmallReads = 2048;
constexpr std::size_t kLargestChunk = 8191;
constexpr uint8_t kRun = 0xFF;  // kRun, count, byte: the byte repeated 64 * count times
constexpr std::size_t kRunUnit = 64;

struct Piece {
  std::string text;
  bool cut = false;
  bool operator==(const Piece&) const = default;
};

struct Result {
  std::vector<Piece> pieces;
  bool good = false;
  bool bad = false;
  bool eof = false;
  bool fail = false;
  bool operator==(const Result&) const = default;
};

// Reads lines as the input loop does: while the reader is good and a line comes; with `spans`,
// in runs of lines. `reads` counts the reads; `readBefore` gets, per line, whether the input was
// read since the line before.
Result readAll(KivLineReader& reader, bool spans = false, const std::size_t* reads = nullptr,
               std::vector<bool>* readBefore = nullptr) {
  Result result;
  std::size_t seen = 0;
  auto add = [&](std::string_view line, bool cut) {
    result.pieces.push_back({std::string(line), cut});
    if (readBefore != nullptr) {
      readBefore->push_back(*reads != seen);
      seen = *reads;
    }
  };
  std::string_view line;
  bool cut = false;
  while (reader.good() && (spans ? reader.readSpan(line, cut) : reader.readLine(line, cut))) {
    if (!spans) {
      add(line, cut);
      continue;
    }
    KivLineReader::splitLines(line, cut, [&](std::size_t offset, std::size_t length, bool isCut) {
      add(line.substr(offset, length), isCut);
    });
  }
  result.good = reader.good();
  result.bad = reader.bad();
  result.eof = reader.eof();
  result.fail = reader.fail();
  return result;
}

Result readAtOnce(const std::string& input) {
  const int fd = kivMemoryFile(input);
  if (fd < 0) {
    kivFuzzFail("no memory file");
  }
  KivLineReader reader(fd);
  Result result = readAll(reader);
  ::close(fd);
  return result;
}

Result readCompressed(const std::string& input, KivCompression format) {
  const int fd = kivMemoryFile(kivCompress(format, input));
  if (fd < 0) {
    kivFuzzFail("no memory file");
  }
  Result result;
  {
    KivLineReader reader(KivInputSource::open(fd, "", false));
    result = readAll(reader);
  }
  ::close(fd);
  return result;
}

// Each read finds exactly the next chunk: the hook that runs before a read writes it into an
// empty pipe, and closes the pipe once everything is written. With `stopAfter` chunks (0: never)
// the hook asks the run to end instead of writing more, and `stoppedAt` tells how much was sent.
Result readInChunks(const std::string& input, const std::vector<std::size_t>& sizes,
                    std::size_t stopAfter, std::optional<std::size_t>& stoppedAt,
                    bool spans = false, std::vector<bool>* readBefore = nullptr) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    kivFuzzFail("no pipe");
  }
  ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 17);
  std::size_t sent = 0;
  std::size_t next = 0;
  std::size_t reads = 0;
  KivLineReader reader(fds[0], [&] {
    ++reads;
    if (stopAfter != 0 && next == stopAfter) {
      KivInterrupt::request(0);
      stoppedAt = sent;
      return;
    }
    if (sent >= input.size()) {
      if (fds[1] >= 0) {
        ::close(fds[1]);
        fds[1] = -1;
      }
      return;
    }
    const std::size_t chunk = next < kMaxSmallReads ? sizes[next % sizes.size()] : kLargestChunk;
    ++next;
    const std::size_t n = std::min(chunk, input.size() - sent);
    if (::write(fds[1], input.data() + sent, n) != static_cast<ssize_t>(n)) {
      kivFuzzFail("short write into the pipe");
    }
    sent += n;
  });
  Result result = readAll(reader, spans, &reads, readBefore);
  KivInterrupt::reset();
  ::close(fds[0]);
  if (fds[1] >= 0) {
    ::close(fds[1]);
  }
  return result;
}

// A line is what comes before a newline, handed out in pieces of 4095 characters, each cut at its
// first zero byte; a newline right after a full piece still ends that line.
Result expectedFor(std::string_view input) {
  Result result;
  std::size_t at = 0;
  while (at < input.size()) {
    const std::size_t newline = std::min(input.find('\n', at), input.size());
    std::size_t length = newline - at;
    while (length > KivLineReader::kMaxLineLength) {
      const std::string_view piece = input.substr(at, KivLineReader::kMaxLineLength);
      result.pieces.push_back({std::string(piece.substr(0, piece.find('\0'))), true});
      at += KivLineReader::kMaxLineLength;
      length -= KivLineReader::kMaxLineLength;
    }
    const std::string_view piece = input.substr(at, length);
    result.pieces.push_back({std::string(piece.substr(0, piece.find('\0'))), false});
    at = newline + 1;
  }
  // Input that ends with a newline, or no input, ends in a read that finds nothing at all.
  result.eof = true;
  result.fail = input.empty() || input.back() == '\n';
  return result;
}

// The run was asked to end once `input` had been read: a last line without its newline is not
// handed out (its pieces of 4095 characters before it are), and the last read finds nothing.
Result expectedWhenStopped(std::string_view input) {
  Result result = expectedFor(input);
  if (!input.empty() && input.back() != '\n') {
    result.pieces.pop_back();
  }
  result.fail = true;
  return result;
}

}  // namespace

// Byte 0: the number of chunk sizes, each two bytes (low four bits), and the number of chunks
// after which the run is asked to end (high four bits; 0: never), which modulo 3 also picks the
// compression format; then the input, in which kRun starts a run.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t stopAfter = data[0] >> 4;
  const std::size_t sizeCount = std::min<std::size_t>(data[0] % 16, (size - 1) / 2);
  std::vector<std::size_t> sizes;
  for (std::size_t i = 0; i < sizeCount; ++i) {
    const std::size_t chunk = data[1 + 2 * i] | (data[2 + 2 * i] & 0x1F) << 8;
    sizes.push_back(std::max<std::size_t>(chunk, 1));
  }
  if (sizes.empty()) {
    sizes.push_back(1);
  }
  std::string input;
  for (std::size_t i = 1 + 2 * sizeCount; i < size && input.size() < kMaxInput; ++i) {
    if (data[i] == kRun && i + 2 < size) {
      input.append(std::min(kRunUnit * data[i + 1], kMaxInput - input.size()),
                   static_cast<char>(data[i + 2]));
      i += 2;
    } else {
      input += static_cast<char>(data[i]);
    }
  }

  const Result atOnce = readAtOnce(input);
  if (!(atOnce == expectedFor(input))) {
    kivFuzzFail("lines read at once differ from the input's lines");
  }
  std::optional<std::size_t> stoppedAt;
  std::vector<bool> linesReadBefore;
  const Result inChunks = readInChunks(input, sizes, stopAfter, stoppedAt, false, &linesReadBefore);
  if (stoppedAt) {
    if (!(inChunks == expectedWhenStopped(std::string_view(input).substr(0, *stoppedAt)))) {
      kivFuzzFail("lines read before the end was asked for differ from the whole lines sent");
    }
  } else if (!(inChunks == atOnce)) {
    kivFuzzFail("lines read in chunks differ from lines read at once");
  }
  std::vector<bool> spansReadBefore;
  std::optional<std::size_t> ignored;
  if (!(readInChunks(input, sizes, stopAfter, ignored, true, &spansReadBefore) == inChunks) ||
      spansReadBefore != linesReadBefore) {
    kivFuzzFail("lines read in runs differ from lines read one by one");
  }
  if (!(readCompressed(input, static_cast<KivCompression>(data[0] / 16 % 3)) == atOnce)) {
    kivFuzzFail("lines read compressed differ from lines read at once");
  }
  return 0;
}
