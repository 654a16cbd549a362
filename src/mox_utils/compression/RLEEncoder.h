// Lossless coding of successive frames of up to 16 independent streams
// (channels): each frame is combined by exclusive-or with the previous frame
// of its channel, so that unchanged areas become zero bytes, and the
// difference is run-length coded into a stream of 32-bit words. Decoding
// returns the difference; the caller combines it with its previous frame.
//
// Encoded format (integers little-endian):
//   offset 0   u32  n, the decoded length (at least 1)
//   offset 4   W x u32 code stream, one code per run in data order, each most
//              significant bit first, filling each word from its top bit; the
//              last word is zero-filled below its bits
// Codes: a single byte is 9 bits, 1 and the byte; a run of L equal bytes,
// 2 <= L <= 1023, is 19 bits, L in 11 bits and the byte. Longer runs are
// split greedily into runs of 1023 and the rest.
//
// Thread-safety: encode and decode hold the instance's mutex for their whole
// duration, so one encoder may serve several threads.
#pragma once

#include <cstdint>

#include "mox_utils/export.h"
#include "mox_utils/platform/Mutex.h"

class MOX_API RLEEncoder {
 public:
  // Width of a run code in bits; a run code holds at most
  // (1 << (kRunCodeBits - 9)) - 1 = 1023 bytes.
  static constexpr int kRunCodeBits = 19;
  static constexpr int kChannels = 16;

  RLEEncoder();
  // Copies share the other encoder's mutex (as copying the handle does) and
  // take deep copies of its previous frames, so both continue the same
  // channels independently and each frees only its own buffers. Should copying a previous frame fail
  // for lack of memory, that channel starts afresh (coded against zeros).
  RLEEncoder(const RLEEncoder& other);
  RLEEncoder& operator=(const RLEEncoder& other);
  ~RLEEncoder();

  // Encodes one frame of `channel` (0..15) against the channel's previous
  // frame of the same length, or against zeros for its first frame and after
  // a change of length. On success *out is a malloc block (release it with
  // free) of outLength bytes. A channel outside 0..15 returns false and
  // touches nothing; a null frame, a length below 1 or a failed allocation
  // returns false with *out null and the channel unchanged.
  bool encode(unsigned char* data, int length, unsigned char** out, int& outLength, int channel);

  // Decodes an encoded buffer into the exclusive-or difference (n bytes, a
  // malloc block in *out, outLength = n). The buffer's length is not known
  // here, so it is trusted: a well-formed buffer decodes exactly and nothing
  // past its end is read; a damaged one may give wrong output or false.
  // Prefer the overload below for data from outside the process.
  bool decode(unsigned char* in, unsigned char** out, int& outLength);

  // Decodes a buffer of inLength bytes, validating it: the header, every
  // code (no empty run, no run past n bytes) and the stream length (enough
  // codes for n bytes, no words after the last one used). False, with *out
  // null and outLength 0, for anything damaged; never reads outside `in`.
  // Also the faster of the two.
  bool decode(const unsigned char* in, int inLength, unsigned char** out, int& outLength);

 protected:
  void doXor(unsigned char* result, unsigned char* a, unsigned char* b, int length);
  unsigned int EncodedRunLength(unsigned char* data, unsigned int length);
  unsigned int RunLengthEncode(unsigned char* data, unsigned int length, unsigned char* out);
  unsigned int DecodedRunLength(unsigned char* in);
  // Decodes a trusted buffer into out (n bytes); 0 when a code is malformed.
  unsigned int RunLengthDecode(unsigned char* in, unsigned char* out);

 private:
  void copyFramesFrom(const RLEEncoder& other);
  void releaseFrames();

  mox::platform::MutexHandle m_mutex;
  unsigned char* m_previousFrame[kChannels];  // Guarded by m_mutex.
  int m_previousFrameSize[kChannels];         // Guarded by m_mutex.
};
