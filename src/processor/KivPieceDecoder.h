#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metadata/KivLogMetadata.h"
#include "output/KivLogWriter.h"
#include "output/KivPieceOutput.h"
#include "output/KivWriterStack.h"
#include "processor/KivLogProcessor.h"
#include "processor/KivPiece.h"

// Decodes pieces of a raw log one after another on the thread that calls it, each on its own: its
// devices start as the run's device table has them when the piece first names them, and what the
// piece writes is recorded. Whether the run's table was the one the piece should have started
// from is for the caller to check (KivPiece::seen against the stamps) when the piece's turn
// comes; a piece that started from another is decoded again.
class KivPieceDecoder : private KivLogProcessor::Upstream {
 public:
  // The output a decoder writes with, on `console`.
  using WriterFactory = std::function<KivWriterStack(std::ostream& console)>;

  struct Setup {
    // The run's processor: its settings, images and library, and its device table, which
    // `runLock` guards.
    KivLogProcessor* run = nullptr;
    std::mutex* runLock = nullptr;
    WriterFactory makeWriters;
    int debugLevel = 0;
    // Whether devices write personal logs.
    bool folder = false;
    std::size_t maxOpenBuilds = KivOpenBuilds::kMaxOpenBuilds;
    std::size_t statementBudget = KivStatementCache::kDefaultBudget;
  };

  explicit KivPieceDecoder(const Setup& setup);
  ~KivPieceDecoder() override;
  KivPieceDecoder(const KivPieceDecoder&) = delete;
  KivPieceDecoder& operator=(const KivPieceDecoder&) = delete;

  void decode(KivPiece& piece);

 private:
  std::unique_ptr<KivDeviceDesc> adopt(std::string_view id) override;
  void opensPersonalLog(KivDeviceDesc& device) override;
  int32_t slotFor(std::string_view id);

  Setup setup_;
  KivLogMetadata umac_;
  KivLogMetadata lmac_;
  KivPieceOutput output_;
  KivRecordingBuffer consoleBuffer_;
  KivRecordingBuffer mainBuffer_;
  std::ostream console_;
  KivWriterStack writers_;
  KivLogProcessor processor_;
  KivPiece* piece_ = nullptr;
};
