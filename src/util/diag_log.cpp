// SPDX-License-Identifier: Apache-2.0
#include "util/diag_log.h"

#include <cstdio>
#include <mutex>

namespace vortan {
namespace {

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

}  // namespace

void DiagLog(std::string_view line) {
  std::lock_guard lock(SinkMutex());
  if (Sink()) {
    Sink()(line);
    return;
  }
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

LogSink SetLogSink(LogSink sink) {
  std::lock_guard lock(SinkMutex());
  LogSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

}  // namespace vortan
