#include "processor/KivPieceDecoder.h"

#include "support/KivDebugLog.h"

KivPieceDecoder::KivPieceDecoder(const Setup& setup)
    : setup_(setup),
      umac_(setup.statementBudget),
      lmac_(setup.statementBudget),
      consoleBuffer_(output_, KivPieceOutput::Kind::kConsole),
      mainBuffer_(output_, KivPieceOutput::Kind::kMain),
      console_(&consoleBuffer_),
      writers_(setup.makeWriters(console_)) {
  KivLogProcessor& run = *setup.run;
  umac_.shareFileOf(*run.macMetadata[0]);
  lmac_.shareFileOf(*run.macMetadata[1]);
  processor_.setUmacMetadata(&umac_);
  processor_.setLmacMetadata(&lmac_);
  processor_.strict = run.strict;
  processor_.library = run.library;
  processor_.limitOpenBuilds(setup.maxOpenBuilds);
  processor_.flushesStandardOutput = false;
  processor_.upstream = this;
  writers_.writer->setMainOutput(setup.folder ? static_cast<std::streambuf&>(mainBuffer_)
                                              : static_cast<std::streambuf&>(consoleBuffer_));
  writers_.writer->setRecorder(&output_);
  processor_.sink = &writers_.sink();
}

KivPieceDecoder::~KivPieceDecoder() {
  processor_.clearDevices();
}

void KivPieceDecoder::decode(KivPiece& piece) {
  piece.clearResult();
  piece_ = &piece;
  output_.clear();
  output_.reserve(piece.text.size() * 3);
  {
    const std::lock_guard<std::mutex> lock(*setup_.runLock);
    processor_.libraryAnnounced = setup_.run->libraryAnnounced;
  }
  const bool announcedBefore = processor_.libraryAnnounced;
  processor_.lineNumber = piece.firstLine;
  {
    const KivDiagnosticScope diagnostics(setup_.debugLevel, writers_.writer.get());
    for (const KivPiece::Line& line : piece.lines) {
      if (line.flushBefore) {
        output_.mark(KivPieceOutput::Kind::kFlush);
      }
      processor_.processLine(std::string_view(piece.text).substr(line.offset, line.size), line.cut);
    }
    if (piece.flushAtEnd) {
      output_.mark(KivPieceOutput::Kind::kFlush);
    }
  }
  piece.announcedLibrary = !announcedBefore && processor_.libraryAnnounced;
  while (!processor_.devices.empty()) {
    piece.devices.push_back(
        std::move(processor_.devices.extract(processor_.devices.begin()).value()));
  }
  processor_.clearDevices();
  std::swap(piece.output, output_);
  piece_ = nullptr;
}

std::unique_ptr<KivDeviceDesc> KivPieceDecoder::adopt(std::string_view id) {
  const std::lock_guard<std::mutex> lock(*setup_.runLock);
  const auto& devices = setup_.run->devices;
  const auto entry = devices.find(id);
  if (entry == devices.end()) {
    piece_->seen.emplace_back(std::string(id), 0);
    return nullptr;
  }
  const KivDeviceDesc& found = **entry;
  auto copy = std::make_unique<KivDeviceDesc>(found.deviceId, found.lineStart, found.versioned,
                                              found.strict);
  copy->compatible = found.compatible;
  copy->firmware = found.firmware;
  copy->stamp = found.stamp;
  if (found.personalLog) {
    copy->recordSlot = slotFor(id);
  }
  piece_->seen.emplace_back(std::string(id), found.stamp);
  return copy;
}

void KivPieceDecoder::opensPersonalLog(KivDeviceDesc& device) {
  if (setup_.folder && !device.emptyId) {
    device.recordSlot = slotFor(device.deviceId);
    output_.mark(KivPieceOutput::Kind::kOpen, static_cast<uint32_t>(device.recordSlot));
  }
}

int32_t KivPieceDecoder::slotFor(std::string_view id) {
  piece_->slotIds.emplace_back(id);
  return static_cast<int32_t>(piece_->slotIds.size() - 1);
}
