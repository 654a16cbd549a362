// A program that uses the installed library the way an application would,
// one service of each family, through the exported interface only.
#include <mox_utils/cine.h>
#include <mox_utils/compression.h>
#include <mox_utils/geometry.h>
#include <mox_utils/logging.h>
#include <mox_utils/metadata.h>
#include <mox_utils/paths.h>
#include <mox_utils/probes.h>
#include <mox_utils/serial.h>
#include <mox_utils/settings.h>
#include <mox_utils/time.h>
#include <mox_utils/xml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {
int failed(const char* what) {
  std::printf("consumer: %s failed\n", what);
  return 1;
}
}  // namespace

int main() {
  StringEnumHelper helper;
  helper.AddEnumValue(L"alpha", 1);
  if (helper.MapName(L"alpha") != 1) return failed("StringEnumHelper");

  // Without a logger every call is dropped.
  MOX_LOG(kelLogger::LOG_INFO)(L"dropped %d", 1);
  std::wstring directory;
  if (kelLogger::getCurrentDirectory(directory)) return failed("the logger's absence");

  // A cine ring on memory of its own, a frame in and out.
  CineBlock cine(4096);
  BlockSetup<CineBlock> setup = cine.SetupFrames();
  setup.lineSize = 16;
  setup.numLines = 16;
  cine.SetupFrames(setup);
  std::vector<unsigned char> frame(256);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 7);
  {
    CriticalSectionLock lock(cine.GetCriticalSection());
    if (cine.WriteFrame(frame.data(), 256, 0, 5, false) == nullptr) return failed("CineBlock::WriteFrame");
    if (cine.GetFrameCount() != 1 || std::memcmp(cine.GetData(0), frame.data(), 256) != 0)
      return failed("CineBlock::GetData");
  }

  // Both codecs round-trip the frame.
  HuffmanCompression huffman;
  unsigned char* packed = nullptr;
  int packedLength = 0;
  unsigned char* restored = nullptr;
  int restoredLength = 0;
  if (!huffman.compress(frame.data(), 256, &packed, packedLength) ||
      !huffman.uncompress(packed, packedLength, &restored, restoredLength) || restoredLength != 256 ||
      std::memcmp(restored, frame.data(), 256) != 0)
    return failed("HuffmanCompression");
  std::free(packed);
  std::free(restored);
  RLEEncoder rle;
  if (!rle.encode(frame.data(), 256, &packed, packedLength, 0) ||
      !rle.decode(packed, packedLength, &restored, restoredLength) || restoredLength != 256 ||
      std::memcmp(restored, frame.data(), 256) != 0)
    return failed("RLEEncoder");
  std::free(packed);
  std::free(restored);

  // Text forms, XML, store paths, the ring buffer, timers.
  const URect rect(1, 2, 3, 4);
  if (rect.ToString() != L"[R] 2, 4, 1, 3") return failed("URect::ToString");
  kelXMLFile xml;
  static const char kDocument[] = "<probes><probe id=\"3\"/></probes>";
  if (!xml.openBuffer(kDocument, sizeof kDocument - 1) || !xml.getRootElement().isValid()) return failed("kelXMLFile");
  kelPath::setPath(kelPath::Settings, L"/opt/scanner/settings");
  if (kelPath::getPath(kelPath::Settings, L"probes.xml").find(L"probes.xml") == std::wstring::npos)
    return failed("kelPath");
  CCircularBuffer ring(8);
  const unsigned char bytes[3] = {1, 2, 3};
  unsigned char back[3] = {};
  if (!ring.Write(bytes, 3) || !ring.Read(back, 3) || back[2] != 3) return failed("CCircularBuffer");
  HiResTimer timer;
  timer.start();
  timer.end();
  if (timer.getCount() != 1) return failed("HiResTimer");
  if (TimeStamp::Now() < TimeStamp::FromMilliseconds(1)) return failed("TimeStamp");
  std::puts("consumer ok");
  return 0;
}
