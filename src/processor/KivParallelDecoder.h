#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <streambuf>
#include <thread>
#include <vector>

#include "processor/KivLogProcessor.h"
#include "processor/KivPiece.h"
#include "processor/KivPieceDecoder.h"

// Decodes a raw log with several threads, with output identical to the run's processor reading it
// alone, byte for byte and write for write.
//
// This thread reads the input as the processor does, but takes the lines it reads in runs
// (KivLineReader::readSpan()) and cuts them into pieces, which point into the reader's buffers;
// worker threads take the pieces apart into lines, number them in input order, and decode them,
// each from the device table as it stands when the piece first names a device, recording what they
// write; this thread takes the pieces in order: when every device a piece found in the table had
// not changed since (its stamp), the piece's devices and counters go into the table and its
// recorded output to the run's outputs; otherwise the piece is decoded again, now from the table as
// the pieces before it left it. Outputs are flushed where the processor reading alone would have
// flushed them, before each read of the input.
class KivParallelDecoder {
 public:
  struct Setup {
    // The run: its settings, images, library, device table and outputs.
    KivLogProcessor* run = nullptr;
    // Decoding threads.
    std::size_t workers = 2;
    KivPieceDecoder::WriterFactory makeWriters;
    // Whether a host line goes to the device's personal log; empty for every device.
    std::function<bool(const KivDeviceDesc& device)> hostShownTo;
    int debugLevel = 0;
    // Where the run's writer writes standard output and the main output.
    std::streambuf* console = nullptr;
    std::streambuf* main = nullptr;
    bool folder = false;
    // At least this many pieces when the input has as many lines (testing the pieces'
    // boundaries on small inputs); 0 for 4 per worker.
    std::size_t minPieces = 0;
    // The bytes of output to expect for a byte of input, until pieces have shown it: traces
    // and JSON Lines write much more than text.
    double expectedGrowth = 3;
  };

  // Input is read in pieces of at most this many bytes; fewer when its output grows much.
  static constexpr std::size_t kPieceBytes = 128 * 1024;
  static constexpr std::size_t kMinPieceBytes = 8 * 1024;
  // What a piece should write at most (its output then stays in a core's cache while it is
  // written), and all pieces under way per worker.
  static constexpr std::size_t kPieceOutput = 256 * 1024;
  static constexpr std::size_t kOutputPerWorker = 4 * 1024 * 1024;

  explicit KivParallelDecoder(const Setup& setup);
  ~KivParallelDecoder();
  KivParallelDecoder(const KivParallelDecoder&) = delete;
  KivParallelDecoder& operator=(const KivParallelDecoder&) = delete;

  // Decodes the input on `fd`, as KivLogProcessor::processStream() does.
  void run(int fd);

 private:
  // The input bytes a piece takes, for its output to stay near kPieceOutput.
  std::size_t pieceBytes() const;
  // A piece to fill, from the spare ones when there are.
  std::unique_ptr<KivPiece> newPiece();
  // Submits what the reader handed out, in `buffer`, as pieces of about pieceBytes().
  void add(std::string_view span, bool cut, const std::shared_ptr<const char[]>& buffer);
  // Hands `piece` to the workers, committing finished pieces while too many are under way.
  void submit(std::unique_ptr<KivPiece> piece);
  // Splits the lines of `batch` into `count` pieces of about as many lines each, numbers them
  // and submits them.
  void submitSplit(KivPiece& batch, std::size_t count);
  // Commits the oldest piece when it is decoded; with `wait`, waits for it. False when none is.
  bool commitOldest(bool wait);
  void commit(KivPiece& piece);
  bool foundUnchanged(const KivPiece& piece) const;
  void takeDevices(KivPiece& piece);
  void work(KivPieceDecoder& decoder);

  Setup setup_;
  std::mutex runLock_;
  std::unique_ptr<KivPieceDecoder> ownDecoder_;
  std::vector<std::unique_ptr<KivPieceDecoder>> decoders_;
  std::vector<std::thread> threads_;

  // A piece handed to the workers, until it is committed.
  struct UnderWay {
    std::unique_ptr<KivPiece> piece;
    uint64_t order = 0;  // in the input
    bool decoded = false;
  };

  std::mutex queueLock_;
  // For workers: a piece is waiting, or the run ends; the piece before theirs is numbered. For
  // this thread: the oldest piece under way is decoded.
  std::condition_variable workReady_;
  std::condition_variable numberedChanged_;
  std::condition_variable oldestDecoded_;
  std::size_t numberWaiters_ = 0;
  std::deque<UnderWay*> waiting_;                   // for a worker
  std::deque<std::unique_ptr<UnderWay>> underWay_;  // in input order
  bool stopping_ = false;
  std::size_t maxUnderWay_;
  // Pieces submitted, pieces numbered (in input order: a worker numbers a piece once the one
  // before it is numbered), and the number of the next piece's first line.
  uint64_t submitted_ = 0;
  uint64_t numbered_ = 0;
  uint64_t nextNumber_ = 1;
  // Input bytes of the pieces under way, and output bytes per input byte so far.
  std::size_t inputUnderWay_ = 0;
  double growth_;
  uint64_t committedInput_ = 0;
  uint64_t committedOutput_ = 0;
  // Committed pieces, kept with the room their texts took for the pieces to come.
  std::vector<std::unique_ptr<KivPiece>> spare_;

  // The line after the last committed piece's.
  uint64_t nextLine_ = 1;
  bool flushPending_ = false;
};
