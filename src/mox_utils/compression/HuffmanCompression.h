// Lossless compression of one byte buffer (typically a frame) with a static
// Huffman code built for that buffer. The compressed buffer carries its own
// code tree, so every buffer decodes by itself.
//
// Compressed format (integers little-endian):
//   offset 0      u32  n, the uncompressed length (at least 1)
//   offset 4      u16  T, the number of dictionary entries (3 per tree node)
//   offset 6      T x u16 dictionary: triples (node id, first child, second
//                 child) in creation order; leaves are byte values 0..255 and
//                 the pad symbol 256, internal nodes 1000, 1001, ...; the
//                 root is the last triple
//   offset 6+2T   W x u32 code stream: the code of every input byte, most
//                 significant bit first, filling each word from its top bit;
//                 the last word is zero-filled below its bits
//
// Thread-safety: each call holds the instance's mutex for its whole
// duration, so one instance may serve several threads. Every instance has its
// own work tables (about 60 KB inside the object, and a scratch buffer for
// building the decoding table and decoding long streams that grows with the
// largest one seen), so different instances run concurrently.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "mox_utils/export.h"
#include "mox_utils/platform/Mutex.h"

namespace mox::detail {

// The decoding tables per 12-bit prefix of the stream, together so that the
// decoder reaches them all from one base register: up to eight symbols whose
// codes together fit into the prefix (first in the low byte), or the tree
// node reached after the whole prefix; the bits those codes take and their
// number (0 for a node); and for decoding one code per lookup, the first
// code's length and symbol (or the node reached).
struct HuffmanDecodeTable {
  static constexpr unsigned kBits = 12;
  std::uint64_t symbols[1u << kBits];
  unsigned char bits[1u << kBits];
  unsigned char count[1u << kBits];
  unsigned char firstLength[1u << kBits];
  unsigned char firstSymbol[1u << kBits];
};

}  // namespace mox::detail

class MOX_API HuffmanCompression {
 public:
  HuffmanCompression();
  // A copy shares the other object's mutex (as copying the handle does) and
  // has work tables of its own; the mutex is closed with its last sharer.
  HuffmanCompression(const HuffmanCompression& other);
  HuffmanCompression& operator=(const HuffmanCompression& other);
  ~HuffmanCompression();

  // Compresses `length` bytes. On success *out is a malloc block (release it
  // with free) of outLength bytes. False, with *out null, for a null input, a
  // length below 1 or a failed allocation. Every input accepted here
  // compresses: codes of up to 64 bits are packed across words.
  bool compress(const unsigned char* in, int length, unsigned char** out, int& outLength);

  // Restores a buffer made by compress(). The length of `in` is not known
  // here, so the buffer is trusted: a well-formed buffer decodes exactly and
  // nothing past its end is read; a damaged header or dictionary gives false,
  // a damaged code stream gives wrong output. Prefer the overload below for
  // data from outside the process. On success *out is a malloc block of n
  // bytes, outLength = n.
  bool uncompress(const unsigned char* in, unsigned char** out, int& outLength);

  // Restores a buffer of inLength bytes, validating everything: header,
  // dictionary (triple ids, children created before their parent, every node
  // but the root used exactly once) and code stream (long enough for n
  // bytes, no words beyond the last one used). False, with *out null and
  // outLength 0, for anything damaged; never reads outside `in`.
  bool uncompress(const unsigned char* in, int inLength, unsigned char** out, int& outLength);

  // Code streams of at least this many words are decoded by the checked
  // overload as kDecodeLanes interleaved segments, segment k starting at
  // word words * k / kDecodeLanes; shorter ones by one decoder. The trusted
  // overload does the same inside the part of its stream that n codes of
  // the shortest length fill, pass after pass, when that part is this long.
  static constexpr unsigned kLaneMinWords = 1024;
  static constexpr int kDecodeLanes = 4;

 protected:
  // The steps of compress() and uncompress(), for derived classes. The code
  // table here is 256 codes followed by 256 lengths, each 32 bits; codes
  // longer than 32 bits (only possible for inputs of millions of bytes with
  // extremely skewed counts) keep their low 32 bits in it, so these steps
  // suit only inputs whose codes fit; the public operations have no such
  // limit. Callers hold no lock: these use the instance's tables.
  unsigned short dictionary(const unsigned char* in, unsigned int length, unsigned int* tree, unsigned int* codes);
  unsigned int countCompress(const unsigned char* in, unsigned int length, unsigned short T, unsigned int* codes);
  unsigned int compress(const unsigned char* in, unsigned int length, unsigned short T, unsigned int* tree,
                        unsigned int* codes, unsigned char* out);
  unsigned int getSize(const unsigned char* in);
  // Decodes a trusted buffer into out (n bytes); 0 when its dictionary is
  // malformed.
  unsigned int unCompress(const unsigned char* in, unsigned char* out);

 private:
  static constexpr int kMaxTriples = 255;
  static constexpr int kMaxEntries = 3 * kMaxTriples;
  static constexpr unsigned kFirstInternalId = 1000;
  static constexpr unsigned kPadSymbol = 256;
  static constexpr int kTableBits = mox::detail::HuffmanDecodeTable::kBits;
  // Average code length (bits) from which long streams are decoded one code
  // per table lookup (for a trusted buffer: as the tree's shape implies).
  // Below it, entries that join symbols pay for building them.
  static constexpr double kOneCodeMinAverage = 6.5;

  void initArrays();
  void countBytes(const unsigned char* in, unsigned int length);
  void buildArrays();
  void buildByteTree();
  void quickSortD(int lo, int hi);
  void sortTwo(int lo);
  bool isNonIncreasing(int lo, int hi) const;
  void sortedQuickSortD(int lo, int hi);
  static void permuteRun(unsigned int* id, int length);
  void lastDisplacedQuickSortD(int lo, int hi);
  void displacedTailQuickSortD(int lo, int hi, int p);
  void reverseIds(int a, int b);
  int firstNotAbove(int lo, int end, unsigned int y) const;
  void runAround(int mid, int lo, int end, int& first, int& last) const;
  void sortRound(int k, bool sortedBeforeLast);
  void emulateRound(int k, int round, unsigned int y, unsigned int yId);
  bool closedFormRound(int round, unsigned int y, unsigned int yId);
  bool regionRound(int round, unsigned int y, unsigned int yId);
  void applyClosedForm(int round, unsigned int y, unsigned int yId);
  int listHeaviestFirst(unsigned int y, unsigned int yId);
  // Whether entries lo .. hi lie outside the places that an emulation is
  // limited to (none by default).
  bool outsideRegion(int lo, int hi) const { return hi < m_regionLo || lo > m_regionHi; }
  void findLongRuns();
  void writeUpRun(int first, int last, int round);
  void writeStaleRun(int first, int last, int round);
  void applyLighterRounds(unsigned int* ids, int length, int rounds);
  int upRunLast(int first) const;
  void buildCodes();
  std::uint64_t streamBits() const;
  void writeStream(const unsigned char* in, unsigned int length, unsigned char* out) const;
  static void D2W(const unsigned int* wide, unsigned char* narrow, int count);
  static void W2D(const unsigned char* narrow, unsigned int* wide, int count);

  // Reads and checks the dictionary at in + 6 (T entries) and builds the
  // decoding tables; false when it is not a tree of the expected shape.
  bool loadDictionary(const unsigned char* dictionary, unsigned int T);
  // Without joinSymbols only the first lengths and symbols are built, which
  // is all that decoding one code per lookup reads.
  // False when the work space for joining symbols cannot be had.
  bool buildDecodeTable(bool joinSymbols);
  // The scratch buffer, grown to at least `need` bytes (contents lost);
  // null when that fails.
  unsigned char* scratch(std::size_t need);
  template <bool kTrusted>
  bool decodeStream(const unsigned char* stream, std::uint64_t words, unsigned char* out, std::uint32_t n,
                    bool oneCodePerLookup);

  mox::platform::MutexHandle m_mutex;

  // Work tables of this instance. Guarded by m_mutex.
  unsigned int m_frequency[256];
  unsigned int m_activeId[257];
  unsigned int m_activeWeight[257];
  int m_activeCount;
  // Equal neighbours before each position: in a range being sorted, and in
  // the sorted part of a round's list.
  int m_roundEqualBefore[258];
  // Rounds in closed form: the sorted list lightest first in entries
  // m_upFirst .. m_upEnd - 1, and for each entry the round up to which its
  // run's ids are written out; the merged weight of each round; the
  // lightest weight of a run whose length rules out the closed form.
  static constexpr int kUpEntries = 3 * 257;
  unsigned int m_upWeight[kUpEntries];
  unsigned int m_upId[kUpEntries];
  std::uint16_t m_upStamp[kUpEntries];
  int m_upFirst;
  int m_upEnd;
  unsigned int m_roundWeight[kMaxTriples + 1];
  unsigned int m_longRunWeight;
  bool m_longRuns;
  int m_regionLo = 0;
  int m_regionHi = INT_MAX;  // whether some run is longer than the closed form's free length
  unsigned int m_tree[kMaxEntries];
  int m_treeEntries;
  std::uint64_t m_code[256];
  unsigned char m_codeLength[256];
  unsigned int m_maxCodeLength;
  // Decoding: each node's two children (a leaf is 0x8000 | byte, an internal
  // node its triple index), and the tables per prefix.
  std::uint16_t m_child[kMaxTriples][2];
  mox::detail::HuffmanDecodeTable m_decode;
  unsigned int m_minCodeLength;  // up to kTableBits: what the table resolves
  double m_impliedAverage = 0;   // code length, from the tree's shape alone
  // Output of the decoders that start inside the stream, or the tables of
  // every width while the decoding table is built (malloc block).
  unsigned char* m_scratch = nullptr;
  std::size_t m_scratchSize = 0;
};
