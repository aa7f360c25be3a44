#include "uart/KivUartLines.h"

#include <time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr size_t kFieldWidths[6] = {15, 16, 32, 16, 16, 16};

void appendToken(std::string& out, const char* text, size_t n) {
  out += '[';
  out.append(text, n);
  out += ']';
}

}  // namespace

KivUartLines::KivUartLines(std::string deviceId, KivUartClock clock)
    : deviceId_(std::move(deviceId)), clock_(clock) {}

bool KivUartLines::validId(const std::string& id) {
  return id.find_first_of("[]") == std::string::npos;
}

std::string KivUartLines::prefixNow() const {
  char text[64] = "";
  if (clock_ == KivUartClock::kMonotonic) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::snprintf(text, sizeof text, "[%5lld.%06ld] ", static_cast<long long>(now.tv_sec),
                  static_cast<long>(now.tv_nsec / 1000));
  } else if (clock_ == KivUartClock::kRealtime) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text, sizeof text, "%s.%06ld ", date, static_cast<long>(now.tv_nsec / 1000));
  }
  return text;
}

// A field is its text up to its first zero byte or its width; a bracket, which a token cannot
// carry, is written as '?' so that the line still parses (the device then does not match the
// image, which is the truth of it).
void KivUartLines::appendVersion(const char* mac, const std::array<unsigned char, 111>* version,
                                 std::string& out) const {
  appendToken(out, mac, std::strlen(mac));
  size_t offset = 0;
  for (const size_t width : kFieldWidths) {
    std::string field;
    if (version != nullptr) {
      const char* text = reinterpret_cast<const char*>(version->data() + offset);
      const void* end = std::memchr(text, '\0', width);
      field.assign(text, end != nullptr ? static_cast<const char*>(end) - text : width);
      for (char& c : field) {
        if (c == '[' || c == ']') {
          c = '?';
        }
      }
    }
    appendToken(out, field.data(), field.size());
    offset += width;
  }
}

void KivUartLines::lineOf(const KivWireEvent& event, const std::string& prefix, std::string& out) {
  const std::string id = deviceId_.empty() ? std::string() : "[ID:" + deviceId_ + "]";
  switch (event.kind) {
    case KivWireEvent::Kind::kDropped:
      out += prefix + "[kivlog-uart] dropped " + std::to_string(event.dropped) + " frames\n";
      return;
    case KivWireEvent::Kind::kRecord: {
      char numbers[80];
      std::snprintf(numbers, sizeof numbers, "[%u][%u][%x][%u][%u]", event.timestamp,
                    event.log_type, event.log_addr, event.param0, event.param1);
      out += prefix + "[FW_LOG-R]" + id + numbers + "\n";
      return;
    }
    case KivWireEvent::Kind::kAnnounce: {
      versions_[event.core] = event.version;
      announced_ |= 1u << event.core;
      const unsigned all = event.cores == 1 ? 1u : 3u;
      if ((announced_ & all) != all) {
        return;
      }
      out += prefix + "[FW_ELF_VER]" + id;
      appendVersion("UMAC", &versions_[0], out);
      appendVersion("LMAC", event.cores == 1 ? nullptr : &versions_[1], out);
      out += '\n';
      return;
    }
  }
}
