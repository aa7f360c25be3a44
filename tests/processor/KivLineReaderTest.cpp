#include "processor/KivLineReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct Piece {
  std::string text;
  bool cut = false;
  bool operator==(const Piece&) const = default;
};

void PrintTo(const Piece& piece, std::ostream* os) {
  *os << (piece.cut ? "cut " : "") << piece.text.size() << " chars \""
      << (piece.text.size() > 40 ? piece.text.substr(0, 40) + "..." : piece.text) << '"';
}

std::string stateOf(const KivLineReader& reader) {
  return "good() " + std::to_string(reader.good()) + " bad() " + std::to_string(reader.bad()) +
         " eof() " + std::to_string(reader.eof()) + " fail() " + std::to_string(reader.fail());
}

struct Result {
  std::vector<Piece> pieces;
  // With spans: the runs' bytes together, taken apart at once.
  std::vector<Piece> joined;
  std::string state;
  // Per piece, whether the input was read since the piece before it; and after the last.
  std::vector<bool> readBefore;
  bool readAtEnd = false;
};

// Reads lines as the input loop does: while the reader is good and a line comes; with `spans`,
// as the parallel decoder does, in runs taken apart by splitLines(). `reads` counts the reads.
Result readAll(KivLineReader& reader, const int& reads, bool spans = false) {
  Result result;
  int seen = 0;
  auto add = [&](std::string_view line, bool cut) {
    result.pieces.push_back({std::string(line), cut});
    result.readBefore.push_back(reads != seen);
    seen = reads;
  };
  std::string_view line;
  bool cut = false;
  std::string all;
  while (reader.good() && (spans ? reader.readSpan(line, cut) : reader.readLine(line, cut))) {
    if (!spans) {
      add(line, cut);
      continue;
    }
    KivLineReader::splitLines(line, cut, [&](std::size_t offset, std::size_t size, bool isCut) {
      add(line.substr(offset, size), isCut);
    });
    all += line;
  }
  KivLineReader::splitLines(all, cut, [&](std::size_t offset, std::size_t size, bool isCut) {
    result.joined.push_back({all.substr(offset, size), isCut});
  });
  result.state = stateOf(reader);
  result.readAtEnd = reads != seen;
  return result;
}

// A pipe whose reading end the reader gets; an empty pipe fails the read instead of blocking.
class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw std::runtime_error("pipe");
    }
  }
  ~Pipe() {
    ::close(fds_[0]);
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int readEnd() const { return fds_[0]; }
  // Short input only: the pipe's buffer must take it whole.
  void write(std::string_view data) {
    if (::write(fds_[1], data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
      throw std::runtime_error("pipe write");
    }
  }
  void closeWrite() {
    if (fds_[1] >= 0) {
      ::close(fds_[1]);
      fds_[1] = -1;
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

// Hands the input to the reader `chunk` bytes at a time, each chunk written by the hook that
// runs before a read, and closes the pipe once all is written: every read then finds exactly one
// chunk, as input from a slow producer would arrive.
Result readInChunks(const std::string& input, std::size_t chunk, bool spans = false) {
  Pipe pipe;
  std::size_t sent = 0;
  int reads = 0;
  KivLineReader reader(pipe.readEnd(), [&] {
    ++reads;
    if (sent < input.size()) {
      const std::size_t n = std::min(chunk, input.size() - sent);
      pipe.write(std::string_view(input).substr(sent, n));
      sent += n;
    } else {
      pipe.closeWrite();
    }
  });
  return readAll(reader, reads, spans);
}

const std::string kEmptyEnd = "good() 0 bad() 0 eof() 1 fail() 1";
const std::string kUnendedEnd = "good() 0 bad() 0 eof() 1 fail() 0";

std::string xs(std::size_t n) {
  return std::string(n, 'x');
}

struct Row {
  const char* what;
  std::string input;
  std::vector<Piece> pieces;
  std::string state;
};

std::vector<Row> rows() {
  return {
      {"two lines", "a\nb\n", {{"a"}, {"b"}}, kEmptyEnd},
      {"last line without newline", "a\nb", {{"a"}, {"b"}}, kUnendedEnd},
      {"empty input", "", {}, kEmptyEnd},
      {"empty lines", "\n\nz\n", {{""}, {""}, {"z"}}, kEmptyEnd},
      {"carriage return kept", "cr\r\n\r\n", {{"cr\r"}, {"\r"}}, kEmptyEnd},
      {"zero byte cuts the line", "ab\0cd\nef\n"s, {{"ab"}, {"ef"}}, kEmptyEnd},
      {"zero byte first", "\0x\n"s, {{""}}, kEmptyEnd},
      {"4095 characters and newline", xs(4095) + "\ny\n", {{xs(4095)}, {"y"}}, kEmptyEnd},
      {"4095 characters at the end", xs(4095), {{xs(4095)}}, kUnendedEnd},
      {"4096 characters", xs(4096) + "\ny\n", {{xs(4095), true}, {"x"}, {"y"}}, kEmptyEnd},
      {"4096 characters at the end", xs(4096), {{xs(4095), true}, {"x"}}, kUnendedEnd},
      {"8190 characters", xs(8190) + "\n", {{xs(4095), true}, {xs(4095)}}, kEmptyEnd},
      {"8191 characters", xs(8191) + "\n", {{xs(4095), true}, {xs(4095), true}, {"x"}}, kEmptyEnd},
      {"zero byte in a cut piece", "ab\0"s + xs(4093) + "\n", {{"ab", true}, {"x"}}, kEmptyEnd},
      {"newline right after a cut", xs(4095) + "y\n\n", {{xs(4095), true}, {"y"}, {""}}, kEmptyEnd},
  };
}

TEST(KivLineReader, SplitsInputIntoLinesWhateverChunksItArrivesIn) {
  for (const Row& row : rows()) {
    for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{4096}, std::size_t{7}}) {
      const Result result = readInChunks(row.input, chunk);
      EXPECT_EQ(result.pieces, row.pieces) << row.what << ", chunks of " << chunk;
      EXPECT_EQ(result.state, row.state) << row.what << ", chunks of " << chunk;
    }
  }
}

// The parallel decoder reads in runs of lines and takes them apart on other threads: the lines,
// the reader's end state and where it read (outputs are flushed there) must be readLine()'s.
TEST(KivLineReader, RunsOfLinesTakenApartAreTheLinesReadOneByOne) {
  std::vector<std::string> inputs;
  for (const Row& row : rows()) {
    inputs.push_back(row.input);
  }
  std::string mixed;
  for (int i = 0; i < 2000; ++i) {
    mixed += i % 700 == 0 ? xs(9000 + i) + "\n" : i % 300 == 0 ? "a\0b\n"s : "line\n";
  }
  inputs.push_back(mixed);
  inputs.push_back(mixed + "unended");
  for (const std::string& input : inputs) {
    for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{4096}, std::size_t{4095},
                              std::size_t{333}, std::size_t{7}}) {
      const Result lines = readInChunks(input, chunk);
      const Result spans = readInChunks(input, chunk, true);
      const std::string what =
          std::to_string(input.size()) + " bytes in chunks of " + std::to_string(chunk);
      EXPECT_EQ(spans.pieces, lines.pieces) << what;
      EXPECT_EQ(spans.joined, lines.pieces) << what;
      EXPECT_EQ(spans.state, lines.state) << what;
      EXPECT_EQ(spans.readBefore, lines.readBefore) << what;
      EXPECT_EQ(spans.readAtEnd, lines.readAtEnd) << what;
    }
  }
}

TEST(KivLineReader, InputLargerThanTheBufferKeepsEveryLineAndPiece) {
  std::string input;
  for (int i = 0; i < 20000; ++i) {
    input += "line " + std::to_string(i) + "\n";
  }
  input += xs(100000) + "\nend\n";
  const Result result = readInChunks(input, 50000);
  ASSERT_EQ(result.pieces.size(), 20000u + 25u + 1u);
  EXPECT_EQ(result.pieces[0], Piece{"line 0"});
  EXPECT_EQ(result.pieces[19999], Piece{"line 19999"});
  for (std::size_t i = 20000; i < 20024; ++i) {
    EXPECT_EQ(result.pieces[i], (Piece{xs(4095), true})) << i;
  }
  EXPECT_EQ(result.pieces[20024], Piece{xs(100000 - 24 * 4095)});
  EXPECT_EQ(result.pieces[20025], Piece{"end"});
  EXPECT_EQ(result.state, kEmptyEnd);
}

TEST(KivLineReader, HookRunsBeforeEveryReadAndNotForBufferedLines) {
  Pipe pipe;
  pipe.write("a\nb\n");
  pipe.closeWrite();
  int calls = 0;
  KivLineReader reader(pipe.readEnd(), [&calls] { ++calls; });
  std::string_view line;
  bool cut = true;
  ASSERT_TRUE(reader.readLine(line, cut));
  EXPECT_EQ(line, "a");
  EXPECT_FALSE(cut);
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(reader.readLine(line, cut));
  EXPECT_EQ(line, "b");
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(reader.good());
  EXPECT_FALSE(reader.readLine(line, cut));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(stateOf(reader), kEmptyEnd);
  EXPECT_FALSE(reader.readLine(line, cut));
  EXPECT_EQ(calls, 2);
}

TEST(KivLineReader, AReadErrorSetsBadAndFail) {
  KivLineReader reader(-1);
  std::string_view line;
  bool cut = false;
  EXPECT_FALSE(reader.readLine(line, cut));
  EXPECT_EQ(stateOf(reader), "good() 0 bad() 1 eof() 0 fail() 1");
}

}  // namespace
