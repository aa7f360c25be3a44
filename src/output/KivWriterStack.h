#pragma once

#include <memory>

#include "output/KivEventSink.h"
#include "output/KivLogWriter.h"

// The output of one decoder: the writer, and what stands in front of it (a filter), if anything.
struct KivWriterStack {
  std::unique_ptr<KivLogWriter> writer;
  std::unique_ptr<KivEventSink> front;

  // Where the decoder's events go.
  KivEventSink& sink() const { return front ? *front : *writer; }
};
