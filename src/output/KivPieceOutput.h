#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

// What the writer of one piece of a log would have written, recorded to be written later, in the
// order it came and call for call, to the outputs of the run: so that the outputs see the same
// writes, buffer the same way and fail at the same place as when the log is decoded in one go.
//
// Writes to standard output and to the main log are kept together where they follow each other:
// those outputs write out whole buffers whatever the size of the writes they get, as long as each
// is smaller than a buffer. Writes to personal logs are kept one by one: how a personal log's
// buffer grows depends on the writes it gets.
class KivPieceOutput {
 public:
  enum class Kind : uint8_t {
    kConsole,       // standard output: diagnostics, and the decoded log when it goes there
    kMain,          // the main log of an output folder
    kPersonal,      // the text, to the personal log of device `slot`
    kPersonalLine,  // the text and a line end, to the personal log of device `slot`
    kHost,          // a host line: the text and a line end to the main output and to every
                    // personal log open at that point
    kOpen,          // device `slot` opens its personal log now
    kFlush,         // every output is flushed now
  };
  struct Op {
    Kind kind;
    uint32_t slot;
    std::size_t offset;  // of the text in bytes()
    std::size_t size;
  };

  // The largest write kept together; below the size of any output's buffer.
  static constexpr std::size_t kMaxJoined = 32 * 1024;

  void clear() {
    bytes_.clear();
    ops_.clear();
  }

  // `kind` is kConsole or kMain.
  void write(Kind kind, std::string_view text) {
    if (!ops_.empty()) {
      Op& last = ops_.back();
      if (last.kind == kind && last.offset + last.size == bytes_.size() &&
          last.size + text.size() <= kMaxJoined) {
        last.size += text.size();
        bytes_.append(text);
        return;
      }
    }
    ops_.push_back({kind, 0, bytes_.size(), text.size()});
    bytes_.append(text);
  }
  // The text last written through write() goes to the personal log too: its bytes are shared.
  void personalOfLast(uint32_t slot, std::string_view text) {
    ops_.push_back({Kind::kPersonal, slot, bytes_.size() - text.size(), text.size()});
  }
  void personal(Kind kind, uint32_t slot, std::string_view text) {
    ops_.push_back({kind, slot, bytes_.size(), text.size()});
    bytes_.append(text);
  }
  void host(std::string_view line) {
    ops_.push_back({Kind::kHost, 0, bytes_.size(), line.size()});
    bytes_.append(line);
  }
  void mark(Kind kind, uint32_t slot = 0) { ops_.push_back({kind, slot, 0, 0}); }

  void reserve(std::size_t bytes) { bytes_.reserve(bytes); }
  // The bytes recorded.
  std::size_t size() const { return bytes_.size(); }
  const std::vector<Op>& ops() const { return ops_; }
  std::string_view text(const Op& op) const { return {bytes_.data() + op.offset, op.size}; }

 private:
  std::string bytes_;
  std::vector<Op> ops_;
};

// A stream buffer without a buffer of its own that records everything written to it as writes of
// one kind: what a writer sends to standard output or the main log, while it decodes a piece.
class KivRecordingBuffer : public std::streambuf {
 public:
  KivRecordingBuffer(KivPieceOutput& output, KivPieceOutput::Kind kind)
      : output_(output), kind_(kind) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    output_.write(kind_, std::string_view(s, static_cast<std::size_t>(n)));
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      const char ch = traits_type::to_char_type(c);
      output_.write(kind_, std::string_view(&ch, 1));
    }
    return traits_type::not_eof(c);
  }

 private:
  KivPieceOutput& output_;
  KivPieceOutput::Kind kind_;
};
