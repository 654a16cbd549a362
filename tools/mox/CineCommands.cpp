// mox cine: inspect cine files, turn their frames into pictures and build
// them from raw or PNG frames.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Png.h"
#include "Terminal.h"
#include "mox_utils/cine.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"

namespace mox::tool {

namespace {

using mox::platform::utf8ToWide;

constexpr std::size_t kListedAtEachEnd = 5;

std::wstring wide(const std::string& path) { return utf8ToWide(path); }

bool endsWithPng(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
  return tail == ".png";
}

// The cine file's block, or null after telling the user why.
std::unique_ptr<CineBlock> loadOrFail(const std::string& path) {
  if (!mox::platform::fileExists(wide(path))) {
    fail("cannot open " + path + (mox::platform::directoryExists(wide(path)) ? ": a directory" : ": no such file"));
    return nullptr;
  }
  std::unique_ptr<CineBlock> block(CineBlock::Load(wide(path).c_str()));
  if (!block) fail(path + ": not a cine file with frames (damaged header, no frames, or too large to load)");
  return block;
}

int runInfo(const std::string& path) {
  std::unique_ptr<CineBlock> block = loadOrFail(path);
  if (!block) return 1;
  std::FILE* out = userOut();
  const unsigned int count = static_cast<unsigned int>(block->GetFrameCount());
  const std::uint64_t frameBytes = std::uint64_t{block->GetLineSize()} * block->GetNumLines();
  std::fprintf(out, "file:       %s\n", path.c_str());
  std::fprintf(out, "line size:  %u bytes\n", block->GetLineSize());
  std::fprintf(out, "lines:      %u\n", block->GetNumLines());
  std::fprintf(out, "frame size: %llu bytes\n", static_cast<unsigned long long>(frameBytes));
  std::fprintf(out, "frames:     %u\n", count);
  std::fprintf(out, "%8s %7s %7s\n", "index", "id", "extra");
  for (unsigned int i = 0; i < count; ++i) {
    if (count > 2 * kListedAtEachEnd && i == kListedAtEachEnd) {
      std::fprintf(out, "%8s\n", "...");
      i = count - kListedAtEachEnd;
    }
    const CineBlock::Frame frame = block->GetFrame(i);
    std::fprintf(out, "%8u %7d %7d%s\n", i, frame.GetID(), frame.GetExtra(), frame.IsValid() ? "" : "  (empty)");
  }
  return 0;
}

int runExport(const std::string& path, const std::string& dir) {
  std::unique_ptr<CineBlock> block = loadOrFail(path);
  if (!block) return 1;
  if (!mox::platform::createDirectories(wide(dir))) return fail("cannot create directory " + dir);
  const unsigned int count = static_cast<unsigned int>(block->GetFrameCount());
  Progress progress("export", count);
  for (unsigned int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%05u.png", i);
    std::string error;
    if (!writeGrayPng(dir + name, block->GetData(i), block->GetLineSize(), block->GetNumLines(), &error)) {
      return fail(error);
    }
    progress.update(i + 1);
  }
  std::fprintf(userOut(), "%u frames written to %s\n", count, dir.c_str());
  return 0;
}

// The geometry from a name ending in "_<W>x<H>.<ext>", as raw frames are named.
bool geometryFromName(const std::string& path, unsigned int* lineSize, unsigned int* numLines) {
  const std::size_t dot = path.rfind('.');
  const std::size_t underscore = path.rfind('_', dot);
  if (dot == std::string::npos || underscore == std::string::npos) return false;
  unsigned int w = 0, h = 0;
  char tail = 0;
  const std::string size = path.substr(underscore + 1, dot - underscore - 1);
  if (std::sscanf(size.c_str(), "%ux%u%c", &w, &h, &tail) != 2 || w == 0 || h == 0) return false;
  *lineSize = w;
  *numLines = h;
  return true;
}

struct MakeOptions {
  std::string output;
  unsigned int lineSize = 0;
  unsigned int numLines = 0;
  std::vector<std::string> frames;
};

// One frame's bytes: a grayscale PNG of lineSize x numLines pixels or a raw
// file of exactly lineSize * numLines bytes.
bool readFrame(const std::string& path, unsigned int lineSize, unsigned int numLines, std::vector<unsigned char>* out,
               std::string* error) {
  const std::uint64_t frameBytes = std::uint64_t{lineSize} * numLines;
  if (endsWithPng(path)) {
    GrayImage image;
    if (!readGrayPng(path, &image, error)) return false;
    if (image.width != lineSize || image.height != numLines) {
      *error = path + ": picture of " + std::to_string(image.width) + " x " + std::to_string(image.height) +
               " pixels, frames are " + std::to_string(lineSize) + " x " + std::to_string(numLines);
      return false;
    }
    *out = std::move(image.pixels);
    return true;
  }
  std::string bytes;
  if (!mox::platform::readWholeFile(wide(path), &bytes, frameBytes + 1)) {
    *error = mox::platform::fileExists(wide(path))
                 ? path + ": larger than a frame of " + std::to_string(frameBytes) + " bytes"
                 : "cannot open " + path;
    return false;
  }
  if (bytes.size() != frameBytes) {
    *error = path + ": " + std::to_string(bytes.size()) + " bytes, a frame has " + std::to_string(frameBytes);
    return false;
  }
  out->assign(bytes.begin(), bytes.end());
  return true;
}

int runMake(MakeOptions options) {
  if (options.lineSize == 0 || options.numLines == 0) {
    unsigned int w = 0, h = 0;
    const std::string& first = options.frames.front();
    if (endsWithPng(first)) {
      GrayImage image;
      std::string error;
      if (!readGrayPng(first, &image, &error)) return fail(error);
      w = image.width;
      h = image.height;
    } else if (!geometryFromName(first, &w, &h)) {
      return fail("give --line-size and --num-lines: the size of " + first + " is not known");
    }
    if (options.lineSize == 0) options.lineSize = w;
    if (options.numLines == 0) options.numLines = h;
  }
  const std::uint64_t frameBytes = std::uint64_t{options.lineSize} * options.numLines;
  const std::uint64_t count = options.frames.size();
  if (count > 0x7FFF) return fail("at most 32767 frames fit a cine file's 16-bit frame IDs");
  const std::uint64_t blockBytes = (frameBytes + CineBlock::GetInfoSize()) * (count + 1);
  if (blockBytes > CineBlock::kMaxLoadBytes) {
    return fail("the frames need " + std::to_string(blockBytes) +
                " bytes of cine memory, more than a cine block holds");
  }
  CineBlock block(static_cast<unsigned int>(blockBytes));
  if (block.GetStartAddr() == nullptr) return fail("out of memory for " + std::to_string(blockBytes) + " bytes");
  BlockSetup<CineBlock> setup = block.SetupFrames();
  setup.lineSize = options.lineSize;
  setup.numLines = options.numLines;
  block.SetupFrames(setup);

  Progress progress("make", options.frames.size());
  std::vector<unsigned char> frame;
  for (std::size_t i = 0; i < options.frames.size(); ++i) {
    std::string error;
    if (!readFrame(options.frames[i], options.lineSize, options.numLines, &frame, &error)) return fail(error);
    block.WriteFrame(frame.data(), static_cast<unsigned int>(frameBytes), static_cast<short>(i), 0, false);
    progress.update(i + 1);
  }
  block.Save(wide(options.output).c_str());
  // Save reports nothing; the file it leaves (or not) tells.
  const std::uint64_t expected = 12 + count * (frameBytes + CineBlock::GetInfoSize());
  if (!mox::platform::fileExists(wide(options.output))) return fail("cannot write " + options.output);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> written(mox::platform::openFile(wide(options.output), "rb"),
                                                          &std::fclose);
  if (!written || std::fseek(written.get(), 0, SEEK_END) != 0 ||
      static_cast<std::uint64_t>(std::ftell(written.get())) != expected) {
    return fail("cannot write " + options.output);
  }
  std::fprintf(userOut(), "%llu frames of %u x %u written to %s\n", static_cast<unsigned long long>(count),
               options.lineSize, options.numLines, options.output.c_str());
  return 0;
}

int runCopy(const std::string& input, const std::string& output, std::optional<unsigned int> first,
            std::optional<unsigned int> last) {
  std::unique_ptr<CineBlock> block = loadOrFail(input);
  if (!block) return 1;
  if (first || last) {
    const unsigned int count = static_cast<unsigned int>(block->GetFrameCount());
    const unsigned int from = first.value_or(0);
    const unsigned int to = last.value_or(count - 1);
    if (from > to || to >= count) {
      return fail("frames " + std::to_string(from) + " to " + std::to_string(to) + " are not in " + input + " (" +
                  std::to_string(count) + " frames)");
    }
    const std::uint64_t frameBytes = std::uint64_t{block->GetLineSize()} * block->GetNumLines();
    auto part = std::make_unique<CineBlock>(
        static_cast<unsigned int>((frameBytes + CineBlock::GetInfoSize()) * (std::uint64_t{to} - from + 2)));
    if (!part->SetupFrames(block.get(), from, to)) return fail("out of memory for the frames of " + input);
    block = std::move(part);
  }
  block->Save(wide(output).c_str());
  if (!mox::platform::fileExists(wide(output))) return fail("cannot write " + output);
  std::fprintf(userOut(), "%d frames written to %s\n", block->GetFrameCount(), output.c_str());
  return 0;
}

void addCine(CLI::App& app, int& status) {
  CLI::App* cine = app.add_subcommand("cine", "Inspect, export and build cine files");
  cine->require_subcommand(1);

  auto* info = cine->add_subcommand("info", "Show a cine file's geometry and frames");
  auto infoFile = std::make_shared<std::string>();
  info->add_option("FILE", *infoFile, "cine file")->required();
  info->callback([&status, infoFile] { status = runInfo(*infoFile); });

  auto* exportCmd = cine->add_subcommand("export", "Write every frame as an 8-bit grayscale PNG");
  auto exportFile = std::make_shared<std::string>();
  auto exportDir = std::make_shared<std::string>();
  exportCmd->add_option("FILE", *exportFile, "cine file")->required();
  exportCmd->add_option("DIR", *exportDir, "directory for frame-NNNNN.png (created if missing)")->required();
  exportCmd->callback([&status, exportFile, exportDir] { status = runExport(*exportFile, *exportDir); });

  auto* make = cine->add_subcommand("make", "Build a cine file from raw (.gray) or PNG frames");
  auto makeOptions = std::make_shared<MakeOptions>();
  make->add_option("-o,--output", makeOptions->output, "cine file to write")->required();
  make->add_option("--line-size", makeOptions->lineSize,
                   "bytes per line (default: from the first frame's PNG size or _WxH name)");
  make->add_option("--num-lines", makeOptions->numLines, "lines per frame (default: as --line-size)");
  make->add_option("FRAMES", makeOptions->frames, "frames, oldest first; IDs count from 0")->required();
  make->callback([&status, makeOptions] { status = runMake(*makeOptions); });

  auto* copy = cine->add_subcommand("copy", "Load a cine file and save it again, or a range of its frames");
  auto copyIn = std::make_shared<std::string>();
  auto copyOut = std::make_shared<std::string>();
  auto first = std::make_shared<std::optional<unsigned int>>();
  auto last = std::make_shared<std::optional<unsigned int>>();
  copy->add_option("FILE", *copyIn, "cine file")->required();
  copy->add_option("OUTPUT", *copyOut, "cine file to write")->required();
  copy->add_option("--first", *first, "first frame to keep (default 0)");
  copy->add_option("--last", *last, "last frame to keep (default the newest)");
  copy->callback([&status, copyIn, copyOut, first, last] { status = runCopy(*copyIn, *copyOut, *first, *last); });
}

}  // namespace

MOX_REGISTER_COMMANDS(addCine);

}  // namespace mox::tool
