#include "KivWorkload.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>

#include "support/KivSampleFirmware.h"

namespace {

constexpr std::uint32_t kUmacBase = 0x20000000;
constexpr std::uint32_t kLmacBase = 0x00400000;
// Offsets of the blocks and version records from the start of the image's content.
constexpr std::size_t kUmacBlock = 0x100;
constexpr std::size_t kLmacBlock = 0x300;
constexpr std::uint32_t kVersionDistance = 0x100;
constexpr std::size_t kFilesPerMac = 110;
constexpr std::size_t kMaxFormatLength = 79;  // before the newline most formats end in
constexpr std::size_t kBigImageTail = 1024 * 1024;
constexpr std::size_t kFlushSize = 1024 * 1024;

// xorshift64* seeded through splitmix64: small, fast and identical everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    state_ = (z ^ (z >> 31)) | 1;
  }

  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  // Uniform in [0, bound); the modulo bias is negligible for the bounds used here.
  std::uint32_t below(std::size_t bound) {
    return static_cast<std::uint32_t>((next() >> 32) % bound);
  }
  std::uint32_t between(std::uint32_t low, std::uint32_t high) {
    return low + below(high - low + 1);
  }
  bool chance(unsigned percent) { return below(100) < percent; }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  template <typename Items>
  const auto& pick(const Items& items) {
    return items[below(std::size(items))];
  }

 private:
  std::uint64_t state_;
};

constexpr std::string_view kSubjects[] = {
    "scan", "assoc", "auth",  "rx",   "tx",   "ba",   "pm",   "twt", "roam", "dfs",  "cal",   "phy",
    "rate", "key",   "bcn",   "mlme", "vdev", "peer", "ring", "dma", "irq",  "fifo", "tid",   "txq",
    "coex", "reg",   "therm", "link", "chan", "sta",  "ps",   "wow", "nan",  "p2p",  "mbssid"};
constexpr std::string_view kVerbs[] = {
    "started", "done",    "failed",  "timeout", "stopped", "resumed",  "dropped",
    "queued",  "flushed", "updated", "reset",   "enabled", "disabled", "skipped",
    "pending", "retry",   "invalid", "overrun", "expired", "complete", "deferred"};
constexpr std::string_view kWords[] = {
    "for peer",     "on next slot", "in host cmd",     "after timer expiry",
    "with new key", "for vdev",     "on current chan", "while waiting",
    "during scan",  "from host",    "by fw",           "in hw queue",
    "for frame",    "at tbtt",      "on ring",         "for entry",
    "req",          "resp",         "in handler",      "ctx",
    "in window",    "pending",      "on lock",         "for link",
    "to host",      "in irq",       "after reset",     "before sleep",
    "on event",     "for tid",      "in ps mode",      "by policy"};
constexpr std::string_view kKeys[] = {
    "ch",  "rssi", "len",  "seq",  "tid", "aid",  "idx", "state", "status", "flags",
    "mcs", "nss",  "bw",   "cnt",  "err", "val",  "rsn", "vdev",  "peer",   "ac",
    "win", "ssn",  "tsf",  "ms",   "pwr", "addr", "msk", "mode",  "reg",    "cyc",
    "id",  "q",    "band", "rate", "us",  "temp", "pn",  "hw_q",  "ring",   "credits"};
constexpr std::string_view kDirs[] = {"scan", "mlme", "rx",   "tx",    "pm",  "sched",
                                      "cal",  "phy",  "hal",  "rate",  "bss", "ba",
                                      "dfs",  "twt",  "util", "coex",  "reg", "wow",
                                      "nan",  "roam", "dbg",  "therm", "p2p", "offload"};
constexpr std::string_view kFileWords[] = {
    "scan",   "sched", "ctrl",   "mgr",   "state",   "queue", "ring", "dma",     "irq",
    "assoc",  "auth",  "key",    "bcn",   "timer",   "event", "cmd",  "power",   "table",
    "rate",   "tx",    "rx",     "agg",   "reorder", "peer",  "vdev", "chan",    "band",
    "cal",    "rf",    "temp",   "stats", "util",    "hw",    "fw",   "init",    "main",
    "policy", "frame", "crypto", "link",  "hash",    "list",  "pool", "monitor", "debug"};

struct Conversion {
  std::string_view text;
  char feed;
};
constexpr Conversion kConversions[] = {{"%u", 'n'},   {"%d", 's'},   {"%x", 'n'},   {"%X", 'n'},
                                       {"%08x", 'n'}, {"%#x", 'n'},  {"%-6d", 's'}, {"%5u", 'n'},
                                       {"%hu", 'n'},  {"%hhx", 'n'}, {"%lu", 'n'},  {"%c", 'c'},
                                       {"%o", 'n'},   {"%i", 's'},   {"%02u", 'n'}};
constexpr char kPrintable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Cumulative percentages of levels 0..7: mostly INFO1 and INFO2, few CRITICAL.
constexpr unsigned kLevelShares[] = {2, 10, 22, 57, 77, 90, 95, 100};

std::uint16_t drawLevel(Random& random) {
  const unsigned roll = random.below(100);
  std::uint16_t level = 0;
  while (roll >= kLevelShares[level]) {
    ++level;
  }
  return level;
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) {
      out += ' ';
    }
    out += word;
  }
  return out;
}

// A firmware message of 20 to 80 characters with 0, 1 or 2 conversions: a subject and a verb,
// filler words, and "key=<conversion>" fields at random places.
void makeFormat(Random& random, KivWorkload::Statement& statement) {
  std::vector<std::string> fields;
  const unsigned kind = random.below(100);
  const unsigned conversions = kind < 25 ? 0 : kind < 65 ? 1 : 2;
  if (conversions == 1 && random.chance(8)) {
    // The first value gives the field width of the second.
    const bool isSigned = random.chance(50);
    fields.push_back(std::string(random.pick(kKeys)) + (isSigned ? "=%-*d" : "=%*u"));
    statement.feeds = {'w', isSigned ? 's' : 'n'};
  } else {
    for (unsigned i = 0; i < conversions; ++i) {
      const Conversion& conversion = random.pick(kConversions);
      std::string field = std::string(random.pick(kKeys)) + "=" + std::string(conversion.text);
      if (conversion.feed != 'c' && random.chance(5)) {
        field += "%%";
      }
      fields.push_back(std::move(field));
      statement.feeds[i] = conversion.feed;
    }
  }

  std::vector<std::string> words{std::string(random.pick(kSubjects)) + ":",
                                 std::string(random.pick(kVerbs))};
  // Fields keep their order, which is the order of the values they read.
  std::uint32_t position = 2;
  for (std::string& field : fields) {
    position = random.between(position, static_cast<std::uint32_t>(words.size()));
    words.insert(words.begin() + position++, std::move(field));
  }
  const std::size_t target = random.between(20, kMaxFormatLength);
  std::size_t length = joined(words).size();
  while (length < target) {
    std::string word(random.pick(kWords));
    if (length + 1 + word.size() > kMaxFormatLength) {
      break;
    }
    length += 1 + word.size();
    words.insert(words.begin() + random.between(2, static_cast<std::uint32_t>(words.size())),
                 std::move(word));
  }
  statement.format = joined(words);
  if (random.chance(90)) {
    statement.format += '\n';
  }
}

// A source path of 10 to 40 characters such as "umac/src/scan/scan_sched.c".
std::string makeFile(Random& random, std::string_view mac) {
  for (;;) {
    std::string name(mac);
    name += random.chance(80) ? "/src/" : "/";
    if (random.chance(85)) {
      name += random.pick(kDirs);
      name += '/';
    }
    name += random.pick(kFileWords);
    if (random.chance(70)) {
      name += '_';
      name += random.pick(kFileWords);
    }
    name += ".c";
    if (name.size() >= 10 && name.size() <= 40) {
      return name;
    }
  }
}

void makeStatements(Random& random, std::string_view mac, std::size_t count,
                    std::uint32_t firstLogType, std::vector<KivWorkload::Statement>& out) {
  std::vector<std::string> files;
  std::set<std::string> seen;
  while (files.size() < kFilesPerMac) {
    std::string file = makeFile(random, mac);
    if (seen.insert(file).second) {
      files.push_back(std::move(file));
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    KivWorkload::Statement statement;
    const std::uint32_t fileIndex = random.below(files.size());
    statement.file = files[fileIndex];
    statement.module = static_cast<std::uint16_t>(fileIndex % 24);
    statement.line = static_cast<std::uint16_t>(random.between(20, 4000));
    statement.level = drawLevel(random);
    statement.logType = firstLogType + (random.chance(20) ? 1 : 0);
    makeFormat(random, statement);
    out.push_back(std::move(statement));
  }
}

// Lays the image out from file offset `start`: both signature blocks and version records, then
// per MAC its strings followed by its descriptor table, as a linker groups read-only data and
// the descriptor section. Fills in each statement's address.
void layOut(KivImageBuilder& builder, std::size_t start, const KivTestVersion& umacVersion,
            const KivTestVersion& lmacVersion, std::vector<KivWorkload::Statement>& statements) {
  const auto umac =
      builder.mac(kivsample::kUmacSignature, static_cast<std::uint32_t>(start + kUmacBlock),
                  kUmacBase, kUmacBase + kVersionDistance);
  umac.version(umacVersion);
  const auto lmac =
      builder.mac(kivsample::kLmacSignature, static_cast<std::uint32_t>(start + kLmacBlock),
                  kLmacBase, kLmacBase + kVersionDistance);
  lmac.version(lmacVersion);

  for (std::uint32_t macNumber = 0; macNumber < 2; ++macNumber) {
    const KivImageBuilder::Mac& mac = macNumber == 0 ? umac : lmac;
    std::vector<std::pair<KivWorkload::Statement*, KivTestLogMeta>> table;
    for (KivWorkload::Statement& statement : statements) {
      if (statement.logType >> 1 == macNumber) {
        table.emplace_back(&statement, KivTestLogMeta{.format = mac.placeString(statement.format),
                                                      .module = statement.module,
                                                      .line = statement.line,
                                                      .file = mac.placeString(statement.file),
                                                      .level = statement.level,
                                                      .reserved = 0});
      }
    }
    for (auto& [statement, meta] : table) {
      statement->address = mac.place(meta.bytes());
    }
  }
}

std::string filler(Random& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; i += 8) {
    std::uint64_t value = random.next();
    for (std::size_t j = i; j < std::min(size, i + 8); ++j, value >>= 8) {
      bytes[j] = static_cast<char>(value & 0xFF);
    }
  }
  return bytes;
}

void appendNumber(std::string& out, std::uint64_t value, int base = 10) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
  out.append(digits, end);
}

// The record values a statement's conversions read naturally: numbers of mixed sizes, printable
// characters, small field widths.
std::uint32_t valueFor(char feed, Random& random) {
  switch (feed) {
    case '-':
      return 0;
    case 'c':
      return static_cast<unsigned char>(kPrintable[random.below(sizeof kPrintable - 1)]);
    case 'w':
      return random.below(13);
    default:
      break;
  }
  const unsigned size = random.below(100);
  if (size < 40) {
    return random.below(100);
  }
  if (size < 70) {
    return random.below(65536);
  }
  if (size < 92 || feed != 's') {
    return static_cast<std::uint32_t>(random.next());
  }
  return 0u - random.between(1, 1000);
}

constexpr std::string_view kHostTemplates[] = {
    "{dev}: authenticate with {mac}",
    "{dev}: send auth to {mac} (try {n}/3)",
    "{dev}: associate with {mac} (try {n}/3)",
    "{dev}: RX AssocResp from {mac} (capab=0x{hex} status=0 aid={n})",
    "{dev}: associated",
    "IPv6: ADDRCONF(NETDEV_CHANGE): {dev}: link becomes ready",
    "kiv_pcie 0000:0{n}:00.0: tx ring {n} stalled, resetting (pending={n})",
    "kiv_pcie 0000:0{n}:00.0: firmware watchdog kicked, uptime {num} ms",
    "{dev}: deauthenticating from {mac} by local choice (Reason: 3=DEAUTH_LEAVING)",
    "{dev}: Limiting TX power to {n} ({n} - 0) dBm as advertised by {mac}",
    "kiv_drv: {dev}: scan complete, {n} BSS found in {num} ms",
    "kiv_drv: {dev}: rx reorder timeout tid {n} ssn {num} win {n}",
    "kiv_drv: {dev}: roaming from {mac} to {mac}, rssi -{n} dBm",
    "br-lan: port {n}({dev}) entered forwarding state",
    "audit: type=1400 audit({num}.{n}:{num}): apparmor=\"STATUS\" operation=\"profile_load\" "
    "name=\"kivd\" pid={num}",
    "usb 1-{n}: new high-speed USB device number {n} using xhci_hcd",
    "EXT4-fs (sda{n}): mounted filesystem with ordered data mode. Quota mode: none.",
    "wlan: kiv_drv_ioctl: cmd 0x{hex} from pid {num} returned {n}",
    "{dev}: disconnect from AP {mac} for new auth to {mac}",
    "kiv_drv: {dev}: tx timeout on queue {n}, {num} frames pending, last completion {num} us ago",
    "kiv_drv: {dev}: link stats rx_bytes={num} tx_bytes={num} retries={num}",
    "kiv_pcie 0000:0{n}:00.0: MSI-X vector {n} moved to CPU {n}",
    "{dev}: CSA to channel {num} in {n} TBTTs",
    "kiv_drv: firmware log buffer {n} of {n} full, {num} records",
    "systemd[1]: Started kivd.service - Wireless firmware log daemon.",
    "NetworkManager[{num}]: <info>  [{num}.{num}] device ({dev}): state change: {n} -> {n}",
    "wpa_supplicant[{num}]: {dev}: CTRL-EVENT-SIGNAL-CHANGE above=1 signal=-{n} noise=-{num}",
};

// Builds the lines of one raw log; every line starts with a kernel-style time stamp that only
// grows.
class LogComposer {
 public:
  LogComposer(const std::vector<KivWorkload::Statement>& statements, std::uint64_t seed,
              std::size_t devices)
      : statements_(statements), random_(seed), timestamps_(devices) {
    // Zipf-like popularity (weight 1/rank) over the statements in a random order, so the hot
    // statements are spread over both MACs and the whole image.
    ranked_.resize(statements.size());
    for (std::size_t i = 0; i < ranked_.size(); ++i) {
      ranked_[i] = static_cast<std::uint32_t>(i);
    }
    for (std::size_t i = ranked_.size(); i > 1; --i) {
      std::swap(ranked_[i - 1], ranked_[random_.below(i)]);
    }
    double total = 0;
    for (std::size_t rank = 0; rank < ranked_.size(); ++rank) {
      total += 1.0 / static_cast<double>(rank + 1);
      cumulative_.push_back(total);
    }
    for (double& share : cumulative_) {
      share /= total;
    }
    for (std::uint32_t& timestamp : timestamps_) {
      timestamp = random_.between(1000000, 90000000);
    }
  }

  std::size_t deviceCount() const { return timestamps_.size(); }
  Random& random() { return random_; }

  void descriptorLine(std::string& out, std::size_t device, const KivTestVersion& umac,
                      const KivTestVersion& lmac) {
    prefix(out);
    out += kivsample::descriptorLine(deviceId(device), umac, lmac);
    out += '\n';
  }

  void dataLine(std::string& out, std::size_t device) {
    const KivWorkload::Statement& statement = statements_[drawStatement()];
    timestamps_[device] += random_.between(1, 5000);
    prefix(out);
    out += "[FW_LOG-R][ID:";
    out += deviceId(device);
    out += "][";
    appendNumber(out, timestamps_[device]);
    out += "][";
    appendNumber(out, statement.logType);
    out += "][";
    appendNumber(out, statement.address, 16);
    out += "][";
    appendNumber(out, valueFor(statement.feeds[0], random_));
    out += "][";
    appendNumber(out, valueFor(statement.feeds[1], random_));
    out += "]\n";
  }

  // A kernel or driver message; the whole line is 40 to 120 characters long.
  void hostLine(std::string& out) {
    const std::size_t start = out.size();
    prefix(out);
    const std::string_view pattern = random_.pick(kHostTemplates);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const std::size_t close = pattern[i] == '{' ? pattern.find('}', i) : std::string_view::npos;
      if (close == std::string_view::npos) {
        out += pattern[i];
        continue;
      }
      expandField(out, pattern.substr(i + 1, close - i - 1));
      i = close;
    }
    while (out.size() - start < 40) {
      out += " seq=";
      appendNumber(out, random_.below(100000));
    }
    if (out.size() - start > 120) {
      out.resize(start + 120);
    }
    out += '\n';
  }

 private:
  static std::string deviceId(std::size_t device) { return "wlan" + std::to_string(device); }

  std::uint32_t drawStatement() {
    const double roll = random_.unit();
    const auto at = std::upper_bound(cumulative_.begin(), cumulative_.end(), roll);
    const auto rank = std::min<std::size_t>(static_cast<std::size_t>(at - cumulative_.begin()),
                                            ranked_.size() - 1);
    return ranked_[rank];
  }

  // "[ 1234.567890] ": seconds right-aligned in five columns, then microseconds.
  void prefix(std::string& out) {
    hostMicros_ += random_.between(1, 90);
    const std::uint64_t seconds = hostMicros_ / 1000000;
    const std::uint64_t micros = hostMicros_ % 1000000;
    out += '[';
    const std::size_t width = std::to_string(seconds).size();
    if (width < 5) {
      out.append(5 - width, ' ');
    }
    appendNumber(out, seconds);
    out += '.';
    const std::size_t microsWidth = std::to_string(micros).size();
    out.append(6 - microsWidth, '0');
    appendNumber(out, micros);
    out += "] ";
  }

  void expandField(std::string& out, std::string_view field) {
    if (field == "dev") {
      out += deviceId(random_.below(deviceCount()));
    } else if (field == "mac") {
      for (int i = 0; i < 6; ++i) {
        const std::uint32_t octet = random_.below(256);
        out += i == 0 ? "" : ":";
        out += "0123456789abcdef"[octet >> 4];
        out += "0123456789abcdef"[octet & 15];
      }
    } else if (field == "hex") {
      appendNumber(out, random_.below(65536), 16);
    } else if (field == "num") {
      constexpr std::uint32_t kMagnitudes[] = {100, 10000, 1000000, 100000000};
      appendNumber(out, random_.below(random_.pick(kMagnitudes)));
    } else {
      appendNumber(out, random_.below(10));
    }
  }

  const std::vector<KivWorkload::Statement>& statements_;
  Random random_;
  std::vector<std::uint32_t> timestamps_;
  std::vector<std::uint32_t> ranked_;
  std::vector<double> cumulative_;
  std::uint64_t hostMicros_ = 1000000000ull + 123456;
};

}  // namespace

KivWorkload::KivWorkload(std::uint64_t seed)
    : seed_(seed),
      umacVersion_{"KIV-UMAC", "5.2.0.3107", "Apr 14 2026 09:21:37", "release", "g3f9d2c4", "prod"},
      lmacVersion_{"KIV-LMAC", "5.2.0.3107", "Apr 14 2026 09:23:05",
                   "release",  "g3f9d2c4",   "prod"} {
  Random random(seed);
  makeStatements(random, "umac", kUmacStatementCount, 0, statements_);
  makeStatements(random, "lmac", kLmacStatementCount, 2, statements_);
  layOut(image_, 0, umacVersion_, lmacVersion_, statements_);
}

KivImageBuilder KivWorkload::bigImage() const {
  Random random(seed_ ^ 0xB16B16);
  const std::size_t start = kBigImageSize - kBigImageTail;
  KivImageBuilder builder;
  builder.raw(0, filler(random, start));
  std::vector<Statement> statements = statements_;
  layOut(builder, start, umacVersion_, lmacVersion_, statements);
  builder.raw(builder.size(), filler(random, kBigImageSize - builder.size()));
  return builder;
}

KivTestVersion KivWorkload::libraryVersion(std::size_t index, int mac) const {
  KivTestVersion version = mac == 0 ? umacVersion_ : lmacVersion_;
  version.field2 = "lib-" + std::to_string(index);
  return version;
}

KivImageBuilder KivWorkload::libraryBuild(std::size_t index, std::size_t size) const {
  Random random(seed_ ^ (0x11B << 8) ^ index);
  const std::size_t start = size - kBigImageTail;
  KivImageBuilder builder;
  builder.raw(0, filler(random, start));
  std::vector<Statement> statements = statements_;
  layOut(builder, start, libraryVersion(index, 0), libraryVersion(index, 1), statements);
  builder.raw(builder.size(), filler(random, size - builder.size()));
  return builder;
}

void KivWorkload::writeLog(KivWorkloadMix mix, std::uint64_t lines, std::ostream& out) const {
  const auto mixNumber = static_cast<std::uint64_t>(mix);
  LogComposer composer(statements_, seed_ + 0x1000 * (mixNumber + 1), deviceCount(mix));
  Random& random = composer.random();
  std::string buffer;
  auto flush = [&](std::size_t atLeast) {
    if (buffer.size() >= atLeast) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  };
  constexpr std::uint64_t kBootLines = 2;
  for (std::uint64_t line = 0; line < lines; ++line) {
    if (line < kBootLines) {
      composer.hostLine(buffer);
    } else if (line < kBootLines + composer.deviceCount()) {
      composer.descriptorLine(buffer, line - kBootLines, umacVersion_, lmacVersion_);
    } else if (random.chance(dataPercent(mix))) {
      composer.dataLine(buffer, random.below(composer.deviceCount()));
    } else {
      composer.hostLine(buffer);
    }
    flush(kFlushSize);
  }
  flush(0);
}

std::string KivWorkload::log(KivWorkloadMix mix, std::uint64_t lines) const {
  std::ostringstream out;
  writeLog(mix, lines, out);
  return std::move(out).str();
}

std::string_view KivWorkload::mixName(KivWorkloadMix mix) {
  switch (mix) {
    case KivWorkloadMix::kDataHeavy:
      return "data-heavy";
    case KivWorkloadMix::kHostHeavy:
      return "host-heavy";
    case KivWorkloadMix::kFolder:
      return "folder";
  }
  throw std::invalid_argument("unknown workload mix");
}

std::size_t KivWorkload::deviceCount(KivWorkloadMix mix) {
  return mix == KivWorkloadMix::kFolder ? 8 : 4;
}

unsigned KivWorkload::dataPercent(KivWorkloadMix mix) {
  return mix == KivWorkloadMix::kHostHeavy ? 10 : 90;
}
