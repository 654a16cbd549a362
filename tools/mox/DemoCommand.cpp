// mox demo: one acquisition session on a sample installation, end to end, the
// way the scanner software uses the library: logging into a session
// directory with filters, store paths and the probe catalogue, data blocks
// and cine blocks on one cine memory fed with real frames by an acquisition
// thread while a review thread reads, both codecs with verified round trips,
// cine files saved and read back, a contact sheet, user actions and a state
// dump. Every check that fails ends the demo with one line and exit status 1.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Png.h"
#include "Terminal.h"
#include "mox_utils/cine.h"
#include "mox_utils/compression.h"
#include "mox_utils/logging.h"
#include "mox_utils/paths.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/probes.h"
#include "mox_utils/time.h"

namespace mox::tool {

namespace {

namespace fs = std::filesystem;
using mox::platform::utf8ToWide;
using mox::platform::wideToUtf8;

// A failed check: the demo stops and reports the message.
struct DemoFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void check(bool condition, const std::string& what) {
  if (!condition) throw DemoFailure(what);
}

constexpr int kSweeps = 3;                     // the recorded sweep is played this often
constexpr std::uint64_t kBasePeriod = 860000;  // 86 ms in 100-ns units
constexpr unsigned kCineMemoryBytes = 8u << 20;

// One kind of acquired data: a region of the acquisition memory, its data
// block and the frames the "hardware" writes into it.
struct Stream {
  Stream(const char* n, unsigned line, unsigned lines, unsigned g, int region, float share, int ch)
      : name(n), lineSize(line), numLines(lines), group(g), regionFrames(region), cinePercentage(share), channel(ch) {}
  const char* name;
  unsigned lineSize;
  unsigned numLines;
  unsigned group;
  int regionFrames;                                // frame positions in the acquisition region
  float cinePercentage;                            // share of the cine memory
  int channel;                                     // the run-length coder's channel
  std::vector<std::vector<unsigned char>> frames;  // one per recorded frame
  DataBlock block;
  // Results.
  int written = 0;
  int kept = 0;
  std::wstring cineFile;
};

// Frames derived from the recorded sweep for the three kinds of data.
std::vector<unsigned char> halfResolution(const GrayImage& image, unsigned* width, unsigned* height) {
  *width = image.width / 2;
  *height = image.height / 2;
  std::vector<unsigned char> out(std::size_t{*width} * *height);
  for (unsigned y = 0; y < *height; ++y) {
    const unsigned char* row0 = &image.pixels[std::size_t{2 * y} * image.width];
    const unsigned char* row1 = row0 + image.width;
    for (unsigned x = 0; x < *width; ++x) {
      out[std::size_t{y} * *width + x] =
          static_cast<unsigned char>((row0[2 * x] + row0[2 * x + 1] + row1[2 * x] + row1[2 * x + 1] + 2) / 4);
    }
  }
  return out;
}

// An M-mode strip: `lines` neighbouring scan lines (image columns) around the
// centre, each line stored depth-first.
std::vector<unsigned char> mmodeLines(const GrayImage& image, unsigned lines) {
  std::vector<unsigned char> out(std::size_t{lines} * image.height);
  const unsigned first = image.width / 2 - lines / 2;
  for (unsigned l = 0; l < lines; ++l) {
    for (unsigned y = 0; y < image.height; ++y) {
      out[std::size_t{l} * image.height + y] = image.pixels[std::size_t{y} * image.width + first + l];
    }
  }
  return out;
}

std::vector<GrayImage> loadSweep(const fs::path& directory) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    if (entry.path().extension() == ".png") files.push_back(entry.path());
  }
  check(!ec, "cannot read the frame directory " + directory.string());
  check(!files.empty(), "no PNG frames in " + directory.string());
  std::sort(files.begin(), files.end());
  std::vector<GrayImage> images;
  for (const fs::path& file : files) {
    GrayImage image;
    std::string error;
    check(readGrayPng(file.string(), &image, &error), error);
    check(images.empty() || (image.width == images[0].width && image.height == images[0].height),
          "frame " + file.filename().string() + " differs in size from the first frame");
    images.push_back(std::move(image));
  }
  return images;
}

// The state that the demo's dumper writes when the application asks for a
// state dump.
class AcquisitionStateDumper : public KelStateDumper {
 public:
  explicit AcquisitionStateDumper(const std::vector<std::unique_ptr<Stream>>& streams) : m_streams(streams) {}
  void dumpState(const std::wstring& directory) override {
    const std::wstring file = directory + L"acquisition-state.txt";
    std::string text = "stream frames_written frames_kept cine_slots\n";
    for (const auto& s : m_streams) {
      CineBlock* cine = s->block.GetCineBlock();
      text += std::string(s->name) + " " + std::to_string(s->written) + " " +
              std::to_string(cine != nullptr ? cine->GetFrameCount() : 0) + " " +
              std::to_string(cine != nullptr ? cine->GetMaxFrames() : 0) + "\n";
    }
    m_written = mox::platform::writeFileAtomically(file, text.data(), text.size());
    m_file = file;
  }
  bool written() const { return m_written; }
  const std::wstring& file() const { return m_file; }

 private:
  const std::vector<std::unique_ptr<Stream>>& m_streams;
  bool m_written = false;
  std::wstring m_file;
};

struct CodecTotals {
  std::uint64_t bytes = 0;
  std::uint64_t compressedBytes = 0;
  double encodeSeconds = 0;
  double decodeSeconds = 0;
  int frames = 0;
};

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Compresses one frame with both codecs and checks that each restores it.
// `previous` is the channel's previously restored frame (for RLE).
void compressFrame(HuffmanCompression& huffman, RLEEncoder& rle, const std::vector<unsigned char>& frame, int channel,
                   std::vector<unsigned char>& previous, CodecTotals& h, CodecTotals& r) {
  const int length = static_cast<int>(frame.size());
  unsigned char* packed = nullptr;
  int packedLength = 0;
  unsigned char* restored = nullptr;
  int restoredLength = 0;

  auto t0 = std::chrono::steady_clock::now();
  check(huffman.compress(frame.data(), length, &packed, packedLength), "Huffman compression failed");
  auto t1 = std::chrono::steady_clock::now();
  const bool unpacked = huffman.uncompress(packed, packedLength, &restored, restoredLength);
  auto t2 = std::chrono::steady_clock::now();
  const bool same = unpacked && restoredLength == length && std::memcmp(restored, frame.data(), frame.size()) == 0;
  std::free(packed);
  std::free(restored);
  check(same, "a frame did not survive the Huffman round trip");
  h.bytes += frame.size();
  h.compressedBytes += static_cast<std::uint64_t>(packedLength);
  h.encodeSeconds += seconds(t0, t1);
  h.decodeSeconds += seconds(t1, t2);
  ++h.frames;

  // The encoder keeps the channel's previous frame; the decoder returns the
  // difference, which the receiver combines with its own previous frame.
  std::vector<unsigned char> input = frame;  // encode takes a non-const buffer
  t0 = std::chrono::steady_clock::now();
  check(rle.encode(input.data(), length, &packed, packedLength, channel), "run-length encoding failed");
  t1 = std::chrono::steady_clock::now();
  const bool decoded = rle.decode(packed, packedLength, &restored, restoredLength);
  bool rleSame = decoded && restoredLength == length;
  if (rleSame) {
    if (previous.size() != frame.size()) previous.assign(frame.size(), 0);
    for (std::size_t i = 0; i < frame.size(); ++i) previous[i] ^= restored[i];
    rleSame = previous == frame;
  }
  t2 = std::chrono::steady_clock::now();
  std::free(packed);
  std::free(restored);
  check(rleSame, "a frame did not survive the run-length round trip");
  r.bytes += frame.size();
  r.compressedBytes += static_cast<std::uint64_t>(packedLength);
  r.encodeSeconds += seconds(t0, t1);
  r.decodeSeconds += seconds(t1, t2);
  ++r.frames;
}

// The expected frame for a cine frame ID: IDs count every written frame from
// 0, the recorded sweep repeats.
const std::vector<unsigned char>& expectedFrame(const Stream& s, short id) {
  return s.frames[static_cast<std::size_t>(id) % s.frames.size()];
}

// The review side: walks every cine block under its lock while the
// acquisition runs and checks that each valid frame holds the data of its ID.
void reviewLoop(const std::vector<std::unique_ptr<Stream>>& streams, const std::atomic<bool>& done,
                std::atomic<long>& checked, std::atomic<bool>& consistent) {
  while (!done.load(std::memory_order_acquire)) {
    for (const auto& s : streams) {
      CineBlock* cine = s->block.GetCineBlock();
      CriticalSectionLock lock(cine->GetCriticalSection());
      cine->Decrement(cine->GetMaxFrames());
      for (;;) {
        const CineBlock::Frame frame = cine->GetCurrentFrame();
        if (!frame.IsValid()) break;
        const auto& expected = expectedFrame(*s, frame.GetID());
        if (std::memcmp(frame.GetData(), expected.data(), expected.size()) != 0) consistent = false;
        checked.fetch_add(1, std::memory_order_relaxed);
        if (cine->Increment(1) == 0) break;
      }
    }
    // A review display refreshes a few hundred times a second at most.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int runDemo(const std::string& rootArg, const std::string& outArg) {
  const auto start = std::chrono::steady_clock::now();
  FILE* out = userOut();
  const fs::path root = fs::absolute(rootArg);
  const fs::path outDir = fs::absolute(outArg);
  std::error_code ec;
  check(fs::is_directory(root, ec), "no sample installation at " + root.string());
  fs::create_directories(outDir, ec);
  check(!ec, "cannot create the output directory " + outDir.string() + ": " + ec.message());

  // 1. Logging into a session directory below the output folder, routed by
  //    the installation's filter file.
  // The logger creates the dated levels below an existing base directory.
  fs::create_directories(outDir / "logs", ec);
  check(!ec, "cannot create " + (outDir / "logs").string() + ": " + ec.message());
  const std::wstring logBase = utf8ToWide((outDir / "logs").string()) + L"\\";
  kelLoggerClass::initialize(logBase.c_str(), 6);
  std::wstring session;
  check(kelLogger::getCurrentDirectory(session), "logging did not start");
  const std::wstring filterFile = utf8ToWide((root / "settings" / "logfilters.xml").string());
  kelLoggerClass::loadFilters(filterFile.c_str());
  MOX_LOG(kelLogger::LOG_INFO)(L"Demo acquisition on the installation %S", root.string().c_str());

  // 2. Store paths and the probe catalogue.
  kelPath::populate(utf8ToWide(root.string()));
  constexpr int kModuleVersion = 5;  // the ultrasound module of the demo system
  KelProbe::setUsModuleVersion(kModuleVersion);
  KelProbeFactory factory(true, true);
  check(factory.firstProbe(), "cannot open the probe catalogue " + wideToUtf8(KelProbeFactory::getPath()));
  // The recorded sweep comes from a linear array: the first linear probe that
  // is released (or a demo), else the first usable probe of any kind.
  std::unique_ptr<KelProbe> probe;
  int probeCount = 0;
  while (KelProbe* p = factory.getNextProbe()) {
    ++probeCount;
    if (!probe || (!probe->isLinearArray() && p->isLinearArray())) {
      probe.reset(p);
    } else {
      delete p;
    }
  }
  check(probe != nullptr, "the catalogue has no released probe for module version 5");
  MOX_LOG(kelLogger::LOG_INFO)
  (L"Probe %d \"%s\" selected from %d released or demo probes", probe->getId(), probe->getName().c_str(), probeCount);

  // 3. The acquisition memory as data blocks in two groups, each with a cine
  //    block on one shared cine memory.
  const std::vector<GrayImage> sweep = loadSweep(root / "frames" / "seq-plus-bone-l14");
  std::vector<std::unique_ptr<Stream>> streams;
  {
    // B-mode at full resolution and a half-resolution harmonic image share
    // group 0 (the harmonic region holds twice the frames); an M-mode strip
    // of 16 scan lines has a time base of its own in group 1.
    constexpr unsigned kMLines = 16;
    unsigned hw = sweep[0].width / 2, hh = sweep[0].height / 2;
    streams.push_back(std::make_unique<Stream>("b-mode", sweep[0].width, sweep[0].height, 0, 6, 0.60f, 0));
    streams.push_back(std::make_unique<Stream>("harmonic", hw, hh, 0, 12, 0.25f, 1));
    streams.push_back(std::make_unique<Stream>("m-mode", sweep[0].height, kMLines, 1, 24, 0.15f, 2));
    for (const GrayImage& image : sweep) {
      streams[0]->frames.push_back(image.pixels);
      streams[1]->frames.push_back(halfResolution(image, &hw, &hh));
      streams[2]->frames.push_back(mmodeLines(image, kMLines));
    }
  }

  std::size_t acquisitionBytes = 0;
  for (const auto& s : streams) {
    acquisitionBytes +=
        static_cast<std::size_t>(s->regionFrames) * (std::size_t{s->lineSize} * s->numLines + DataBlock::GetTagSize());
  }
  std::vector<unsigned char> acquisitionMemory(acquisitionBytes);
  std::vector<unsigned char> cineMemory(kCineMemoryBytes);
  {
    std::size_t offset = 0;
    std::size_t cineOffset = 0;
    for (const auto& s : streams) {
      const std::size_t frameBytes = std::size_t{s->lineSize} * s->numLines + DataBlock::GetTagSize();
      const std::size_t regionBytes = frameBytes * static_cast<std::size_t>(s->regionFrames);
      s->block.Init(static_cast<int>(regionBytes), static_cast<int>(offset), &acquisitionMemory[offset],
                    &acquisitionMemory[offset] + regionBytes);
      BlockSetup<DataBlock> setup = s->block.SetupFrames();
      setup.lineSize = s->lineSize;
      setup.numLines = s->numLines;
      setup.group = s->group;
      s->block.SetupFrames(setup);
      s->block.SetEOB();
      s->block.SetCinePercentage(s->cinePercentage);
      const auto cineBytes = static_cast<std::size_t>(kCineMemoryBytes * s->cinePercentage) & ~std::size_t{15};
      s->block.CreateCineBlock(&cineMemory[cineOffset], static_cast<unsigned>(cineBytes));
      check(s->block.IsValid() && s->block.GetCineBlock() != nullptr,
            std::string("data block ") + s->name + " could not be laid out");
      offset += regionBytes;
      cineOffset += cineBytes;
    }
  }
  std::vector<DataBlock*> blocks;
  for (const auto& s : streams) blocks.push_back(&s->block);
  check(DataBlock::SetupCineBlocks(blocks, kBasePeriod, 0), "the cine memory cannot hold three frame units per group");

  // 4. Stream the frames: the acquisition thread writes every frame into its
  //    region and its cine block while a review thread reads the cine blocks.
  HuffmanCompression huffman;
  RLEEncoder rle;
  CodecTotals huffmanTotals;
  CodecTotals rleTotals;
  std::atomic<bool> acquisitionDone{false};
  std::atomic<long> reviewed{0};
  std::atomic<bool> reviewConsistent{true};
  std::string acquisitionError;
  HiResTimer acquisitionTimer;
  acquisitionTimer.start();
  std::thread reviewer(reviewLoop, std::cref(streams), std::cref(acquisitionDone), std::ref(reviewed),
                       std::ref(reviewConsistent));
  std::thread acquisition([&] {
    try {
      std::vector<std::vector<unsigned char>> restored(streams.size());
      for (const auto& s : streams) {
        s->block.Lock();
        s->block.Erase();
        s->block.Unlock();
        CriticalSectionLock lock(s->block.GetCineBlock()->GetCriticalSection());
        s->block.GetCineBlock()->Erase();
      }
      const int total = static_cast<int>(sweep.size()) * kSweeps;
      Progress progress("acquiring", static_cast<std::size_t>(total));
      for (int id = 0; id < total; ++id) {
        for (const auto& s : streams) {
          const auto& frame = s->frames[static_cast<std::size_t>(id) % s->frames.size()];
          // The hardware writes a tag and the frame at the next position.
          s->block.Lock();
          const unsigned frameSize = s->block.GetFrameSize();
          unsigned char* position =
              s->block.GetBegin() + std::size_t{frameSize} * static_cast<std::size_t>(id % s->block.GetMaxFrames());
          const std::uint32_t tag = static_cast<std::uint32_t>(id);
          std::memcpy(position, &tag, sizeof tag);
          std::memcpy(position + DataBlock::GetTagSize(), frame.data(), frame.size());
          s->block.SetReadBuffer(position);
          s->block.Unlock();
          {
            CineBlock* cine = s->block.GetCineBlock();
            CriticalSectionLock lock(cine->GetCriticalSection());
            check(cine->WriteFrame(position + DataBlock::GetTagSize(), static_cast<unsigned>(frame.size()),
                                   static_cast<short>(id), static_cast<short>(id / static_cast<int>(sweep.size())),
                                   false) != nullptr,
                  std::string("the cine block of ") + s->name + " refused a frame");
          }
          ++s->written;
          compressFrame(huffman, rle, frame, s->channel, restored[static_cast<std::size_t>(s->channel)], huffmanTotals,
                        rleTotals);
        }
        progress.update(static_cast<std::size_t>(id + 1));
      }
    } catch (const std::exception& e) {
      acquisitionError = e.what();
    }
    acquisitionDone.store(true, std::memory_order_release);
  });
  acquisition.join();
  acquisitionTimer.end();
  reviewer.join();
  MOX_LOG(kelLogger::LOG_TIMER)(acquisitionTimer, L"Acquired %d frames per block", streams[0]->written);
  MOX_LOG(kelLogger::LOG_STATS)(kelLogger::STATS_FULL, L"Memory after acquisition");
  check(acquisitionError.empty(), acquisitionError);
  check(reviewConsistent.load(), "the review thread saw a frame whose data does not match its ID");

  for (const auto& s : streams) {
    CineBlock* cine = s->block.GetCineBlock();
    CriticalSectionLock lock(cine->GetCriticalSection());
    s->kept = cine->GetFrameCount();
    check(s->kept == static_cast<int>(cine->GetMaxFrames()) || s->kept == s->written,
          std::string("the cine block of ") + s->name + " lost frames");
    s->block.Lock();
    const int regionCount = s->block.GetFrameCount();
    s->block.Unlock();
    check(regionCount == s->block.GetMaxFrames(), std::string("the region of ") + s->name + " miscounts its frames");
  }

  // 5. (done above, frame by frame) 6. Save every cine block, load it back
  //    and compare; a contact sheet of the first one.
  const fs::path cineDir = outDir / "cine";
  fs::create_directories(cineDir, ec);
  check(!ec, "cannot create " + cineDir.string());
  for (const auto& s : streams) {
    CineBlock* cine = s->block.GetCineBlock();
    s->cineFile = utf8ToWide((cineDir / (std::string(s->name) + ".cine")).string());
    CriticalSectionLock lock(cine->GetCriticalSection());
    cine->Save(s->cineFile.c_str());
    std::unique_ptr<CineBlock> loaded(CineBlock::Load(s->cineFile.c_str()));
    check(loaded != nullptr, "cannot load " + wideToUtf8(s->cineFile));
    check(loaded->GetFrameCount() == s->kept && loaded->GetLineSize() == cine->GetLineSize() &&
              loaded->GetNumLines() == cine->GetNumLines(),
          "the loaded cine file " + wideToUtf8(s->cineFile) + " differs in geometry or frame count");
    for (int k = 0; k < s->kept; ++k) {
      const CineBlock::Frame a = cine->GetFrame(static_cast<unsigned>(k));
      const CineBlock::Frame b = loaded->GetFrame(static_cast<unsigned>(k));
      check(a.GetID() == b.GetID() && a.GetExtra() == b.GetExtra() &&
                std::memcmp(a.GetData(), b.GetData(), cine->GetDataSize()) == 0,
            "frame " + std::to_string(k) + " of " + wideToUtf8(s->cineFile) + " differs after loading");
    }
  }

  const Stream& first = *streams[0];
  std::unique_ptr<CineBlock> review(CineBlock::Load(first.cineFile.c_str()));
  check(review != nullptr, "cannot load " + wideToUtf8(first.cineFile));
  constexpr unsigned kScale = 4;
  constexpr unsigned kColumns = 5;
  constexpr unsigned kGap = 4;
  const unsigned thumbW = review->GetLineSize() / kScale;
  const unsigned thumbH = review->GetNumLines() / kScale;
  const unsigned count = static_cast<unsigned>(review->GetFrameCount());
  const unsigned rows = (count + kColumns - 1) / kColumns;
  const unsigned sheetW = kColumns * thumbW + (kColumns + 1) * kGap;
  const unsigned sheetH = rows * thumbH + (rows + 1) * kGap;
  std::vector<unsigned char> sheet(std::size_t{sheetW} * sheetH, 0);
  for (unsigned k = 0; k < count; ++k) {
    const unsigned char* data = review->GetData(k);
    const unsigned x0 = kGap + (k % kColumns) * (thumbW + kGap);
    const unsigned y0 = kGap + (k / kColumns) * (thumbH + kGap);
    for (unsigned y = 0; y < thumbH; ++y) {
      for (unsigned x = 0; x < thumbW; ++x) {
        sheet[std::size_t{y0 + y} * sheetW + x0 + x] =
            data[std::size_t{y * kScale} * review->GetLineSize() + x * kScale];
      }
    }
  }
  const fs::path sheetFile = cineDir / (std::string(first.name) + "-contact-sheet.png");
  std::string pngError;
  check(writeGrayPng(sheetFile.string(), sheet.data(), sheetW, sheetH, &pngError), pngError);

  // 7. User actions, a state dump, the end of logging.
  // The user freezes the image, clicks and saves the cine; the action log
  // records the time between the actions.
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(60)); };
  kelLogger::logAction(L"Button", L"Freeze", 1, 0);
  pause();
  kelLogger::logMouse(0x201, 412, 300);
  kelLogger::logMouse(0x202, 412, 300);
  pause();
  kelLogger::logKeyboard(0x53);
  pause();
  kelLogger::logAction(L"Button", L"SaveCine", 1, static_cast<int>(streams.size()));
  const fs::path dumpDir = outDir / "dumps";
  fs::create_directories(dumpDir, ec);
  check(!ec, "cannot create " + dumpDir.string());
  AcquisitionStateDumper dumper(streams);
  KelStateDumper::setRootPath(utf8ToWide(dumpDir.string()) + L"\\");
  KelStateDumper::dumpAll(L"");
  check(dumper.written(), "the state dump was not written");
  MOX_LOG(kelLogger::LOG_INFO)(L"Demo finished: %d frames reviewed", static_cast<int>(reviewed.load()));
  kelLoggerClass::terminate();

  std::vector<std::string> actionLogs;
  for (const auto& entry : fs::directory_iterator(mox::platform::nativePath(session), ec)) {
    if (entry.path().filename().string().find(".xml") != std::string::npos) actionLogs.push_back(entry.path().string());
  }
  check(!actionLogs.empty(), "the session has no action log (is a filter sending LOG_ACTION to an .xml file?)");

  // 8. Summary.
  const double total = seconds(start, std::chrono::steady_clock::now());
  auto mbps = [](std::uint64_t bytes, double s) { return s > 0 ? static_cast<double>(bytes) / s / 1e6 : 0.0; };
  auto ratio = [](const CodecTotals& t) {
    return t.compressedBytes > 0 ? static_cast<double>(t.bytes) / static_cast<double>(t.compressedBytes) : 0.0;
  };
  std::fprintf(out, "mox demo: acquisition session on %s\n", root.string().c_str());
  std::fprintf(out, "  probe        %s (id %d), %d released or demo probes in the catalogue\n",
               wideToUtf8(probe->getName()).c_str(), probe->getId(), probeCount);
  std::fprintf(out, "  %-10s %5s %9s %7s %6s %12s\n", "block", "group", "frame", "written", "kept", "cine slots");
  for (const auto& s : streams) {
    const std::string geometry = std::to_string(s->lineSize) + "x" + std::to_string(s->numLines);
    std::fprintf(out, "  %-10s %5u %9s %7d %6d %12u\n", s->name, s->group, geometry.c_str(), s->written, s->kept,
                 s->block.GetCineBlock()->GetMaxFrames() + 1);
  }
  std::fprintf(out, "  review       %ld frames read and verified while acquiring\n", reviewed.load());
  std::fprintf(out, "  huffman      %d frames, ratio %.2f, compress %.0f MB/s, uncompress %.0f MB/s, all restored\n",
               huffmanTotals.frames, ratio(huffmanTotals), mbps(huffmanTotals.bytes, huffmanTotals.encodeSeconds),
               mbps(huffmanTotals.bytes, huffmanTotals.decodeSeconds));
  std::fprintf(out, "  run-length   %d frames, ratio %.2f, encode %.0f MB/s, decode %.0f MB/s, all restored\n",
               rleTotals.frames, ratio(rleTotals), mbps(rleTotals.bytes, rleTotals.encodeSeconds),
               mbps(rleTotals.bytes, rleTotals.decodeSeconds));
  std::fprintf(out, "  files\n    session    %s\n", mox::platform::nativePath(session).c_str());
  for (const auto& s : streams) std::fprintf(out, "    cine       %s\n", wideToUtf8(s->cineFile).c_str());
  std::fprintf(out, "    picture    %s\n", sheetFile.string().c_str());
  for (const auto& a : actionLogs) std::fprintf(out, "    actions    %s\n", a.c_str());
  std::fprintf(out, "    state dump %s\n", mox::platform::nativePath(dumper.file()).c_str());
  std::fprintf(out, "  all checks passed in %.2f s\n", total);
  return 0;
}

void addDemo(CLI::App& app, int& status) {
  auto* demo = app.add_subcommand("demo", "Run one acquisition session on a sample installation, end to end");
  auto root = std::make_shared<std::string>(MOX_DEFAULT_ROOT);
  auto outDir = std::make_shared<std::string>("mox-demo");
  demo->add_option("--root", *root, "Installation root (pathconfig.xml, settings/, frames/)")->capture_default_str();
  demo->add_option("--out", *outDir, "Folder for the session directory, cine files, picture and dumps")
      ->capture_default_str();
  demo->callback([root, outDir, &status] {
    try {
      status = runDemo(*root, *outDir);
    } catch (const std::exception& e) {  // a failed check, or no memory
      kelLoggerClass::terminate();
      status = fail(std::string("demo failed: ") + e.what());
    }
  });
}

}  // namespace

MOX_REGISTER_COMMANDS(addDemo);

}  // namespace mox::tool
