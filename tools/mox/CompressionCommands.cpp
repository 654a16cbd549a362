// mox compress / decompress: one buffer with either codec; mox cine
// compress: every frame of a cine file with both codecs, round trips checked.
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "Terminal.h"
#include "mox_utils/cine/CineBlock.h"
#include "mox_utils/compression.h"
#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"

namespace mox::tool {
namespace {

struct MallocFree {
  void operator()(unsigned char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, MallocFree>;

struct CodecArgs {
  std::string codec = "huffman";
  std::string in;
  std::string out;
};

bool readInput(const std::string& path, std::string* data, std::string* error) {
  if (!platform::readWholeFile(platform::utf8ToWide(path), data, INT_MAX)) {
    *error = path + ": cannot read the file (missing, unreadable or 2 GiB or larger)";
    return false;
  }
  return true;
}

int runCompress(const CodecArgs& args) {
  std::string data, error;
  if (!readInput(args.in, &data, &error)) return fail(error);
  if (data.empty()) return fail(args.in + ": the file is empty; there is nothing to compress");
  auto* bytes = reinterpret_cast<unsigned char*>(data.data());
  unsigned char* out = nullptr;
  int outLength = 0;
  bool ok;
  if (args.codec == "huffman") {
    HuffmanCompression codec;
    ok = codec.compress(bytes, static_cast<int>(data.size()), &out, outLength);
  } else {
    RLEEncoder codec;
    ok = codec.encode(bytes, static_cast<int>(data.size()), &out, outLength, 0);
  }
  Buffer owned(out);
  if (!ok) return fail(args.in + ": " + args.codec + " compression failed (out of memory)");
  if (!platform::writeFileAtomically(platform::utf8ToWide(args.out), out, static_cast<std::size_t>(outLength))) {
    return fail(args.out + ": cannot write the file");
  }
  std::fprintf(userOut(), "%s: %zu -> %d bytes (ratio %.3f)\n", args.out.c_str(), data.size(), outLength,
               double(data.size()) / outLength);
  return 0;
}

int runDecompress(const CodecArgs& args) {
  std::string data, error;
  if (!readInput(args.in, &data, &error)) return fail(error);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  unsigned char* out = nullptr;
  int outLength = 0;
  bool ok;
  if (args.codec == "huffman") {
    HuffmanCompression codec;
    ok = codec.uncompress(bytes, static_cast<int>(data.size()), &out, outLength);
  } else {
    RLEEncoder codec;
    ok = codec.decode(bytes, static_cast<int>(data.size()), &out, outLength);
  }
  Buffer owned(out);
  if (!ok) return fail(args.in + ": not a valid " + args.codec + " stream (damaged or of the other codec)");
  if (!platform::writeFileAtomically(platform::utf8ToWide(args.out), out, static_cast<std::size_t>(outLength))) {
    return fail(args.out + ": cannot write the file");
  }
  std::fprintf(userOut(), "%s: %zu -> %d bytes\n", args.out.c_str(), data.size(), outLength);
  return 0;
}

struct CodecTotals {
  std::uint64_t in = 0;
  std::uint64_t out = 0;
  double encodeSeconds = 0;
  double decodeSeconds = 0;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int runCineCompress(const std::string& path) {
  std::unique_ptr<CineBlock> block(CineBlock::Load(platform::utf8ToWide(path).c_str()));
  if (!block) return fail(path + ": not a readable cine file");
  const unsigned int frames = block->GetMaxFrames();
  const unsigned int size = block->GetDataSize();
  if (frames == 0 || size == 0 || size > INT_MAX) return fail(path + ": the cine file holds no frames");

  HuffmanCompression huffman;
  RLEEncoder rle;
  CodecTotals totals[2];
  std::vector<unsigned char> previous(size, 0), frame(size);
  Progress progress("compress", frames);
  for (unsigned int i = 0; i < frames; ++i) {
    std::memcpy(frame.data(), block->GetData(i), size);
    const int n = static_cast<int>(size);
    unsigned char* packed = nullptr;
    unsigned char* restored = nullptr;
    int packedLength = 0, restoredLength = 0;

    auto start = std::chrono::steady_clock::now();
    const bool encoded = huffman.compress(frame.data(), n, &packed, packedLength);
    totals[0].encodeSeconds += secondsSince(start);
    Buffer packedOwner(packed);
    start = std::chrono::steady_clock::now();
    const bool decoded = encoded && huffman.uncompress(packed, packedLength, &restored, restoredLength);
    totals[0].decodeSeconds += secondsSince(start);
    Buffer restoredOwner(restored);
    if (!decoded || restoredLength != n || std::memcmp(restored, frame.data(), size) != 0) {
      return fail(path + ": frame " + std::to_string(i) + ": huffman round trip failed");
    }
    totals[0].in += size;
    totals[0].out += static_cast<std::uint64_t>(packedLength);

    // The run-length coder works against the previous frame; its decoder
    // returns the difference, which the previous frame turns back into this one.
    start = std::chrono::steady_clock::now();
    const bool rleEncoded = rle.encode(frame.data(), n, &packed, packedLength, 0);
    totals[1].encodeSeconds += secondsSince(start);
    packedOwner.reset(packed);
    start = std::chrono::steady_clock::now();
    const bool rleDecoded = rleEncoded && rle.decode(packed, packedLength, &restored, restoredLength);
    totals[1].decodeSeconds += secondsSince(start);
    restoredOwner.reset(restored);
    bool same = rleDecoded && restoredLength == n;
    for (unsigned int k = 0; same && k < size; ++k) same = (restored[k] ^ previous[k]) == frame[k];
    if (!same) return fail(path + ": frame " + std::to_string(i) + ": rle round trip failed");
    totals[1].in += size;
    totals[1].out += static_cast<std::uint64_t>(packedLength);
    previous.swap(frame);
    progress.update(i + 1);
  }
  std::fprintf(userOut(), "%s: %u frames of %u bytes, every round trip exact\n", path.c_str(), frames, size);
  const char* names[2] = {"huffman", "rle"};
  for (int c = 0; c < 2; ++c) {
    const CodecTotals& t = totals[c];
    const double megabytes = double(t.in) / 1e6;
    std::fprintf(userOut(), "  %-8s ratio %.3f  encode %.0f MB/s  decode %.0f MB/s\n", names[c],
                 double(t.in) / double(t.out), t.encodeSeconds > 0 ? megabytes / t.encodeSeconds : 0.0,
                 t.decodeSeconds > 0 ? megabytes / t.decodeSeconds : 0.0);
  }
  return 0;
}

void addCodecOptions(CLI::App* command, CodecArgs& args, const char* what) {
  command->add_option("--codec", args.codec, "huffman or rle (rle codes the buffer against zeros)")
      ->check(CLI::IsMember({"huffman", "rle"}))
      ->capture_default_str();
  command->add_option("IN", args.in, std::string("file to ") + what)->required();
  command->add_option("OUT", args.out, "file to write (replaced atomically)")->required();
}

void addCompression(CLI::App& app, int& status) {
  auto compressArgs = std::make_shared<CodecArgs>();
  CLI::App* compress = app.add_subcommand("compress", "compress one buffer with the huffman or rle codec");
  addCodecOptions(compress, *compressArgs, "compress");
  compress->callback([compressArgs, &status] { status = runCompress(*compressArgs); });

  auto decompressArgs = std::make_shared<CodecArgs>();
  CLI::App* decompress = app.add_subcommand("decompress", "restore a buffer made by mox compress");
  addCodecOptions(decompress, *decompressArgs, "restore");
  decompress->callback([decompressArgs, &status] { status = runDecompress(*decompressArgs); });

  // "cine" may be added by another family too: share it.
  CLI::App* cine = nullptr;
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    if (sub->get_name() == "cine") cine = sub;
  }
  if (cine == nullptr) {
    cine = app.add_subcommand("cine", "inspect, convert and compress cine files");
    cine->require_subcommand(1);
  }
  auto cinePath = std::make_shared<std::string>();
  CLI::App* cineCompress = cine->add_subcommand(
      "compress", "code every frame with both codecs, check the round trips, show ratio and speed");
  cineCompress->add_option("FILE", *cinePath, "cine file")->required();
  cineCompress->callback([cinePath, &status] { status = runCineCompress(*cinePath); });
}

MOX_REGISTER_COMMANDS(addCompression);

}  // namespace
}  // namespace mox::tool
