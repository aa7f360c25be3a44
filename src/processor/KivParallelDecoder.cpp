#include "processor/KivParallelDecoder.h"

#include <algorithm>
#include <cstring>

#include "processor/KivLineReader.h"
#include "support/KivDebugLog.h"
#include "support/KivProgress.h"

namespace {

// Each decoding thread keeps what its images decoded; together they keep what one would.
constexpr std::size_t kWorkerStatementBudget = 2 * 1024 * 1024;

}  // namespace

KivParallelDecoder::KivParallelDecoder(const Setup& setup) : setup_(setup) {
  if (setup_.minPieces == 0) {
    setup_.minPieces = 4 * setup_.workers;
  }
  // Enough pieces under way to keep every worker busy while the oldest is committed, and few
  // enough that memory stays small: a piece's output is several times its input.
  maxUnderWay_ = 2 * setup_.workers + 2;
  growth_ = setup_.expectedGrowth;
  KivPieceDecoder::Setup pieces;
  pieces.run = setup_.run;
  pieces.runLock = &runLock_;
  pieces.makeWriters = setup_.makeWriters;
  pieces.debugLevel = setup_.debugLevel;
  pieces.folder = setup_.folder;
  // The run keeps no more builds open than one decoder would.
  pieces.maxOpenBuilds =
      std::max<std::size_t>(1, KivOpenBuilds::kMaxOpenBuilds / (setup_.workers + 1));
  pieces.statementBudget = kWorkerStatementBudget;
  ownDecoder_ = std::make_unique<KivPieceDecoder>(pieces);
  for (std::size_t i = 0; i < setup_.workers; ++i) {
    decoders_.push_back(std::make_unique<KivPieceDecoder>(pieces));
  }
  for (auto& decoder : decoders_) {
    threads_.emplace_back([this, &decoder] { work(*decoder); });
  }
}

KivParallelDecoder::~KivParallelDecoder() {
  {
    const std::lock_guard<std::mutex> lock(queueLock_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

void KivParallelDecoder::work(KivPieceDecoder& decoder) {
  for (;;) {
    UnderWay* next = nullptr;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      workReady_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (waiting_.empty()) {
        return;
      }
      next = waiting_.front();
      waiting_.pop_front();
    }
    KivPiece& piece = *next->piece;
    piece.splitLines();
    bool wake = false;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      if (numbered_ != next->order) {
        ++numberWaiters_;
        numberedChanged_.wait(lock, [this, next] { return numbered_ == next->order; });
        --numberWaiters_;
      }
      piece.firstLine = nextNumber_;
      nextNumber_ += piece.lines.size();
      ++numbered_;
      wake = numberWaiters_ > 0;
    }
    if (wake) {
      numberedChanged_.notify_all();
    }
    decoder.decode(piece);
    {
      const std::lock_guard<std::mutex> lock(queueLock_);
      next->decoded = true;
      // This thread waits for the oldest piece only.
      wake = underWay_.front().get() == next;
    }
    if (wake) {
      oldestDecoded_.notify_one();
    }
  }
}

std::size_t KivParallelDecoder::pieceBytes() const {
  const auto bytes = static_cast<std::size_t>(static_cast<double>(kPieceOutput) / growth_);
  return std::clamp(bytes, kMinPieceBytes, kPieceBytes);
}

std::unique_ptr<KivPiece> KivParallelDecoder::newPiece() {
  if (spare_.empty()) {
    return std::make_unique<KivPiece>();
  }
  std::unique_ptr<KivPiece> piece = std::move(spare_.back());
  spare_.pop_back();
  piece->reset();
  return piece;
}

void KivParallelDecoder::add(std::string_view span, bool cut,
                             const std::shared_ptr<const char[]>& buffer) {
  while (!span.empty()) {
    // A piece ends after a newline, where a line starts.
    const std::size_t size = pieceBytes();
    std::size_t take = span.size();
    if (take > size) {
      const void* newline = std::memchr(span.data() + size - 1, '\n', span.size() - (size - 1));
      if (newline != nullptr) {
        take = static_cast<std::size_t>(static_cast<const char*>(newline) - span.data()) + 1;
      }
    }
    auto piece = newPiece();
    piece->refer(span.substr(0, take), buffer, flushPending_, cut && take == span.size());
    flushPending_ = false;
    span.remove_prefix(take);
    submit(std::move(piece));
  }
}

void KivParallelDecoder::run(int fd) {
  KivLogProcessor& run = *setup_.run;
  run.beginStream(fd, [this, &run] {
    // The processor reading alone flushes its outputs here; the pieces' outputs are written
    // later, and flushed at the same place among them.
    flushPending_ = true;
    if (run.progress != nullptr) {
      run.progress->update(run.rawInput->bytesRead(), nextLine_ - 1);
    }
  });
  KivLineReader& reader = *run.rawInput;
  nextLine_ = run.lineNumber;
  nextNumber_ = run.lineNumber;
  std::string_view span;
  bool cut = false;
  std::shared_ptr<const char[]> buffer;
  auto readSpan = [&] { return reader.good() && reader.readSpan(span, cut, &buffer); };

  // A small input is cut into at least minPieces pieces, so that even a few lines are decoded
  // in parallel; a larger one into pieces of about kPieceBytes.
  auto batch = newPiece();
  bool more = true;
  while (batch->text.size() < setup_.minPieces * pieceBytes() && (more = readSpan())) {
    batch->append(span, flushPending_, cut);
    flushPending_ = false;
  }
  batch->flushAtEnd = !more && flushPending_;
  if (!more) {
    flushPending_ = false;
  }
  const std::size_t bySize = (batch->text.size() + pieceBytes() - 1) / pieceBytes();
  submitSplit(*batch, more ? bySize : std::max(setup_.minPieces, bySize));
  if (more) {
    // The rest in pieces that point into the reader's buffers: no copy.
    while (readSpan()) {
      add(span, cut, buffer);
    }
    if (flushPending_) {
      auto piece = newPiece();
      piece->flushAtEnd = true;
      flushPending_ = false;
      submit(std::move(piece));
    }
  }
  while (commitOldest(true)) {
  }
  run.lineNumber = nextLine_;
  run.endStream();
}

void KivParallelDecoder::submitSplit(KivPiece& batch, std::size_t count) {
  batch.splitLines();
  const std::size_t lines = batch.lines.size();
  count = std::max<std::size_t>(1, std::min(count, std::max<std::size_t>(lines, 1)));
  std::size_t first = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t last = lines * (i + 1) / count;
    auto piece = newPiece();
    const uint32_t base = first < lines ? batch.lines[first].offset : 0;
    const uint32_t end =
        last < lines ? batch.lines[last].offset : static_cast<uint32_t>(batch.text.size());
    piece->append(batch.text.substr(base, end - base), false, false);
    for (std::size_t n = first; n < last; ++n) {
      KivPiece::Line line = batch.lines[n];
      line.offset -= base;
      piece->lines.push_back(line);
    }
    if (i + 1 == count) {
      piece->flushAtEnd = batch.flushAtEnd;
    }
    submit(std::move(piece));
    first = last;
  }
}

void KivParallelDecoder::submit(std::unique_ptr<KivPiece> piece) {
  // Bounded in number, and in the output the pieces are expected to write.
  const double budget = static_cast<double>(kOutputPerWorker * setup_.workers);
  while (!underWay_.empty() &&
         (underWay_.size() >= maxUnderWay_ ||
          static_cast<double>(inputUnderWay_ + piece->text.size()) * growth_ > budget)) {
    commitOldest(true);
  }
  inputUnderWay_ += piece->text.size();
  // Commit what is ready, so that the run's outputs keep up with the input.
  while (commitOldest(false)) {
  }
  auto entry = std::make_unique<UnderWay>();
  entry->piece = std::move(piece);
  entry->order = submitted_++;
  {
    const std::lock_guard<std::mutex> lock(queueLock_);
    waiting_.push_back(entry.get());
    underWay_.push_back(std::move(entry));
  }
  workReady_.notify_one();
}

bool KivParallelDecoder::commitOldest(bool wait) {
  UnderWay* oldest = nullptr;
  {
    std::unique_lock<std::mutex> lock(queueLock_);
    if (underWay_.empty()) {
      return false;
    }
    oldest = underWay_.front().get();
    if (wait) {
      oldestDecoded_.wait(lock, [oldest] { return oldest->decoded; });
    } else if (!oldest->decoded) {
      return false;
    }
  }
  commit(*oldest->piece);
  std::unique_ptr<KivPiece> committed = std::move(oldest->piece);
  {
    const std::lock_guard<std::mutex> lock(queueLock_);
    underWay_.pop_front();
  }
  spare_.push_back(std::move(committed));
  // The line is due also while the input waits for the pieces read ahead of the output.
  KivLogProcessor& run = *setup_.run;
  if (run.progress != nullptr) {
    run.progress->update(run.rawInput->bytesRead(), nextLine_ - 1);
  }
  return true;
}

bool KivParallelDecoder::foundUnchanged(const KivPiece& piece) const {
  const KivLogProcessor& run = *setup_.run;
  for (const auto& [id, stamp] : piece.seen) {
    const auto entry = run.devices.find(id);
    if ((entry == run.devices.end() ? 0 : (*entry)->stamp) != stamp) {
      return false;
    }
  }
  return !(piece.announcedLibrary && run.libraryAnnounced);
}

void KivParallelDecoder::commit(KivPiece& piece) {
  bool unchanged = false;
  {
    const std::lock_guard<std::mutex> lock(runLock_);
    unchanged = foundUnchanged(piece);
  }
  if (!unchanged) {
    // The table changed under the piece: decode it again, from the table as it is now, which is
    // as the pieces before it left it.
    ownDecoder_->decode(piece);
  }
  {
    const std::lock_guard<std::mutex> lock(runLock_);
    takeDevices(piece);
  }
  // Standard output alone gets each piece's text without a copy: it is the only output, so only
  // the sizes of its write(2) calls change, not what it gets or where it fails.
  KivOutput* const direct = setup_.folder ? nullptr : dynamic_cast<KivOutput*>(setup_.console);
  setup_.run->writeRecorded(piece.output, piece.slotIds, *setup_.console, *setup_.main, runLock_,
                            setup_.hostShownTo, direct);
  nextLine_ = piece.firstLine + piece.lines.size();
  inputUnderWay_ -= piece.text.size();
  committedInput_ += piece.text.size();
  committedOutput_ += piece.output.size();
  if (committedInput_ > 0) {
    growth_ =
        std::max(1.0, static_cast<double>(committedOutput_) / static_cast<double>(committedInput_));
  }
  piece.clearResult();
}

void KivParallelDecoder::takeDevices(KivPiece& piece) {
  KivLogProcessor& run = *setup_.run;
  for (std::unique_ptr<KivDeviceDesc>& device : piece.devices) {
    const auto entry = run.devices.find(device->deviceId);
    if (entry == run.devices.end()) {
      device->stamp = ++run.lastStamp;
      device->recordSlot = -1;
      run.devices.insert(std::move(device));
      continue;
    }
    KivDeviceDesc& kept = **entry;
    const KivDeviceDesc& seen = *device;
    kept.skipped += seen.skipped;
    kept.processed += seen.processed;
    kept.errors += seen.errors;
    kept.versionUnknown += seen.versionUnknown;
    kept.versionMismatch += seen.versionMismatch;
    // Each data line of a device ends as skipped, decoded or an error.
    if (seen.skipped + seen.processed + seen.errors > 0) {
      kept.lineEnd = seen.lineEnd;
    }
    bool changed = kept.versioned != seen.versioned || kept.compatible != seen.compatible ||
                   kept.firmware != seen.firmware;
    if (seen.versions.given()) {
      kept.versions = seen.versions;
      changed = true;
    }
    kept.versioned = seen.versioned;
    kept.compatible = seen.compatible;
    kept.firmware = seen.firmware;
    if (changed) {
      kept.stamp = ++run.lastStamp;
    }
  }
  piece.devices.clear();
  run.libraryAnnounced = run.libraryAnnounced || piece.announcedLibrary;
}
