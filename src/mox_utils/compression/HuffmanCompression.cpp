#include "mox_utils/compression/HuffmanCompression.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <utility>

#include "mox_utils/compression/CodecSupport.h"

#if MOX_AVX2_DISPATCH
#include <immintrin.h>
#endif

using mox::detail::loadLE16;
using mox::detail::loadLE32;
using mox::detail::storeLE16;
using mox::detail::storeLE32;
using mox::detail::storeLE64;
using mox::detail::streamWindow;
using mox::detail::streamWord;

namespace {

constexpr std::uint32_t kLeafFlag = 0x8000;
// Symbols per decoding table entry at most, and the output room that a
// decoding step needs: five lookups each store all eight bytes of their
// entry, a run step (a run of the shortest code, see RunCode) stores 64.
constexpr unsigned kMaxJoined = 8;
constexpr unsigned kRunRoom = 64;
constexpr unsigned kStepRoom = 5 * kMaxJoined > kRunRoom ? 5 * kMaxJoined : kRunRoom;
// First length of a prefix that ends inside a longer code: the prefix's
// length with a flag that survives a sum of five lengths.
constexpr unsigned kNodeLength = 0x80 | mox::detail::HuffmanDecodeTable::kBits;

}  // namespace

HuffmanCompression::HuffmanCompression() : m_mutex(mox::platform::MutexHandle::create()) {}

HuffmanCompression::HuffmanCompression(const HuffmanCompression& other) : m_mutex(other.m_mutex) {}

HuffmanCompression& HuffmanCompression::operator=(const HuffmanCompression& other) {
  // Sharing the handle is safe: the handle counts its sharers and the mutex
  // is closed with the last one. The work tables and the scratch buffer stay
  // this object's own.
  m_mutex = other.m_mutex;
  return *this;
}

HuffmanCompression::~HuffmanCompression() {
  std::free(m_scratch);
  m_mutex.close();
}

void HuffmanCompression::initArrays() {
  std::memset(m_frequency, 0, sizeof m_frequency);
  std::memset(m_code, 0, sizeof m_code);
  std::memset(m_codeLength, 0, sizeof m_codeLength);
  m_activeCount = 0;
  m_treeEntries = 0;
  m_maxCodeLength = 0;
}

void HuffmanCompression::countBytes(const unsigned char* in, unsigned int length) {
  // Four tables break the dependency between neighbouring equal bytes; runs
  // of one value (blank image areas) are counted eight bytes per step in a
  // register instead.
  std::uint32_t counts[4][256] = {};
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  unsigned int i = 0;
  while (i + 8 <= length) {
    std::uint64_t word;
    std::memcpy(&word, in + i, 8);
    if (word == (word & 0xFF) * kOnes) {
      unsigned int run = 8;
      for (;;) {
        std::uint64_t next;
        if (i + run + 8 > length) break;
        std::memcpy(&next, in + i + run, 8);
        if (next != word) break;
        run += 8;
      }
      counts[0][word & 0xFF] += run;
      i += run;
      continue;
    }
    // Not a run: this word and up to three more without looking for one.
    const unsigned int end = i + 32 <= length ? i + 32 : i + 8;
    for (;;) {
      ++counts[0][word & 0xFF];
      ++counts[1][(word >> 8) & 0xFF];
      ++counts[2][(word >> 16) & 0xFF];
      ++counts[3][(word >> 24) & 0xFF];
      ++counts[0][(word >> 32) & 0xFF];
      ++counts[1][(word >> 40) & 0xFF];
      ++counts[2][(word >> 48) & 0xFF];
      ++counts[3][word >> 56];
      i += 8;
      if (i == end) break;
      std::memcpy(&word, in + i, 8);
    }
  }
  for (; i < length; ++i) ++counts[0][in[i]];
  for (int v = 0; v < 256; ++v) m_frequency[v] = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
}

void HuffmanCompression::buildArrays() {
  m_activeCount = 0;
  for (unsigned v = 0; v < 256; ++v) {
    if (m_frequency[v] != 0) {
      m_activeId[m_activeCount] = v;
      m_activeWeight[m_activeCount] = m_frequency[v];
      ++m_activeCount;
    }
  }
  if (m_activeCount == 1) {
    // A lone value still needs a root with two children.
    m_activeId[1] = kPadSymbol;
    m_activeWeight[1] = 1;
    m_activeCount = 2;
  }
}

// The partition scheme of quickSortD (below) on two entries exchanges them
// unless the first is heavier. Ranges of two are common in every partition
// below, and are done in place of a call.
MOX_ALWAYS_INLINE void HuffmanCompression::sortTwo(int lo) {
  if (outsideRegion(lo, lo + 1)) return;
  unsigned int* w = m_activeWeight;
  unsigned int* id = m_activeId;
  if (w[lo + 1] >= w[lo]) {
    std::swap(w[lo], w[lo + 1]);
    std::swap(id[lo], id[lo + 1]);
  }
}

// Descending by weight with Hoare's partition around the middle weight. The
// partition swaps equal weights too, and the resulting order of equal
// entries decides the shape of the stored tree, so this exact scheme is part
// of the format. Every round of the tree build sorts a list that is already
// sorted but for one merged entry, so ranges found in order go to an
// equivalent shortcut.
void HuffmanCompression::quickSortD(int lo, int hi) {
  for (;;) {
    if (outsideRegion(lo, hi)) return;
    if (hi == lo + 1) {
      sortTwo(lo);
      return;
    }
    if (isNonIncreasing(lo, hi)) {
      sortedQuickSortD(lo, hi);
      return;
    }
    int i = lo;
    int j = hi;
    const unsigned int pivot = m_activeWeight[(lo + hi) / 2];
    do {
      while (m_activeWeight[i] > pivot) ++i;
      while (m_activeWeight[j] < pivot) --j;
      if (i <= j) {
        const unsigned int w = m_activeWeight[i];
        m_activeWeight[i] = m_activeWeight[j];
        m_activeWeight[j] = w;
        const unsigned int id = m_activeId[i];
        m_activeId[i] = m_activeId[j];
        m_activeId[j] = id;
        ++i;
        --j;
      }
    } while (i <= j);
    if (j == lo + 1) {
      sortTwo(lo);
    } else if (lo < j) {
      quickSortD(lo, j);
    }
    if (i >= hi) return;
    lo = i;
  }
}

// From the end: an out-of-order entry usually sits there (the merged one, or
// a pivot value swapped to the end of a range).
bool HuffmanCompression::isNonIncreasing(int lo, int hi) const {
  for (int k = hi; k > lo; --k) {
    if (m_activeWeight[k - 1] < m_activeWeight[k]) return false;
  }
  return true;
}

// On a range already in non-increasing order the scheme above never moves a
// weight: i stops at the first entry equal to the pivot, j at the last, so
// every swap exchanges equal weights. A partition reverses the ids of the
// pivot's run of equal weights and leaves i and j half the run's length past
// its ends, so the run's halves end up at the edges of the two parts, each a
// whole run there; a run not containing the pivot lies wholly inside one
// part. Every run is therefore met exactly as a pivot run once, and its ids
// get one fixed permutation that depends on its length alone: reversal,
// then the same on its first and its last floor(L/2) entries (an
// involution). Runs are found by a scan, not by the partitions.
void HuffmanCompression::sortedQuickSortD(int lo, int hi) {
  if (outsideRegion(lo, hi)) return;
  const unsigned int* w = m_activeWeight;
  int a = lo;
  while (a < hi) {
    if (w[a] != w[a + 1]) {
      ++a;
      continue;
    }
    int b = a + 1;
    while (b < hi && w[b + 1] == w[a]) ++b;
    permuteRun(m_activeId + a, b - a + 1);
    a = b + 1;
  }
}

void HuffmanCompression::permuteRun(unsigned int* id, int length) {
  switch (length) {
    case 2:
    case 3:
      std::swap(id[0], id[length - 1]);
      return;
    case 4:  // reversed, then each pair swapped back: the halves exchange
      std::swap(id[0], id[2]);
      std::swap(id[1], id[3]);
      return;
    default:
      std::reverse(id, id + length);
      permuteRun(id, length / 2);
      permuteRun(id + length - length / 2, length / 2);
      return;
    case 0:
    case 1:
      return;
  }
}

MOX_ALWAYS_INLINE void HuffmanCompression::reverseIds(int a, int b) {
  for (; a < b; ++a, --b) std::swap(m_activeId[a], m_activeId[b]);
}

// In entries lo .. end, sorted: the first whose weight is not above y (end
// if none is).
MOX_ALWAYS_INLINE int HuffmanCompression::firstNotAbove(int lo, int end, unsigned int y) const {
  const unsigned int* w = m_activeWeight;
  while (lo < end) {
    const int m = (lo + end) / 2;
    if (w[m] > y) {
      lo = m + 1;
    } else {
      end = m;
    }
  }
  return lo;
}

// The run of entries equal to entry mid, within lo .. end.
MOX_ALWAYS_INLINE void HuffmanCompression::runAround(int mid, int lo, int end, int& first, int& last) const {
  const unsigned int* w = m_activeWeight;
  first = mid;
  while (first > lo && w[first - 1] == w[mid]) --first;
  last = mid;
  while (last < end && w[last + 1] == w[mid]) ++last;
}

// A round's list is the previous round's sorted list with its last two
// entries merged into one at the end. On a range sorted but for its last
// entry y, Hoare's partition again follows from the positions: i stops at
// the first entry of the pivot's run [first, last] in the sorted part; if y
// is below the pivot, j passes it and stops at `last`, and the run is
// reversed as in a sorted range; otherwise y and the run's first entry are
// swapped and the rest of the run is reversed. Either way the right part is
// again sorted but for its last entry (y, or the pivot value moved there),
// and so is the left part unless y lands before three or more equal
// entries, which goes to the general scheme. Weights move only at the ends
// of ranges, so the counts of equal neighbours taken at the start of the
// round stay valid for every sorted part.
void HuffmanCompression::lastDisplacedQuickSortD(int lo, int hi) {
  unsigned int* w = m_activeWeight;
  unsigned int* id = m_activeId;
  while (lo < hi) {
    if (outsideRegion(lo, hi)) return;
    if (hi == lo + 1) {
      sortTwo(lo);
      return;
    }
    if (w[hi - 1] >= w[hi]) {
      sortedQuickSortD(lo, hi);
      return;
    }
    if (m_roundEqualBefore[hi - 1] == m_roundEqualBefore[lo]) {
      // All weights distinct (y too): any sort gives the one descending
      // order, so y is simply inserted.
      const unsigned int y = w[hi];
      const int at = firstNotAbove(lo, hi - 1, y);
      if (w[at] != y) {
        const unsigned int yId = id[hi];
        std::memmove(w + at + 1, w + at, sizeof(unsigned int) * (hi - at));
        std::memmove(id + at + 1, id + at, sizeof(unsigned int) * (hi - at));
        w[at] = y;
        id[at] = yId;
        return;
      }
    }
    const int mid = (lo + hi) / 2;
    const unsigned int pivot = w[mid];
    int first, last;
    runAround(mid, lo, hi - 1, first, last);
    const int run = last - first + 1;
    int i, j;
    if (w[hi] < pivot) {
      reverseIds(first, last);
      const int steps = (run + 1) / 2;
      i = first + steps;
      j = last - steps;
      if (j == lo + 1) {
        sortTwo(lo);
      } else if (lo < j) {
        sortedQuickSortD(lo, j);
      }
    } else {
      std::swap(w[first], w[hi]);
      std::swap(id[first], id[hi]);
      reverseIds(first + 1, last);
      const int steps = run / 2;
      i = first + 1 + steps;
      j = last - steps;
      if (j == lo + 1) {
        sortTwo(lo);
      } else if (lo < j) {
        displacedTailQuickSortD(lo, j, first);
      }
    }
    if (i >= hi) return;
    lo = i;
  }
}

// The left part of a partition in which y moved to the front of a run of
// three or more: a sorted prefix [lo, p), y at p, and a tail (p, hi] of
// equal weights v, below every other weight of the range. Hoare's partition
// keeps this shape too, whichever entry the middle is:
// - in the tail: the tail is reversed and split in two halves, the right
//   one a sorted part and the left one the new tail;
// - in the prefix, above y: the pivot's run is reversed as in a sorted
//   range, the left part is sorted and the right part keeps the shape;
// - in the prefix, not above y: y changes place with the run's first entry
//   and the rest of the run is reversed; the left part has the same shape
//   with y displaced, the right part with the pivot value at p;
// - y itself: y changes place with the first prefix entry not above it,
//   which becomes the displaced one; the rare case of an equal weight in
//   the prefix goes to the general scheme.
// Weights are read only at the prefix, whose positions still hold the
// round's sorted weights, so a part without tail goes on as before.
void HuffmanCompression::displacedTailQuickSortD(int lo, int hi, int p) {
  unsigned int* w = m_activeWeight;
  unsigned int* id = m_activeId;
  while (lo < hi) {
    if (outsideRegion(lo, hi)) return;
    if (p == lo || w[p - 1] >= w[p]) {
      sortedQuickSortD(lo, hi);
      return;
    }
    if (p == hi) {
      lastDisplacedQuickSortD(lo, hi);
      return;
    }
    const int mid = (lo + hi) / 2;
    if (mid > p) {
      const int steps = (hi - p + 1) / 2;
      reverseIds(p + 1, hi);
      const int i = p + 1 + steps;
      if (i < hi) sortedQuickSortD(i, hi);
      hi -= steps;
      continue;
    }
    const unsigned int y = w[p];
    if (mid == p) {
      // The prefix ends below y, so some entry of it is not above y.
      const int q = firstNotAbove(lo, p - 1, y);
      if (w[q] == y) {
        quickSortD(lo, hi);
        return;
      }
      std::swap(w[q], w[p]);
      std::swap(id[q], id[p]);
      if (lo < q) sortedQuickSortD(lo, q);
      lo = q + 1;
      continue;
    }
    const unsigned int pivot = w[mid];
    int first, last;
    runAround(mid, lo, p - 1, first, last);
    if (y < pivot) {
      reverseIds(first, last);
      const int steps = (last - first + 2) / 2;
      const int j = last - steps;
      if (lo < j) sortedQuickSortD(lo, j);
      lo = first + steps;
      continue;
    }
    std::swap(w[first], w[p]);
    std::swap(id[first], id[p]);
    reverseIds(first + 1, last);
    const int steps = (last - first + 1) / 2;
    const int j = last - steps;
    if (lo < j) displacedTailQuickSortD(lo, j, first);
    lo = first + 1 + steps;
  }
}

// A round's list is sorted but for its last entry, except in the first
// round; the counts of equal neighbours are those of the sorted part.
void HuffmanCompression::sortRound(int k, bool sortedBeforeLast) {
  if (k >= 3 && (sortedBeforeLast || isNonIncreasing(0, k - 2))) {
    int* equalBefore = m_roundEqualBefore;
    const unsigned int* w = m_activeWeight;
    equalBefore[0] = 0;
    for (int x = 1; x <= k - 2; ++x) equalBefore[x] = equalBefore[x - 1] + (w[x - 1] == w[x] ? 1 : 0);
    lastDisplacedQuickSortD(0, k - 1);
  } else {
    quickSortD(0, k - 1);
  }
}

// Most rounds need no partitioning at all. Let y be the round's merged
// weight. If y differs from every weight of the sorted part, the scheme
// above ends in a fixed arrangement: each run of equal weights heavier than
// y gets the permutation of a sorted range (permuteRun), y follows them, and
// each lighter run moves one place down with a fixed permutation of its
// length (the one a run gets with a heavier entry after it). If y equals a
// run's weight, it joins that run at its end and the joined run gets the
// sorted-range permutation. This holds as long as every lighter run of L > 4
// entries has L - 4 single entries just above it; otherwise the run's
// partitions reach into the runs above it and the round is emulated. (All
// checked against the partition scheme on every list of up to 18 entries,
// of up to 22 with runs of up to ten, and on millions of random lists of up
// to 256.)
//
// Merged weights never decrease from round to round, so a run is heavier
// than y for its first rounds and lighter for the rest: since its ids were
// last written out it has had a permutations of the first kind and then b
// of the second, a and b found from the rounds' weights. Ids are written
// out only when the run is read (the two lightest entries), joined, or the
// round is emulated.
//
// Such rounds keep the sorted list lightest first in m_up*: the two
// lightest entries leave by moving its start on, and y goes in by moving
// whichever side of its place is shorter. Runs keep their heaviest-first
// order in mind: a run stored at first .. last has its entry x (heaviest
// first) at last - x.
namespace {
constexpr int kFreeRun = 4;  // runs up to this long follow the rule anywhere
// For lighter runs up to kFreeRun long, new position x takes the id from
// old position [x].
constexpr unsigned char kLighterRunOrder[kFreeRun + 1][kFreeRun] = {{0}, {0}, {1, 0}, {2, 0, 1}, {3, 2, 0, 1}};
constexpr int kLighterRunPeriod[kFreeRun + 1] = {1, 1, 2, 3, 4};
constexpr int kUpStart = 257;  // room below for a round moving entries down
constexpr int kFindBlock = 32;
}  // namespace

// The run starting at `first`: its last entry.
MOX_ALWAYS_INLINE int HuffmanCompression::upRunLast(int first) const {
  int last = first;
  while (last + 1 < m_upEnd && m_upWeight[last + 1] == m_upWeight[first]) ++last;
  return last;
}

// The lightest weight of a run longer than kFreeRun without enough single
// entries above it (UINT_MAX if none): rounds with a heavier y are emulated.
void HuffmanCompression::findLongRuns() {
  const unsigned int* w = m_upWeight;
  const int end = m_upEnd - kFreeRun;  // a long run starts before this
  m_longRuns = false;
  m_longRunWeight = UINT_MAX;
  for (int x = m_upFirst; x < end;) {
    // Blocks without the start of a long run (nearly all) in one test.
    if (x + kFindBlock <= end) {
      unsigned int any = 0;  // not a bool, so that the loop vectorises
      for (int a = x; a < x + kFindBlock; ++a) any |= w[a] == w[a + kFreeRun] ? 1u : 0u;
      if (any == 0) {
        x += kFindBlock;
        continue;
      }
    }
    if (w[x] != w[x + kFreeRun]) {
      ++x;
      continue;
    }
    m_longRuns = true;
    const int last = upRunLast(x);  // x is the run's first entry
    const int above = last - x + 1 - kFreeRun;
    bool single = true;
    for (int a = last + 1; a <= last + above && a + 1 < m_upEnd; ++a) single = single && w[a] != w[a + 1];
    if (!single) m_longRunWeight = std::min(m_longRunWeight, w[x]);
    x = last + 1;
  }
}

// Brings the ids of the run first .. last up to date with `round`.
MOX_ALWAYS_INLINE void HuffmanCompression::writeUpRun(int first, int last, int round) {
  if (first != last && m_upStamp[first] != round) writeStaleRun(first, last, round);
}

// A run's permutation as a lighter run, applied `rounds` times to its ids
// (heaviest first). Up to kFreeRun entries it is tabled; a longer run's is
// found by sorting the run with a heavier entry after it (in m_active*,
// which no round is using when runs are written out), then applied along
// its cycles.
void HuffmanCompression::applyLighterRounds(unsigned int* ids, int length, int rounds) {
  if (length <= kFreeRun) {
    const unsigned char* order = kLighterRunOrder[length];
    for (int n = rounds % kLighterRunPeriod[length]; n > 0; --n) {
      unsigned int old[kFreeRun];
      std::copy(ids, ids + length, old);
      for (int x = 0; x < length; ++x) ids[x] = old[order[x]];
    }
    return;
  }
  for (int x = 0; x < length; ++x) {
    m_activeWeight[x] = 1;
    m_activeId[x] = static_cast<unsigned int>(x);
  }
  m_activeWeight[length] = 2;
  m_activeId[length] = static_cast<unsigned int>(length);
  quickSortD(0, length);
  const unsigned int* order = m_activeId + 1;  // new x takes old order[x]
  unsigned int old[257];
  std::copy(ids, ids + length, old);
  bool seen[257] = {};
  int cycle[257];
  for (int start = 0; start < length; ++start) {
    if (seen[start]) continue;
    int size = 0;
    for (int x = start; !seen[x]; x = static_cast<int>(order[x])) {
      seen[x] = true;
      cycle[size++] = x;
    }
    for (int i = 0; i < size; ++i) ids[cycle[i]] = old[cycle[(i + rounds) % size]];
  }
}

void HuffmanCompression::writeStaleRun(int first, int last, int round) {
  const int length = last - first + 1;
  const int since = m_upStamp[first];
  const unsigned int v = m_upWeight[first];
  unsigned int* const from = m_roundWeight + since + 1;
  const int heavier = static_cast<int>(std::lower_bound(from, m_roundWeight + round + 1, v) - from);
  const int lighter = round - since - heavier;
  unsigned int ids[257];
  for (int x = 0; x < length; ++x) ids[x] = m_upId[last - x];
  if (heavier % 2 != 0) permuteRun(ids, length);
  if (lighter != 0) applyLighterRounds(ids, length, lighter);
  for (int x = 0; x < length; ++x) m_upId[last - x] = ids[x];
  std::fill(m_upStamp + first, m_upStamp + last + 1, static_cast<std::uint16_t>(round));
}

bool HuffmanCompression::closedFormRound(int round, unsigned int y, unsigned int yId) {
  if (y < m_roundWeight[round - 1]) return false;  // the runs' round counts need this order
  if (y > m_longRunWeight) return regionRound(round, y, yId);
  applyClosedForm(round, y, yId);
  return true;
}

// Outside the runs around a long run that lacks single entries above it
// (the long run, and the runs that overlap the entries its length asks to
// be single), the closed form still holds: checked like the rule itself.
// So such a round is emulated only in the partitions that reach those
// runs' places, and their ids are taken from there.
bool HuffmanCompression::regionRound(int round, unsigned int y, unsigned int yId) {
  const unsigned int* w = m_upWeight;
  const int first = m_upFirst;
  const int end = m_upEnd;
  int regionFirst = end;
  int regionLast = -1;
  for (int x = first; x + kFreeRun < end; ++x) {
    if (w[x] != w[x + kFreeRun]) continue;
    const int last = upRunLast(x);
    if (w[x] < y) {
      const int reach = std::min(last + (last - x + 1 - kFreeRun), end - 1);
      bool single = true;
      for (int a = last + 1; a <= reach; ++a) single = single && (a + 1 >= end || w[a] != w[a + 1]);
      if (!single) {
        regionFirst = std::min(regionFirst, x);
        regionLast = std::max(regionLast, upRunLast(reach));
      }
    }
    x = last;
  }
  if (regionLast < 0) {  // the long runs found before have shrunk since
    findLongRuns();
    applyClosedForm(round, y, yId);
    return true;
  }
  for (int x = regionFirst; x <= regionLast;) {
    const int last = upRunLast(x);
    writeUpRun(x, last, round - 1);
    x = last + 1;
  }
  // The list as for a whole emulated round; only the region's ids are
  // current.
  const int sorted = listHeaviestFirst(y, yId);
  // The region's places before the round and after it: it moves one place
  // down at most.
  m_regionLo = end - 1 - regionLast;
  m_regionHi = end - regionFirst;
  sortRound(sorted + 1, true);
  // The region's runs are those of its weights (and y, if it went among
  // them: the emulated places are all exact). Kept before the closed form
  // runs, which may write runs out through m_active*.
  const unsigned int lightest = w[regionFirst];
  const unsigned int heaviest = w[regionLast];
  const int placesLo = m_regionLo;
  const int places = m_regionHi - m_regionLo + 1;
  unsigned int placeId[258];
  bool placeInRegion[258];
  for (int k = 0; k < places; ++k) {
    const unsigned int v = m_activeWeight[placesLo + k];
    placeInRegion[k] = v >= lightest && v <= heaviest;
    placeId[k] = m_activeId[placesLo + k];
  }
  m_regionLo = 0;
  m_regionHi = INT_MAX;
  applyClosedForm(round, y, yId);
  for (int k = 0; k < places; ++k) {
    if (!placeInRegion[k]) continue;
    const int u = m_upEnd - 1 - (placesLo + k);
    m_upId[u] = placeId[k];
    m_upStamp[u] = static_cast<std::uint16_t>(round);
  }
  return true;
}

void HuffmanCompression::applyClosedForm(int round, unsigned int y, unsigned int yId) {
  unsigned int* w = m_upWeight;
  unsigned int* id = m_upId;
  const int first = m_upFirst;
  const int end = m_upEnd;
  // The first entry not lighter than y, without a branch per step: the
  // search path depends on the data and would be mispredicted half of the
  // time.
  const unsigned int* base = w + first;
  for (int n = end - first; n > 1;) {
    const int half = n / 2;
    base += half & -static_cast<int>(base[half - 1] < y);  // no branch: the compiler keeps a mask
    n -= half;
  }
  const int q = static_cast<int>(base - w) + (base[0] < y ? 1 : 0);
  m_roundWeight[round] = y;
  int runLast = q - 1;  // the run of weight y, if any: q .. runLast
  while (runLast + 1 < end && w[runLast + 1] == y) ++runLast;
  if (runLast >= q) writeUpRun(q, runLast, round - 1);
  int at;
  if (q - first < end - q) {
    const std::size_t moved = static_cast<std::size_t>(q - first);
    std::memmove(w + first - 1, w + first, sizeof(unsigned int) * moved);
    std::memmove(id + first - 1, id + first, sizeof(unsigned int) * moved);
    std::memmove(m_upStamp + first - 1, m_upStamp + first, sizeof(m_upStamp[0]) * moved);
    --m_upFirst;
    at = q - 1;
  } else {
    const std::size_t moved = static_cast<std::size_t>(end - q);
    std::memmove(w + q + 1, w + q, sizeof(unsigned int) * moved);
    std::memmove(id + q + 1, id + q, sizeof(unsigned int) * moved);
    std::memmove(m_upStamp + q + 1, m_upStamp + q, sizeof(m_upStamp[0]) * moved);
    ++m_upEnd;
    ++runLast;
    at = q;
  }
  w[at] = y;
  id[at] = yId;
  m_upStamp[at] = static_cast<std::uint16_t>(round);
  if (runLast > at) {
    const int length = runLast - at + 1;
    unsigned int heaviestFirst[257];
    for (int x = 0; x < length; ++x) heaviestFirst[x] = id[runLast - x];
    permuteRun(heaviestFirst, length);
    for (int x = 0; x < length; ++x) id[runLast - x] = heaviestFirst[x];
    std::fill(m_upStamp + at, m_upStamp + runLast + 1, static_cast<std::uint16_t>(round));
    // A new long run, or a new pair above one.
    if (length > kFreeRun || m_longRuns) findLongRuns();
  }
}

// The sorted list into m_active*, heaviest first, with the merged entry y
// after it; returns the length of the sorted part.
int HuffmanCompression::listHeaviestFirst(unsigned int y, unsigned int yId) {
  const int sorted = m_upEnd - m_upFirst;
  for (int p = 0; p < sorted; ++p) {
    m_activeWeight[p] = m_upWeight[m_upEnd - 1 - p];
    m_activeId[p] = m_upId[m_upEnd - 1 - p];
  }
  m_activeWeight[sorted] = y;
  m_activeId[sorted] = yId;
  return sorted;
}

// The round by the partition scheme, on the list heaviest first in
// m_active*: the list as the previous round left it (every run written
// out) with the merged entry at its end, or the unsorted first list.
void HuffmanCompression::emulateRound(int k, int round, unsigned int y, unsigned int yId) {
  if (round > 0) {
    for (int x = m_upFirst; x + 1 < m_upEnd; ++x) {
      if (m_upWeight[x] != m_upWeight[x + 1]) continue;
      const int last = upRunLast(x);
      writeUpRun(x, last, round - 1);
      x = last;
    }
    listHeaviestFirst(y, yId);
    m_roundWeight[round] = y;
  }
  sortRound(k, round > 0);
  m_upFirst = kUpStart;
  m_upEnd = kUpStart + k;
  for (int x = 0; x < k; ++x) {
    m_upWeight[kUpStart + x] = m_activeWeight[k - 1 - x];
    m_upId[kUpStart + x] = m_activeId[k - 1 - x];
  }
  std::fill(m_upStamp + m_upFirst, m_upStamp + m_upEnd, static_cast<std::uint16_t>(round));
  findLongRuns();
}

void HuffmanCompression::buildByteTree() {
  int k = m_activeCount;
  unsigned int nextId = kFirstInternalId;
  m_treeEntries = 0;
  m_roundWeight[0] = 0;
  unsigned int y = 0;  // the merged entry of the round before
  unsigned int yId = 0;
  for (int round = 0; k > 1; ++round) {
    if (round == 0 || !closedFormRound(round, y, yId)) emulateRound(k, round, y, yId);
    // The two lightest entries: the second child, then the first.
    const int lightest = m_upFirst;
    int runLast = upRunLast(lightest);
    writeUpRun(lightest, runLast, round);
    bool longRun = runLast - lightest >= kFreeRun;
    if (runLast == lightest) {
      runLast = upRunLast(lightest + 1);
      writeUpRun(lightest + 1, runLast, round);
      longRun = runLast - lightest - 1 >= kFreeRun;
    }
    m_tree[m_treeEntries++] = nextId;
    m_tree[m_treeEntries++] = m_upId[lightest + 1];
    m_tree[m_treeEntries++] = m_upId[lightest];
    y = m_upWeight[lightest] + m_upWeight[lightest + 1];
    yId = nextId++;
    m_upFirst += 2;
    if (longRun) findLongRuns();
    --k;
  }
}

// From the root down: a branch appends its bit (1 for the second child) at
// the low end of the code. A triple's children were made before it, so
// going through the triples from the last (the root) to the first meets
// every node after its parent, without a stack or visit counts.
void HuffmanCompression::buildCodes() {
  m_maxCodeLength = 0;
  const int triples = m_treeEntries / 3;
  if (triples == 0) return;
  std::uint64_t nodeCode[kMaxTriples];
  unsigned nodeDepth[kMaxTriples];
  nodeCode[triples - 1] = 0;
  nodeDepth[triples - 1] = 0;
  for (int t = triples - 1; t >= 0; --t) {
    const std::uint64_t code = nodeCode[t] << 1;
    const unsigned depth = nodeDepth[t] + 1;
    for (unsigned bit = 0; bit < 2; ++bit) {
      const unsigned int child = m_tree[3 * t + 1 + bit];
      if (child < kPadSymbol) {
        m_code[child] = code | bit;
        m_codeLength[child] = static_cast<unsigned char>(depth);
        m_maxCodeLength = std::max(m_maxCodeLength, depth);
      } else if (child > kPadSymbol) {
        nodeCode[child - kFirstInternalId] = code | bit;
        nodeDepth[child - kFirstInternalId] = depth;
      }
    }
  }
}

std::uint64_t HuffmanCompression::streamBits() const {
  std::uint64_t bits = 0;
  for (int v = 0; v < 256; ++v) bits += std::uint64_t{m_frequency[v]} * m_codeLength[v];
  return bits;
}

namespace {

// Codes of up to 32 bits, each stored left-aligned in 64 bits (code at the
// top, zeros below), with their lengths beside them.
struct PackTable {
  std::uint64_t left[256];
  unsigned char length[256];
  std::size_t streamBytes;  // the whole stream's, for stores ahead of the codes
};

// Collects codes at the top of a 64-bit accumulator: adding one is a shift
// and an or, and a flush stores the two words the accumulator would form
// (one of them perhaps incomplete, to be stored again) and moves on by the
// one word completed, if any. Up to 32 bits go in between two flushes, so
// the pending count stays below 64 and a flush completes at most one word.
// A flush writes a word past the current one: the fast loop ends while the
// remaining codes are known to reach beyond it, and the tail goes through
// exact stores.
class LeftWriter {
 public:
  explicit LeftWriter(unsigned char* out) : m_out(out) {}
  // Goes on from `count` (below 32) bits at the top of `acc`.
  LeftWriter(unsigned char* out, std::uint64_t acc, unsigned count) : m_out(out), m_acc(acc), m_count(count) {}
  // The code's bits and count; pending plus `bits` must stay below 64.
  MOX_ALWAYS_INLINE void add(std::uint64_t left, unsigned bits) {
    m_acc |= left >> m_count;
    m_count += bits;
  }
  MOX_ALWAYS_INLINE void flush() {
    storeLE64(m_out, (m_acc << 32) | (m_acc >> 32));
    const unsigned full = m_count & 32;
    m_out += full >> 3;
    m_acc <<= full;
    m_count -= full;
  }
  // Stores only complete words, then the partly filled last one.
  MOX_ALWAYS_INLINE void flushExact() {
    if (m_count >= 32) {
      storeLE32(m_out, static_cast<std::uint32_t>(m_acc >> 32));
      m_out += 4;
      m_acc <<= 32;
      m_count -= 32;
    }
  }
  unsigned char* finish() {
    if (m_count > 0) {
      storeLE32(m_out, static_cast<std::uint32_t>(m_acc >> 32));
      m_out += 4;
    }
    return m_out;
  }

 private:
  unsigned char* m_out;
  std::uint64_t m_acc = 0;
  unsigned m_count = 0;  // pending bits; below 32 after a flush
};

// One group of two or four codes, joined and flushed once: with kChecked
// the lengths are summed first and a group of more than 32 bits goes as two
// pairs, or one code at a time; without, the longest code guarantees that
// the group fits.
template <int kGroup, bool kChecked>
MOX_ALWAYS_INLINE void packGroup(const PackTable& t, const unsigned char* in, LeftWriter& writer) {
  static_assert(kGroup == 2 || kGroup == 4, "codes are joined in pairs or quads");
  const unsigned a = in[0], b = in[1];
  const unsigned la = t.length[a], lb = t.length[b];
  const std::uint64_t ab = t.left[a] | (t.left[b] >> la);
  if (kGroup == 2) {
    if (kChecked && la + lb > 32) {
      writer.add(t.left[a], la);
      writer.flush();
      writer.add(t.left[b], lb);
    } else {
      writer.add(ab, la + lb);
    }
  } else {
    const unsigned c = in[2], d = in[3];
    const unsigned lc = t.length[c], ld = t.length[d];
    const std::uint64_t cd = t.left[c] | (t.left[d] >> lc);
    const unsigned bits = la + lb + lc + ld;
    if (kChecked && bits > 32) {
      if (la + lb <= 32 && lc + ld <= 32) {
        writer.add(ab, la + lb);
        writer.flush();
        writer.add(cd, lc + ld);
      } else {
        for (const unsigned s : {a, b, c}) {
          writer.add(t.left[s], t.length[s]);
          writer.flush();
        }
        writer.add(t.left[d], ld);
      }
    } else {
      writer.add(ab | (cd >> (la + lb)), bits);
    }
  }
  writer.flush();
}

// Eight equal bytes of a value whose code has at most four bits go to the
// writer as one: frames have wide areas of one value (the black outside
// the image), and that value then has the shortest code.
struct RunTable {
  std::uint64_t pattern[256];  // the value eight times; never matches if its code is longer
  std::uint64_t left[256];     // its code eight times, left-aligned
  unsigned char bits[256];
};

void buildRunTable(const PackTable& t, RunTable& runs) {
  for (unsigned v = 0; v < 256; ++v) {
    const unsigned bits = t.length[v];
    const bool joins = bits >= 1 && bits <= 4;
    // A pattern of another value cannot match eight bytes that start with v.
    runs.pattern[v] = 0x0101010101010101ull * (joins ? v : v ^ 1);
    std::uint64_t left = 0;
    for (unsigned k = 0; joins && k < 8; ++k) left |= t.left[v] >> (k * bits);
    runs.left[v] = left;
    runs.bits[v] = static_cast<unsigned char>(joins ? 8 * bits : 0);
  }
}

// Packs the codes of `in` in groups; with kRuns, eight bytes at a time,
// eight equal ones as one code. The last kTailCodes codes go through exact
// stores, so that the fast loop's flushes stay inside the stream: every
// code has at least one bit.
constexpr unsigned kTailCodes = 64;

// One code at a time with exact stores, to the end of the stream.
MOX_ALWAYS_INLINE void packTail(const PackTable& t, const unsigned char* in, unsigned int length, LeftWriter& writer) {
  for (unsigned int i = 0; i < length; ++i) {
    writer.add(t.left[in[i]], t.length[in[i]]);
    writer.flushExact();
  }
  writer.finish();
}

template <int kGroup, bool kChecked, bool kRuns>
MOX_ALWAYS_INLINE void packBody(const PackTable& t, const unsigned char* in, unsigned int length, unsigned char* out) {
  LeftWriter writer(out);
  unsigned int i = 0;
  constexpr unsigned kStep = kRuns ? 8 : kGroup;
  const unsigned int fastEnd = length > kTailCodes + kStep ? length - kTailCodes - kStep : 0;
  if (kRuns) {
    RunTable runs;
    buildRunTable(t, runs);
    for (; i < fastEnd; i += 8) {
      std::uint64_t eight;
      std::memcpy(&eight, in + i, 8);
      const unsigned v = in[i];
      if (eight == runs.pattern[v]) {
        writer.add(runs.left[v], runs.bits[v]);
        writer.flush();
        continue;
      }
      for (unsigned g = 0; g < 8; g += kGroup) packGroup<kGroup, kChecked>(t, in + i + g, writer);
    }
  } else {
    for (; i < fastEnd; i += kGroup) packGroup<kGroup, kChecked>(t, in + i, writer);
  }
  packTail(t, in + i, length - i, writer);
}
template <int kGroup, bool kChecked>
void packPlain(const PackTable& t, const unsigned char* in, unsigned int length, unsigned char* out) {
  packBody<kGroup, kChecked, kGroup == 4>(t, in, length, out);
}
#if MOX_BMI2_DISPATCH
template <int kGroup, bool kChecked>
MOX_TARGET_BMI2 void packBmi2(const PackTable& t, const unsigned char* in, unsigned int length, unsigned char* out) {
  packBody<kGroup, kChecked, kGroup == 4>(t, in, length, out);
}
#endif

#if MOX_AVX2_DISPATCH
// --- Codes of up to 16 bits, packed in 512-bit vectors -----------------
//
// Sixty-four bytes at a time: their codes and lengths come from tables held
// in registers (word and byte permutes), neighbouring codes are joined into
// pairs and then quads of at most 64 bits, and a prefix sum of the quads'
// lengths gives their bit offsets. A quad at offset o lands in the 64-bit
// slot o / 64, shifted right by o % 64, and the bits that do not fit spill
// into the next slot. Offsets grow by at most 64 from quad to quad, so the
// quads of one slot are neighbours, and a running sum of the shifted quads
// taken at each slot's last quad gives the slots in order, each completed
// by the spill of the slot before. The bit buffer between blocks is one
// partly filled slot.
#define MOX_TARGET_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))
// GCC 12 takes the undefined pass-through operand inside the plain forms of
// these intrinsics for an uninitialised read once they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

constexpr unsigned kVectorCodeBits = 16;
constexpr double kVectorMinAverage = 3.0;
// Each block stores two vectors of slots from the current one on, most of
// them not yet complete; the loop stops before these stores would leave
// the stream.
constexpr std::size_t kVectorStoreBytes = 128;

struct VectorCodeTables {
  __m512i code[8];    // 16-bit codes, right-aligned
  __m512i length[4];  // bytes
};

// 32 codes (indices in 16-bit lanes) as 8 left-aligned quads and their lengths.
MOX_TARGET_VBMI MOX_ALWAYS_INLINE void vectorQuads(const VectorCodeTables& t, __m512i index, __m512i length,
                                                   __m512i& left, __m512i& bits) {
  const __mmask32 bit6 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(64));
  const __mmask32 bit7 = _mm512_test_epi16_mask(index, _mm512_set1_epi16(128));
  const __m512i low = _mm512_mask_blend_epi16(bit6, _mm512_permutex2var_epi16(t.code[0], index, t.code[1]),
                                              _mm512_permutex2var_epi16(t.code[2], index, t.code[3]));
  const __m512i high = _mm512_mask_blend_epi16(bit6, _mm512_permutex2var_epi16(t.code[4], index, t.code[5]),
                                               _mm512_permutex2var_epi16(t.code[6], index, t.code[7]));
  const __m512i code = _mm512_mask_blend_epi16(bit7, low, high);
  // The first code of a pair (or quad) is in the low half of its lane.
  const __m512i low16 = _mm512_set1_epi32(0xFFFF);
  const __m512i pair = _mm512_or_si512(_mm512_sllv_epi32(_mm512_and_si512(code, low16), _mm512_srli_epi32(length, 16)),
                                       _mm512_srli_epi32(code, 16));
  const __m512i pairBits = _mm512_add_epi32(_mm512_and_si512(length, low16), _mm512_srli_epi32(length, 16));
  const __m512i low32 = _mm512_set1_epi64(0xFFFFFFFF);
  const __m512i quad = _mm512_or_si512(
      _mm512_sllv_epi64(_mm512_and_si512(pair, low32), _mm512_srli_epi64(pairBits, 32)), _mm512_srli_epi64(pair, 32));
  bits = _mm512_add_epi64(_mm512_and_si512(pairBits, low32), _mm512_srli_epi64(pairBits, 32));
  left = _mm512_sllv_epi64(quad, _mm512_sub_epi64(_mm512_set1_epi64(64), bits));
}

// Lane k of x, lanes k - d below (lanes under d get fill).
MOX_TARGET_VBMI MOX_ALWAYS_INLINE __m512i lanesUp(__m512i x, __m512i fill, int d) {
  switch (d) {
    case 1:
      return _mm512_alignr_epi64(x, fill, 7);
    case 2:
      return _mm512_alignr_epi64(x, fill, 6);
    default:
      return _mm512_alignr_epi64(x, fill, 4);
  }
}

MOX_TARGET_VBMI MOX_ALWAYS_INLINE __m512i inclusiveSum(__m512i x) {
  const __m512i zero = _mm512_setzero_si512();
  x = _mm512_add_epi64(x, lanesUp(x, zero, 1));
  x = _mm512_add_epi64(x, lanesUp(x, zero, 2));
  return _mm512_add_epi64(x, lanesUp(x, zero, 4));
}

MOX_TARGET_VBMI MOX_ALWAYS_INLINE std::uint64_t lastLane(__m512i x) {
  return static_cast<std::uint64_t>(_mm_extract_epi64(_mm512_extracti32x4_epi32(x, 3), 1));
}

MOX_TARGET_VBMI void packVector(const PackTable& t, const unsigned char* in, unsigned int length, unsigned char* out) {
  alignas(64) std::uint16_t codes[256];
  alignas(64) unsigned char lengths[256];
  for (unsigned v = 0; v < 256; ++v) {
    codes[v] = static_cast<std::uint16_t>(t.length[v] ? t.left[v] >> (64 - t.length[v]) : 0);
    lengths[v] = t.length[v];
  }
  VectorCodeTables tables;
  for (int k = 0; k < 8; ++k) tables.code[k] = _mm512_load_si512(codes + 32 * k);
  for (int k = 0; k < 4; ++k) tables.length[k] = _mm512_load_si512(lengths + 64 * k);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i top = _mm512_set1_epi64(7);
  std::uint64_t acc = 0;  // the partly filled slot, bits at the top
  unsigned count = 0;     // its bits, below 64
  unsigned int i = 0;
  const unsigned char* const storesEnd =
      t.streamBytes >= kVectorStoreBytes ? out + (t.streamBytes - kVectorStoreBytes) : out;
  for (; i + 64 <= length && out < storesEnd; i += 64) {
    const __m512i index = _mm512_loadu_si512(in + i);
    const __mmask64 bit7 = _mm512_test_epi8_mask(index, _mm512_set1_epi8(static_cast<char>(0x80)));
    const __m512i bits =
        _mm512_mask_blend_epi8(bit7, _mm512_permutex2var_epi8(tables.length[0], index, tables.length[1]),
                               _mm512_permutex2var_epi8(tables.length[2], index, tables.length[3]));
    __m512i quadA, bitsA, quadB, bitsB;  // quads 0-7 and 8-15
    vectorQuads(tables, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(index)),
                _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bits)), quadA, bitsA);
    vectorQuads(tables, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(index, 1)),
                _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(bits, 1)), quadB, bitsB);
    const __m512i endA = inclusiveSum(bitsA);
    const __m512i endB = _mm512_add_epi64(inclusiveSum(bitsB), _mm512_permutexvar_epi64(top, endA));
    const __m512i start = _mm512_set1_epi64(count);
    const __m512i offsetA = _mm512_add_epi64(_mm512_sub_epi64(endA, bitsA), start);
    const __m512i offsetB = _mm512_add_epi64(_mm512_sub_epi64(endB, bitsB), start);
    const __m512i slotA = _mm512_srli_epi64(offsetA, 6);
    const __m512i slotB = _mm512_srli_epi64(offsetB, 6);
    const __m512i shiftA = _mm512_and_si512(offsetA, _mm512_set1_epi64(63));
    const __m512i shiftB = _mm512_and_si512(offsetB, _mm512_set1_epi64(63));
    // A shift by 64 gives zero: a quad at a slot's start spills nothing.
    const __m512i spillA = _mm512_sllv_epi64(quadA, _mm512_sub_epi64(_mm512_set1_epi64(64), shiftA));
    const __m512i spillB = _mm512_sllv_epi64(quadB, _mm512_sub_epi64(_mm512_set1_epi64(64), shiftB));
    // The quads in one slot fill disjoint bits, so or-ing them is adding
    // them: the running sum over the block at a slot's last quad, less that
    // at the slot before, is the slot (exactly, modulo 2^64).
    const __m512i sumA = inclusiveSum(_mm512_srlv_epi64(quadA, shiftA));
    const __m512i sumB =
        _mm512_add_epi64(inclusiveSum(_mm512_srlv_epi64(quadB, shiftB)), _mm512_permutexvar_epi64(top, sumA));
    const __mmask8 lastA = _mm512_cmpneq_epi64_mask(slotA, _mm512_alignr_epi64(slotB, slotA, 1));
    const __mmask8 lastB = _mm512_cmpneq_epi64_mask(slotB, _mm512_alignr_epi64(_mm512_set1_epi64(-1), slotB, 1));
    const unsigned slotsA = static_cast<unsigned>(__builtin_popcount(lastA));
    const unsigned slots = slotsA + static_cast<unsigned>(__builtin_popcount(lastB));
    // The slots in order: those of A's lanes, then those of B's.
    const __m512i skip = _mm512_set1_epi64(8 - slotsA);
    const __m512i join0 = _mm512_mask_add_epi64(lane, static_cast<__mmask8>(0xFFu << slotsA), lane, skip);
    const __m512i join1 = _mm512_add_epi64(lane, skip);
    const __m512i sumsA = _mm512_maskz_compress_epi64(lastA, sumA);
    const __m512i sumsB = _mm512_maskz_compress_epi64(lastB, sumB);
    const __m512i spillsA = _mm512_maskz_compress_epi64(lastA, spillA);
    const __m512i spillsB = _mm512_maskz_compress_epi64(lastB, spillB);
    const __m512i ends0 = _mm512_permutex2var_epi64(sumsA, join0, sumsB);
    const __m512i ends1 = _mm512_permutex2var_epi64(sumsB, join1, zero);
    const __m512i spills0 = _mm512_permutex2var_epi64(spillsA, join0, spillsB);
    const __m512i spills1 = _mm512_permutex2var_epi64(spillsB, join1, zero);
    const __m512i slots0 = _mm512_add_epi64(_mm512_sub_epi64(ends0, _mm512_alignr_epi64(ends0, zero, 7)),
                                            _mm512_alignr_epi64(spills0, _mm512_set1_epi64(acc), 7));
    const __m512i slots1 = _mm512_add_epi64(_mm512_sub_epi64(ends1, _mm512_alignr_epi64(ends1, ends0, 7)),
                                            _mm512_alignr_epi64(spills1, spills0, 7));
    // Each slot as two words, the high one first.
    _mm512_storeu_si512(out, _mm512_rol_epi64(slots0, 32));
    _mm512_storeu_si512(out + 64, _mm512_rol_epi64(slots1, 32));
    const std::uint64_t end = count + lastLane(endB);
    const unsigned completed = static_cast<unsigned>(end >> 6);
    if (completed == slots) {
      acc = lastLane(spillB);  // only the last quad reaches the new slot
    } else {
      const __m512i pick = _mm512_permutex2var_epi64(slots0, _mm512_set1_epi64(completed), slots1);
      acc = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(pick)));
    }
    count = static_cast<unsigned>(end & 63);
    out += 8 * completed;
  }
  if (count >= 32) {
    storeLE32(out, static_cast<std::uint32_t>(acc >> 32));
    out += 4;
    acc <<= 32;
    count -= 32;
  }
  LeftWriter writer(out, acc, count);
  packTail(t, in + i, length - i, writer);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

using PackFunction = void (*)(const PackTable&, const unsigned char*, unsigned int, unsigned char*);

std::atomic<mox::detail::CodePacker> widestCodePacker{mox::detail::CodePacker::kVector};

// The packer for codes of at most maxLength (up to 32) bits averaging
// `average`: vectors where the processor has them and every code fits a
// quad into 64 bits; else quads where four codes usually fit into 32 bits (a quad that
// does not costs a mispredicted branch, still less than the second flush
// of pairs), pairs otherwise, unchecked where the longest code lets every
// group fit.
PackFunction choosePacker(unsigned maxLength, double average) {
#if MOX_AVX2_DISPATCH
  // Below three bits a code, most bytes lie in runs of one value, which the
  // quads' run shortcut packs eight at a time.
  if (maxLength <= kVectorCodeBits && average >= kVectorMinAverage && mox::detail::processorHasAvx512Vbmi() &&
      widestCodePacker.load(std::memory_order_relaxed) == mox::detail::CodePacker::kVector) {
    return packVector;
  }
#endif
  const bool quads = average <= 7.0;
  const bool fits = maxLength <= (quads ? 8u : 16u);
#if MOX_BMI2_DISPATCH
  if (mox::detail::processorHasBmi2()) {
    if (quads) return fits ? packBmi2<4, false> : packBmi2<4, true>;
    return fits ? packBmi2<2, false> : packBmi2<2, true>;
  }
#endif
  if (quads) return fits ? packPlain<4, false> : packPlain<4, true>;
  return fits ? packPlain<2, false> : packPlain<2, true>;
}

}  // namespace

void mox::detail::capCodePacker(CodePacker widest) { widestCodePacker.store(widest, std::memory_order_relaxed); }

void HuffmanCompression::writeStream(const unsigned char* in, unsigned int length, unsigned char* out) const {
  if (m_maxCodeLength <= 32) {
    PackTable table;
    for (int v = 0; v < 256; ++v) {
      const unsigned bits = m_codeLength[v];
      table.left[v] = bits ? m_code[v] << (64 - bits) : 0;
      table.length[v] = static_cast<unsigned char>(bits);
    }
    const std::uint64_t bits = streamBits();
    table.streamBytes = static_cast<std::size_t>((bits + 31) / 32 * 4);
    const double average = length ? double(bits) / length : 0.0;
    return choosePacker(m_maxCodeLength, average)(table, in, length, out);
  }
  mox::detail::WordWriter writer(out);
  for (unsigned int i = 0; i < length; ++i) writer.putLong(m_code[in[i]], m_codeLength[in[i]]);
  writer.finish();
}

void HuffmanCompression::D2W(const unsigned int* wide, unsigned char* narrow, int count) {
  for (int i = 0; i < count; ++i) storeLE16(narrow + 2 * i, static_cast<std::uint16_t>(wide[i]));
}

void HuffmanCompression::W2D(const unsigned char* narrow, unsigned int* wide, int count) {
  for (int i = 0; i < count; ++i) wide[i] = loadLE16(narrow + 2 * i);
}

bool HuffmanCompression::compress(const unsigned char* in, int length, unsigned char** out, int& outLength) {
  if (out != nullptr) *out = nullptr;
  outLength = 0;
  if (in == nullptr || out == nullptr || length < 1) return false;
  mox::detail::ScopedMutexHold hold(m_mutex);
  const unsigned int n = static_cast<unsigned int>(length);
  initArrays();
  countBytes(in, n);
  buildArrays();
  buildByteTree();
  buildCodes();
  const std::uint64_t words = (streamBits() + 31) / 32;
  const std::uint64_t total = 6 + 2 * std::uint64_t(m_treeEntries) + 4 * words;
  if (total > INT_MAX) return false;
  auto* buffer = static_cast<unsigned char*>(std::malloc(total));
  if (buffer == nullptr) return false;
  storeLE32(buffer, n);
  storeLE16(buffer + 4, static_cast<std::uint16_t>(m_treeEntries));
  writeStream(in, n, buffer + 6 + 2 * m_treeEntries);
  D2W(m_tree, buffer + 6, m_treeEntries);
  *out = buffer;
  outLength = static_cast<int>(total);
  return true;
}

unsigned short HuffmanCompression::dictionary(const unsigned char* in, unsigned int length, unsigned int* tree,
                                              unsigned int* codes) {
  initArrays();
  countBytes(in, length);
  buildArrays();
  buildByteTree();
  buildCodes();
  std::memcpy(tree, m_tree, sizeof(unsigned int) * m_treeEntries);
  for (int v = 0; v < 256; ++v) {
    codes[v] = static_cast<unsigned int>(m_code[v]);
    codes[256 + v] = m_codeLength[v];
  }
  return static_cast<unsigned short>(m_treeEntries);
}

unsigned int HuffmanCompression::countCompress(const unsigned char* in, unsigned int length, unsigned short T,
                                               unsigned int* codes) {
  std::uint64_t bits = 0;
  for (unsigned int i = 0; i < length; ++i) bits += codes[256 + in[i]];
  return static_cast<unsigned int>(6 + 2 * std::uint64_t{T} + 4 * ((bits + 31) / 32));
}

unsigned int HuffmanCompression::compress(const unsigned char* in, unsigned int length, unsigned short T,
                                          unsigned int* tree, unsigned int* codes, unsigned char* out) {
  storeLE32(out, length);
  storeLE16(out + 4, T);
  D2W(tree, out + 6, T);
  unsigned char* stream = out + 6 + 2 * std::size_t{T};
  mox::detail::WordWriter writer(stream);
  for (unsigned int i = 0; i < length; ++i) {
    const unsigned bits = codes[256 + in[i]];
    if (bits != 0) writer.put(codes[in[i]] & (bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1), bits > 32 ? 32 : bits);
  }
  return static_cast<unsigned int>(writer.finish() - out);
}

unsigned int HuffmanCompression::getSize(const unsigned char* in) { return loadLE32(in); }

bool HuffmanCompression::loadDictionary(const unsigned char* dictionary, unsigned int T) {
  if (T == 0 || T % 3 != 0 || T > kMaxEntries) return false;
  const unsigned int triples = T / 3;
  W2D(dictionary, m_tree, static_cast<int>(T));
  m_treeEntries = static_cast<int>(T);
  unsigned char used[kMaxTriples] = {};
  for (unsigned int t = 0; t < triples; ++t) {
    if (m_tree[3 * t] != kFirstInternalId + t) return false;
    for (int side = 0; side < 2; ++side) {
      const unsigned int child = m_tree[3 * t + 1 + side];
      if (child <= kPadSymbol) {
        // The pad symbol decodes as byte 0, as its low 8 bits say.
        m_child[t][side] = static_cast<std::uint16_t>(kLeafFlag | (child & 0xFF));
      } else if (child >= kFirstInternalId && child < kFirstInternalId + t) {
        // Children created earlier, each used once: a tree, never a cycle.
        const unsigned int index = child - kFirstInternalId;
        if (used[index]++ != 0) return false;
        m_child[t][side] = static_cast<std::uint16_t>(index);
      } else {
        return false;
      }
    }
  }
  for (unsigned int t = 0; t + 1 < triples; ++t) {
    if (used[t] != 1) return false;
  }
  // The longest code, and the average length if each code of length L
  // stood for a share 2^-L of the bytes (as it roughly does): half of each
  // child's average plus the branch's bit. Children come before their parent.
  unsigned char height[kMaxTriples];
  double average[kMaxTriples];
  for (unsigned int t = 0; t < triples; ++t) {
    unsigned h = 0;
    double a = 1.0;
    for (int side = 0; side < 2; ++side) {
      const std::uint16_t child = m_child[t][side];
      if (child & kLeafFlag) continue;
      if (height[child] > h) h = height[child];
      a += 0.5 * average[child];
    }
    height[t] = static_cast<unsigned char>(h + 1);
    average[t] = a;
  }
  m_maxCodeLength = height[triples - 1];
  m_impliedAverage = average[triples - 1];
  return true;
}

namespace {

using mox::detail::TableJoin;
std::atomic<TableJoin> widestTableJoin{TableJoin::kWide};

// An entry's ends: the bit position after each of its symbols, one byte
// each, 0x80 and up for the symbols it lacks (adding lengths keeps those
// bytes at 0x80 and up).
constexpr std::uint64_t kEndBytes = 0x0101010101010101ull;
constexpr std::uint64_t kEndAbsent = 0x80 * kEndBytes;

// A code that the decoding table resolves.
struct Leaf {
  std::uint32_t code;
  unsigned length;
  unsigned char symbol;
};

// Joined entries of a wider table from those of a narrower one (see
// buildDecodeTable): each code's symbol and length before the entries of
// a range. Width w's table starts at index 2^w - 1 of the work arrays.
struct JoinWork {
  std::uint64_t* symbols;
  std::uint64_t* ends;
};

MOX_ALWAYS_INLINE void joinOne(const JoinWork& w, std::uint32_t to, std::uint32_t from, unsigned symbol,
                               unsigned length) {
  w.symbols[to] = w.symbols[from] << 8 | symbol;
  w.ends[to] = (w.ends[from] + length * kEndBytes) << 8 | length;
}

// The same into the decoding table, cut to eight symbols: the symbols are
// the bytes of an entry's ends below 0x80, and the bits the last of them.
MOX_ALWAYS_INLINE void finishOne(mox::detail::HuffmanDecodeTable& t, const JoinWork& w, std::uint32_t to,
                                 std::uint32_t from, unsigned symbol, unsigned length) {
  const std::uint64_t ends = (w.ends[from] + length * kEndBytes) << 8 | length;
  const unsigned n = static_cast<unsigned>((((~ends & kEndAbsent) >> 7) * kEndBytes) >> 56);
  t.symbols[to] = w.symbols[from] << 8 | symbol;
  t.bits[to] = static_cast<unsigned char>(ends >> (8 * n - 8));
  t.count[to] = static_cast<unsigned char>(n);
}

// The tree as the decoding table sees it, by code length: leaves[0] to
// leaves[upTo[w] - 1] are the codes of at most w bits, shortest first, and
// inner[innerFrom[w]] to inner[innerFrom[w + 1] - 1] the w-bit prefixes of
// longer codes (an inner node at depth w), which join no symbols.
constexpr int kMaxLeaves = 256;
constexpr unsigned kShapeBits = mox::detail::HuffmanDecodeTable::kBits;
struct TreeShape {
  Leaf leaves[kMaxLeaves];
  int upTo[kShapeBits + 1];
  std::uint32_t inner[kMaxLeaves];
  int innerFrom[kShapeBits + 2];

  // From the leaves and the inner nodes (depth 1 to kShapeBits - 1) in any
  // order: sorted by length, counting.
  void sort(const Leaf* anyLeaves, int leafCount, const Leaf* anyInner, int innerCount) {
    int leafAt[kShapeBits + 1] = {};
    int innerAt[kShapeBits + 1] = {};
    for (int k = 0; k < leafCount; ++k) ++leafAt[anyLeaves[k].length];
    for (int k = 0; k < innerCount; ++k) ++innerAt[anyInner[k].length];
    int leafSum = 0, innerSum = 0;
    for (unsigned w = 0; w <= kShapeBits; ++w) {
      const int leavesOfW = leafAt[w];
      leafAt[w] = leafSum;
      leafSum += leavesOfW;
      upTo[w] = leafSum;
      const int innerOfW = innerAt[w];
      innerAt[w] = innerFrom[w] = innerSum;
      innerSum += innerOfW;
    }
    innerFrom[kShapeBits + 1] = innerSum;
    for (int k = 0; k < leafCount; ++k) leaves[leafAt[anyLeaves[k].length]++] = anyLeaves[k];
    for (int k = 0; k < innerCount; ++k) inner[innerAt[anyInner[k].length]++] = anyInner[k].code;
  }
};

// For every code of at most `width` bits, its range of a table that wide
// (from `base`) and the range of the table of the remaining bits that the
// entries continue into (from 2^rest - 1): stepN joins kStep entries at a
// time (1: none, stepOne does them all), stepOne the rest.
template <unsigned kStep, typename StepN, typename StepOne>
MOX_ALWAYS_INLINE void joinRanges(const TreeShape& shape, unsigned width, std::uint32_t base, StepN stepN,
                                  StepOne stepOne) {
  for (int k = 0; k < shape.upTo[width]; ++k) {
    const Leaf& leaf = shape.leaves[k];
    const unsigned rest = width - leaf.length;
    const std::uint32_t to = base + (leaf.code << rest);
    const std::uint32_t from = (1u << rest) - 1;
    std::uint32_t i = 0;
    if (kStep > 1) {
      for (; i + kStep <= (1u << rest); i += kStep) stepN(to + i, from + i, leaf.symbol, leaf.length);
    }
    for (; i < (1u << rest); ++i) stepOne(to + i, from + i, leaf.symbol, leaf.length);
  }
}

// The work table of the given width from the narrower ones: the codes'
// ranges cover it but for the prefixes of longer codes.
template <unsigned kStep, typename Step>
MOX_ALWAYS_INLINE void joinWidth(const JoinWork& w, const TreeShape& shape, unsigned width, Step stepN) {
  const std::uint32_t base = (1u << width) - 1;
  for (int k = shape.innerFrom[width]; k < shape.innerFrom[width + 1]; ++k) {
    w.symbols[base + shape.inner[k]] = 0;
    w.ends[base + shape.inner[k]] = kEndAbsent;
  }
  joinRanges<kStep>(shape, width, base, stepN,
                    [&w](std::uint32_t to, std::uint32_t from, unsigned symbol, unsigned length) {
                      joinOne(w, to, from, symbol, length);
                    });
}

// The decoding table, the widest, from the work tables.
template <unsigned kStep, typename Step>
MOX_ALWAYS_INLINE void finishTable(mox::detail::HuffmanDecodeTable& t, const JoinWork& w, const TreeShape& shape,
                                   Step stepN) {
  joinRanges<kStep>(shape, kShapeBits, 0, stepN,
                    [&t, &w](std::uint32_t to, std::uint32_t from, unsigned symbol, unsigned length) {
                      finishOne(t, w, to, from, symbol, length);
                    });
}

void joinTables(mox::detail::HuffmanDecodeTable& t, const JoinWork& w, const TreeShape& shape, unsigned widest) {
  auto none = [](std::uint32_t, std::uint32_t, unsigned, unsigned) {};
  for (unsigned width = 1; width <= widest; ++width) joinWidth<1>(w, shape, width, none);
  finishTable<1>(t, w, shape, none);
}

#if MOX_AVX2_DISPATCH
// Several entries at a time in vector registers: Words is a vector of
// 64-bit words (four in 256 bits, eight in 512). The helpers take vectors
// by reference, so that their calling convention never depends on the
// target of the function they are inlined into.
using Words4 = std::uint64_t __attribute__((vector_size(32)));
using Words8 = std::uint64_t __attribute__((vector_size(64)));
using Bytes4 = unsigned char __attribute__((vector_size(4)));
using Bytes8 = unsigned char __attribute__((vector_size(8)));

template <typename Words>
MOX_ALWAYS_INLINE void loadWords(Words& v, const std::uint64_t* p) {
  std::memcpy(&v, p, sizeof v);
}
template <typename Words>
MOX_ALWAYS_INLINE void storeWords(std::uint64_t* p, const Words& v) {
  std::memcpy(p, &v, sizeof v);
}
// The low byte of each word (one truncating store with AVX-512).
MOX_ALWAYS_INLINE void storeLowBytes(unsigned char* p, const Words4& v) {
  const Bytes4 low = __builtin_convertvector(v, Bytes4);
  std::memcpy(p, &low, sizeof low);
}
MOX_ALWAYS_INLINE void storeLowBytes(unsigned char* p, const Words8& v) {
  const Bytes8 low = __builtin_convertvector(v, Bytes8);
  std::memcpy(p, &low, sizeof low);
}

template <typename Words>
MOX_ALWAYS_INLINE void joinTablesVector(mox::detail::HuffmanDecodeTable& t, const JoinWork& w, const TreeShape& shape,
                                        unsigned widest) {
  constexpr unsigned kStep = sizeof(Words) / 8;
  auto joinN = [&w](std::uint32_t to, std::uint32_t from, unsigned symbol, unsigned length) {
    Words symbols, ends;
    loadWords(symbols, w.symbols + from);
    loadWords(ends, w.ends + from);
    storeWords(w.symbols + to, Words(symbols << 8 | symbol));
    storeWords(w.ends + to, Words((ends + length * kEndBytes) << 8 | length));
  };
  for (unsigned width = 1; width <= widest; ++width) joinWidth<kStep>(w, shape, width, joinN);
  auto finishN = [&t, &w](std::uint32_t to, std::uint32_t from, unsigned symbol, unsigned length) {
    Words symbols, ends;
    loadWords(symbols, w.symbols + from);
    loadWords(ends, w.ends + from);
    ends = (ends + length * kEndBytes) << 8 | length;
    // The bytes below 0x80, counted by adding their flags across the word.
    Words n = (~ends & kEndAbsent) >> 7;
    n += n >> 32;
    n += n >> 16;
    n += n >> 8;
    n &= 0xF;
    storeWords(t.symbols + to, Words(symbols << 8 | symbol));
    storeLowBytes(t.bits + to, Words(ends >> (8 * n - 8)));
    storeLowBytes(t.count + to, n);
  };
  finishTable<kStep>(t, w, shape, finishN);
}

MOX_TARGET_AVX2 void joinTablesAvx2(mox::detail::HuffmanDecodeTable& t, const JoinWork& w, const TreeShape& shape,
                                    unsigned widest) {
  joinTablesVector<Words4>(t, w, shape, widest);
}

__attribute__((target("avx512f,avx512bw"))) void joinTablesAvx512(mox::detail::HuffmanDecodeTable& t, const JoinWork& w,
                                                                  const TreeShape& shape, unsigned widest) {
  joinTablesVector<Words8>(t, w, shape, widest);
}
#endif

// Sets the `count` bytes from p to v, count a power of two: the short
// ranges of long codes, most of a table's codes, without a call.
MOX_ALWAYS_INLINE void fillRange(unsigned char* p, unsigned char v, std::uint32_t count) {
  const std::uint64_t bytes = v * 0x0101010101010101ull;
  if (count >= 16) {
    std::memset(p, v, count);
  } else if (count == 8) {
    std::memcpy(p, &bytes, 8);
  } else if (count == 4) {
    std::memcpy(p, &bytes, 4);
  } else if (count == 2) {
    std::memcpy(p, &bytes, 2);
  } else {
    *p = v;
  }
}

}  // namespace

bool HuffmanCompression::buildDecodeTable(bool joinSymbols) {
  constexpr unsigned kBits = kTableBits;
  // Inner nodes still to visit: node (8 bits), then prefix (kBits), then
  // depth, in one word, so that a pop reads what one push wrote.
  static_assert(kMaxTriples <= 256 && kBits <= 16, "a pending node fits 32 bits");
  auto pending = [](unsigned node, std::uint32_t prefix, unsigned depth) {
    return static_cast<std::uint32_t>(node | prefix << 8 | depth << (8 + kBits));
  };
  std::uint32_t stack[2 * kTableBits + 2];
  static_assert(kMaxTriples + 1 <= kMaxLeaves, "every leaf and inner node fits the tree's shape");
  Leaf leaves[kMaxTriples + 1];
  int leafCount = 0;
  Leaf inner[kMaxTriples];  // code and length of the inner nodes below the root
  int innerCount = 0;
  int top = 0;
  stack[0] = pending(static_cast<unsigned>(m_treeEntries / 3 - 1), 0, 0);
  unsigned minCodeLength = kBits;
  while (top >= 0) {
    const std::uint32_t p = stack[top--];
    for (unsigned bit = 0; bit < 2; ++bit) {
      const std::uint16_t child = m_child[p & 0xFF][bit];
      const std::uint32_t prefix = ((p >> 8 & ((1u << kBits) - 1)) << 1) | bit;
      const unsigned depth = (p >> (8 + kBits)) + 1;
      if (child & kLeafFlag) {
        minCodeLength = std::min(minCodeLength, depth);
        const std::uint32_t first = prefix << (kBits - depth);
        const std::uint32_t count = 1u << (kBits - depth);
        fillRange(m_decode.firstLength + first, static_cast<unsigned char>(depth), count);
        fillRange(m_decode.firstSymbol + first, static_cast<unsigned char>(child), count);
        leaves[leafCount++] = {prefix, depth, static_cast<unsigned char>(child)};
      } else if (depth == kBits) {
        m_decode.symbols[prefix] = child;
        m_decode.bits[prefix] = kBits;
        m_decode.count[prefix] = 0;
        m_decode.firstLength[prefix] = static_cast<unsigned char>(kNodeLength);
        m_decode.firstSymbol[prefix] = static_cast<unsigned char>(child);
      } else {
        inner[innerCount++] = {prefix, depth, 0};
        stack[++top] = pending(child, prefix, depth);
      }
    }
  }
  m_minCodeLength = minCodeLength;
  if (!joinSymbols) return true;
  // An entry joins symbols while their codes end within its prefix: the
  // first code's symbol, then the entry of the prefix's remaining bits, as
  // if the table were that many bits wide. So the tables of every width up
  // to kBits - 1 are built first, narrowest first, each entry from one of
  // a narrower table; a width's entries that a code covers form a range
  // whose sources form a range too. Beside its symbols, an entry keeps the
  // bit position after each of them (one byte each, 0x80 and up past the
  // last), which gives the bits consumed once an entry is cut to eight.
  static_assert(kMaxJoined == 8, "an entry's symbols and their ends fill one 64-bit word each");
  const unsigned widest = kBits - m_minCodeLength;
  const std::size_t levelEntries = std::size_t{2} << widest;
  auto* symbolsOf = reinterpret_cast<std::uint64_t*>(scratch(2 * sizeof(std::uint64_t) * levelEntries));
  if (symbolsOf == nullptr) return false;
  std::uint64_t* endsOf = symbolsOf + levelEntries;
  const JoinWork work{symbolsOf, endsOf};
  TreeShape shape;
  shape.sort(leaves, leafCount, inner, innerCount);
  // Width 0 is one entry without symbols.
  symbolsOf[0] = 0;
  endsOf[0] = kEndAbsent;
#if MOX_AVX2_DISPATCH
  const TableJoin cap = widestTableJoin.load(std::memory_order_relaxed);
  if (cap == TableJoin::kWide && mox::detail::processorHasAvx512()) {
    joinTablesAvx512(m_decode, work, shape, widest);
    return true;
  }
  if (cap >= TableJoin::kVector && mox::detail::processorHasAvx2()) {
    joinTablesAvx2(m_decode, work, shape, widest);
    return true;
  }
#endif
  joinTables(m_decode, work, shape, widest);
  return true;
}

void mox::detail::capTableJoin(TableJoin widest) { widestTableJoin.store(widest, std::memory_order_relaxed); }

unsigned char* HuffmanCompression::scratch(std::size_t need) {
  if (need > m_scratchSize) {
    std::free(m_scratch);
    m_scratch = static_cast<unsigned char*>(std::malloc(need));
    m_scratchSize = m_scratch ? need : 0;
  }
  return m_scratch;
}

namespace {

constexpr unsigned kDecodeBits = mox::detail::HuffmanDecodeTable::kBits;

// Frames with large black areas hold long runs of one byte, whose code is
// then the shortest (one or two bits). A lookup yields at most eight of
// them; a step that finds at least kRunMinBits bits of that code repeated
// at the front of its window instead writes them all at once, up to the
// window's 63 or 64 bits: a count of leading zeros after comparing the
// window with the code repeated across 64 bits.
struct RunCode {
  std::uint64_t pattern = 0;    // the code repeated, from the top bit
  std::uint64_t broadcast = 0;  // its symbol in every byte
  unsigned shift = 0;           // log2 of the code's length
  unsigned minLead = 64;        // 64 (never reached) for no run steps
  std::uint32_t index = ~0u;    // the table index a run starts with (none)
};
constexpr unsigned kRunMinBits = 32;

using DecodeTable = mox::detail::HuffmanDecodeTable;

struct DecodeView {
  const DecodeTable* t;
  const std::uint16_t (*child)[2];
  unsigned minCodeLength;
  unsigned maxCodeLength;
  RunCode run;
};

// The run (whole codes, in bits) that leads `window`, whose last bit is
// not the stream's (a marker or a bit beyond the window): at most 63 bits.
MOX_ALWAYS_INLINE unsigned runLead(const RunCode& run, std::uint64_t window) {
  const unsigned lead = static_cast<unsigned>(__builtin_clzll((window ^ run.pattern) | 1));
  return lead >> run.shift << run.shift;
}

// Writes the run's symbol into 64 bytes from out.
MOX_ALWAYS_INLINE void storeRun(const RunCode& run, unsigned char* out) {
  for (unsigned k = 0; k < kRunRoom; k += 8) storeLE64(out + k, run.broadcast);
}

// Codes longer than the table's prefix go on down the tree from the node the
// prefix reached, one bit at a time; rare by construction (their symbols are
// rare). Writes the symbol to *out and leaves bitpos after the code; checked
// mode fails when the code runs past the stream's `words` words.
template <bool kTrusted>
MOX_ALWAYS_INLINE bool walkCode(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                std::uint64_t& bitpos, unsigned node, unsigned char* out) {
  for (;;) {
    const std::uint64_t q = bitpos >> 5;
    if (!kTrusted && q >= words) return false;
    const unsigned bit = static_cast<unsigned>(streamWord(stream, q) >> (31 - (bitpos & 31))) & 1;
    ++bitpos;
    const std::uint16_t child = v.child[node][bit];
    if (child & kLeafFlag) {
      *out = static_cast<unsigned char>(child);
      return true;
    }
    node = child;
  }
}

// One code at bit position pos; the stream has at least three words from
// pos's word on.
MOX_ALWAYS_INLINE bool decodeOne(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                 std::uint64_t& pos, unsigned char* out) {
  const std::uint32_t index = static_cast<std::uint32_t>(streamWindow(stream, pos) >> (64 - kDecodeBits));
  if (v.t->firstLength[index] == kNodeLength) {
    pos += kDecodeBits;
    return walkCode<false>(v, stream, words, pos, v.t->firstSymbol[index], out);
  }
  *out = v.t->firstSymbol[index];
  pos += v.t->firstLength[index];
  return true;
}

// Five codes, one per lookup, for streams of long codes, where an entry
// rarely holds two: a lookup is then a load of the first length, which
// the window is shifted by, and a load and store of the symbol. The
// lengths' sum is checked once per step: a prefix that ends inside a
// longer code carries a flag that shows in it, and the step is then done
// again one code at a time. Reads words up to four past bitpos's; false,
// with the cursor left where it was, when a code runs past the stream or
// comes within three words of its end.
MOX_ALWAYS_INLINE bool laneStepSingle(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                      std::uint64_t& bitposRef, unsigned char*& outRef, std::uint64_t& bufRef) {
  const unsigned char* const symbol = v.t->firstSymbol;
  const unsigned char* const length = v.t->firstLength;
  unsigned char* const out = outRef;
  std::uint64_t buf = bufRef;
  const std::uint64_t next = streamWindow(stream, bitposRef + 64);
  unsigned sum = 0;
  for (int s = 0; s < 5; ++s) {
    const std::uint32_t index = static_cast<std::uint32_t>(buf >> (64 - kDecodeBits));
    const unsigned bits = length[index];
    out[s] = symbol[index];
    buf <<= (bits & 63);
    sum += bits;
  }
  if (MOX_LIKELY(sum < 0x80)) {  // 5 to 60 bits
    bitposRef += sum;
    outRef = out + 5;
    bufRef = buf | (next >> (64 - sum));
    return true;
  }
  // Again one code at a time, up to and including the first longer one
  // (among the five codes, as the lengths' sum said).
  std::uint64_t bitpos = bitposRef;
  int s = 0;
  while (s < 5) {
    if ((bitpos >> 5) + 3 > words) return false;
    const bool shortCode = length[streamWindow(stream, bitpos) >> (64 - kDecodeBits)] < 0x80;
    if (!decodeOne(v, stream, words, bitpos, out + s++)) return false;
    if (!shortCode) break;
  }
  bitposRef = bitpos;
  outRef = out + s;
  bufRef = (bitpos >> 5) + 3 <= words ? streamWindow(stream, bitpos) : 0;
  return true;
}

// Decodes symbols i .. n-1 from bit position bitpos, which must be the start
// of symbol i's code; without kJoined (the table of joined symbols was not
// built) one code at a time. Checked mode (kTrusted false) reads only the `words`
// words of the stream and fails when a code runs past them. Trusted mode
// reads no word that a well-formed stream lacks: the fast path only loads
// words that the remaining symbols must occupy at least (each code is at
// least the shortest code long), the careful path only the word a code is
// known to extend into.
template <bool kTrusted, bool kJoined = true>
MOX_ALWAYS_INLINE bool decodeBody(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                  unsigned char* out, std::uint32_t n, std::uint64_t bitpos, std::uint32_t i) {
  constexpr unsigned kBits = kDecodeBits;
  const std::uint64_t* table = v.t->symbols;
  auto word = [stream](std::uint64_t q) -> std::uint64_t { return streamWord(stream, q); };
  auto walk = [&](unsigned node) -> bool {
    if (!walkCode<kTrusted>(v, stream, words, bitpos, node, out + i)) return false;
    ++i;
    return true;
  };

  // Five lookups per step from a window of 64 valid bits; each writes eight
  // bytes and advances by up to eight, hence the 40 bytes of room. The
  // window's next 64 bits are loaded at the start of the step, from a
  // position known before the lookups, so that refilling after them costs
  // one shift and one or: the reads of a step reach four words past the
  // current one, which the room check covers once per step.
  std::uint64_t buf = 0;
  bool haveWindow = false;
  // One code per lookup, five per step, while the words a step may read
  // are surely there (a lane's step, bounded by those words): what the
  // lanes of a trusted stream leave is mostly decoded here.
  while (!kJoined && n - i >= 5) {
    const std::uint64_t q = bitpos >> 5;
    const std::uint64_t there = kTrusted ? (bitpos + std::uint64_t{n - i} * v.minCodeLength) / 32 : words;
    if (q + 5 > there) break;
    if (!haveWindow) buf = streamWindow(stream, bitpos);
    unsigned char* o = out + i;
    if (!laneStepSingle(v, stream, there, bitpos, o, buf)) break;
    haveWindow = true;
    i = static_cast<std::uint32_t>(o - out);
  }
  while (kJoined) {
    if (n - i < kStepRoom) break;
    const std::uint64_t q = bitpos >> 5;
    if (kTrusted ? 32 * (q + 4) >= bitpos + std::uint64_t{n - i} * v.minCodeLength : q + 4 >= words) break;
    if (!haveWindow) buf = streamWindow(stream, bitpos);
    const std::uint64_t next = streamWindow(stream, bitpos + 64);
    const std::uint64_t start = bitpos;
    haveWindow = true;
    if (MOX_UNLIKELY(static_cast<std::uint32_t>(buf >> (64 - kBits)) == v.run.index)) {
      const unsigned lead = runLead(v.run, buf);
      if (lead >= v.run.minLead) {
        storeRun(v.run, out + i);
        i += lead >> v.run.shift;
        bitpos += lead;
        buf = (buf << lead) | (next >> (64 - lead));
        continue;
      }
    }
    for (int s = 0; s < 5; ++s) {
      const std::uint32_t index = static_cast<std::uint32_t>(buf >> (64 - kBits));
      const unsigned count = v.t->count[index];
      const unsigned bits = v.t->bits[index];
      const std::uint64_t symbols = table[index];
      if (count == 0) {
        bitpos += kBits;
        if (!walk(symbols & 0xFF)) return false;
        haveWindow = false;
        break;
      }
      storeLE64(out + i, symbols);
      i += count;
      buf <<= bits;
      bitpos += bits;
    }
    // 5 to 60 bits consumed when the window is still in use.
    if (haveWindow) buf |= next >> (64 - (bitpos - start));
  }

  while (i < n) {
    const std::uint64_t q = bitpos >> 5;
    const unsigned r = bitpos & 31;
    if (!kTrusted && q >= words) return false;
    std::uint64_t buf = (word(q) << 32) << r;
    std::uint32_t index = static_cast<std::uint32_t>(buf >> (64 - kBits));
    if ((v.t->firstLength[index] & 63) > 32 - r) {
      // The code reaches into the next word (zero bits stood in for it).
      if (!kTrusted && q + 1 >= words) return false;
      buf = ((word(q) << 32) | word(q + 1)) << r;
      index = static_cast<std::uint32_t>(buf >> (64 - kBits));
    }
    if (v.t->firstLength[index] == kNodeLength) {
      bitpos += kBits;
      if (!walk(v.t->firstSymbol[index])) return false;
    } else {
      out[i++] = v.t->firstSymbol[index];
      bitpos += v.t->firstLength[index];
    }
  }
  // Checked mode: the stream ends in the word that holds the last code.
  return kTrusted || (bitpos + 31) / 32 == words;
}

// Checked decoding of longer streams runs several decoders at once, so that
// their dependency chains (window shift, table load, shift) overlap. The
// stream is cut at word boundaries into kLanes segments; lane 0 starts on a
// code boundary and writes into the output, lane k starts at the first bit
// of segment k, whatever code that bit belongs to, and writes into a
// scratch area. A prefix code resynchronises: after a few codes such a lane
// stands on true code boundaries and decodes exactly what a single decoder
// would. To find where, each lane records where its first lookups start.
// Stitching then walks the lanes in order: the decoder that has finished
// segment k-1 (always on true boundaries) goes on one code at a time, and
// so visits every code boundary, until it stands where lane k started a
// lookup; from that lookup on, lane k's output is right and is moved into
// place. A lane may stay off the true boundaries for longer (a run of a
// symbol whose code is its own shifted copy, such as 11, keeps it off), so
// beyond its first lookups a lane also records where it stands at the start
// of its first kEarlyCheckpoints steps and then at spacings that double up
// to kCheckpointSteps steps, and the decoder that is right goes on (with
// whole steps while far from one) to those. Most lanes meet the right
// decoder within their first few lookups; the dense early checkpoints keep
// one that takes a little longer from costing the right decoder, alone,
// a whole spacing of steps. Whenever that fails (no common
// position among the records, a lane stopped by a code running past the
// stream, more symbols than n), the decoder that is known to be right
// simply goes on alone to the end, so the result and every check are those
// of the single decoder.
constexpr int kLanes = HuffmanCompression::kDecodeLanes;
static_assert(kLanes == 4, "the interleaved loop is written out for four lanes");
constexpr int kFirstRecords = 16;
constexpr int kEarlyCheckpoints = 4;
constexpr std::uint64_t kCheckpointSteps = 128;
// Spacings of 2, 4, ... steps between the early checkpoints and
// kCheckpointSteps.
constexpr int kDoublings = 6;
static_assert(std::uint64_t{2} << kDoublings == kCheckpointSteps, "the doublings end at the full spacing");
// The shortest part of a trusted stream that a pass after the first takes.
constexpr std::uint64_t kLaterPassMinWords = 256;
constexpr int kRecords = 256;

struct Lane {
  std::uint64_t first;  // the bit position the lane started at
  std::uint64_t bitpos;
  unsigned char* out;
  unsigned char* begin;
  unsigned char* end;  // output room
  std::uint64_t stop;  // steps start only below this bit position
  int records;
  std::uint64_t recordBit[kRecords];
  std::uint32_t recordCount[kRecords];  // symbols written before that lookup
};

// Records that a step of the lane starts at bitpos, with the output at out.
MOX_ALWAYS_INLINE void checkpoint(Lane& lane, std::uint64_t bitpos, const unsigned char* out) {
  if (lane.records == kRecords) return;
  lane.recordBit[lane.records] = bitpos;
  lane.recordCount[lane.records++] = static_cast<std::uint32_t>(out - lane.begin);
}

// The window of a lane that joins symbols: the 63 bits from bitpos, with a
// 1 below them. Shifting moves that marker up by the bits consumed, which
// it then tells (count of trailing zeros) without a running sum.
MOX_ALWAYS_INLINE std::uint64_t markedWindow(const unsigned char* stream, std::uint64_t bitpos) {
  return streamWindow(stream, bitpos) | 1;
}

// Five lookups from `buf` (a marked window); a lookup without symbols (a
// code longer than the table's prefix) ends the step after its code. The
// 64 bits after the window are loaded at the start, from a position known
// before the lookups, so that refilling after them is a few shifts and ors,
// not a load that waits for the last lookup. Reads words up to four past
// bitpos's; false, with the cursor left where it was, when a code runs past
// the stream.
MOX_ALWAYS_INLINE bool laneStep(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                std::uint64_t& bitposRef, unsigned char*& outRef, std::uint64_t& bufRef) {
  const DecodeTable& t = *v.t;
  unsigned char* out = outRef;
  std::uint64_t buf = bufRef;
  const std::uint64_t next = streamWindow(stream, bitposRef + 63);
  // A run fills at least the first lookup's prefix: only then is its
  // length worth counting. The marker (bit 0 at the step's start) ends a
  // run at 63 bits.
  if (MOX_UNLIKELY(static_cast<std::uint32_t>(buf >> (64 - kDecodeBits)) == v.run.index)) {
    const unsigned lead = runLead(v.run, buf);
    if (lead >= v.run.minLead) {
      storeRun(v.run, out);
      bitposRef += lead;
      outRef = out + (lead >> v.run.shift);
      buf <<= lead;
      bufRef = (buf & (buf - 1)) | (next >> (63 - lead)) | 1;
      return true;
    }
  }
  for (int s = 0; s < 5; ++s) {
    const std::uint32_t index = static_cast<std::uint32_t>(buf >> (64 - kDecodeBits));
    const unsigned count = t.count[index];
    const unsigned bits = t.bits[index];
    const std::uint64_t symbols = t.symbols[index];
    if (!MOX_LIKELY(count != 0)) {
      std::uint64_t bitpos = bitposRef + static_cast<unsigned>(__builtin_ctzll(buf)) + kDecodeBits;
      if (!walkCode<false>(v, stream, words, bitpos, symbols & 0xFF, out)) return false;
      bitposRef = bitpos;
      outRef = out + 1;
      // Past the stream's last three words the lane has passed its stop.
      bufRef = (bitpos >> 5) + 3 <= words ? markedWindow(stream, bitpos) : 1;
      return true;
    }
    storeLE64(out, symbols);
    out += count;
    buf <<= bits;
  }
  const unsigned consumed = static_cast<unsigned>(__builtin_ctzll(buf));  // 5 to 60
  bitposRef += consumed;
  outRef = out;
  bufRef = (buf & (buf - 1)) | (next >> (63 - consumed)) | 1;
  return true;
}

template <bool kSingle>
MOX_ALWAYS_INLINE std::uint64_t laneWindow(const unsigned char* stream, std::uint64_t bitpos) {
  return kSingle ? streamWindow(stream, bitpos) : markedWindow(stream, bitpos);
}

// A step of either kind. It writes at most kStepRoom bytes and consumes at
// most 63 bits (60 by lookups, 63 by a run step), or when it meets a code
// longer than the table's prefix, ends after that code: at most four
// prefixes and the longest code.
template <bool kSingle>
MOX_ALWAYS_INLINE bool laneStepOf(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                  std::uint64_t& bitpos, unsigned char*& out, std::uint64_t& buf) {
  if (kSingle) return laneStepSingle(v, stream, words, bitpos, out, buf);
  return laneStep(v, stream, words, bitpos, out, buf);
}
MOX_ALWAYS_INLINE std::uint64_t stepBits(const DecodeView& v) {
  const std::uint64_t longest = 4 * kDecodeBits + v.maxCodeLength;
  return longest > 63 ? longest : 63;
}

MOX_ALWAYS_INLINE bool laneHasRoom(const Lane& lane) {
  return lane.bitpos < lane.stop && lane.end - lane.out >= kStepRoom;
}

// Steps of one lane until it has no room left or a code runs past the
// stream.
template <bool kSingle>
MOX_ALWAYS_INLINE void laneRun(const DecodeView& v, const unsigned char* stream, std::uint64_t words, Lane& lane) {
  if (!laneHasRoom(lane)) return;
  std::uint64_t bitpos = lane.bitpos;
  unsigned char* out = lane.out;
  std::uint64_t buf = laneWindow<kSingle>(stream, bitpos);
  std::uint64_t untilCheckpoint = 0;
  while (bitpos < lane.stop && lane.end - out >= kStepRoom) {
    if (untilCheckpoint-- == 0) {
      checkpoint(lane, bitpos, out);
      untilCheckpoint = kCheckpointSteps - 1;
    }
    if (!laneStepOf<kSingle>(v, stream, words, bitpos, out, buf)) break;
  }
  lane.bitpos = bitpos;
  lane.out = out;
}

// One of a lane's first lookups, its start recorded; nothing once the lane
// has made kFirstRecords of them or has no room. The lanes take turns, so that
// their dependency chains overlap here too.
template <bool kSingle>
MOX_ALWAYS_INLINE void laneRecord(const DecodeView& v, const unsigned char* stream, std::uint64_t words, Lane& lane) {
  if (lane.records == kFirstRecords || !laneHasRoom(lane)) return;
  const int r = lane.records++;
  lane.recordBit[r] = lane.bitpos;
  lane.recordCount[r] = static_cast<std::uint32_t>(lane.out - lane.begin);
  if (kSingle) {
    std::uint64_t pos = lane.bitpos;
    if (!decodeOne(v, stream, words, pos, lane.out)) {
      lane.stop = 0;  // the lane ends where this lookup starts
      return;
    }
    lane.bitpos = pos;
    ++lane.out;
    return;
  }
  const std::uint64_t buf = streamWindow(stream, lane.bitpos);
  const std::uint32_t index = static_cast<std::uint32_t>(buf >> (64 - kDecodeBits));
  if (v.t->count[index] == 0) {
    std::uint64_t pos = lane.bitpos + kDecodeBits;
    if (!walkCode<false>(v, stream, words, pos, v.t->symbols[index] & 0xFF, lane.out)) {
      lane.stop = 0;  // the lane ends where this lookup starts
      return;
    }
    lane.bitpos = pos;
    ++lane.out;
  } else {
    storeLE64(lane.out, v.t->symbols[index]);
    lane.out += v.t->count[index];
    lane.bitpos += v.t->bits[index];
  }
}

// A decoder of its own (no records) from pos, symbol g, to write into out
// up to n symbols and to start steps below stop.
MOX_ALWAYS_INLINE Lane aloneFrom(std::uint64_t pos, unsigned char* out, std::uint32_t g, std::uint32_t n,
                                 std::uint64_t stop) {
  Lane alone;
  alone.first = alone.bitpos = pos;
  alone.begin = alone.out = out + g;
  alone.end = out + n;
  alone.stop = stop;
  alone.records = kRecords;
  return alone;
}

// Output room for the lanes after the first of a pass, `room` bytes each.
struct LaneScratch {
  unsigned char* lanes;
  std::size_t room;
};

// A pass nested in another (see syncWith): compiled for the same processor
// features as the outer pass, which is why it comes as a pointer.
using NestedPassFn = void (*)(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                              std::uint64_t endBit, unsigned spacing, unsigned char* out, std::uint32_t n,
                              const LaneScratch& scratch, std::uint64_t& pos, std::uint32_t& g);
struct NestedPass {
  NestedPassFn run;  // null in a nested pass
  LaneScratch scratch;
};
// The scratch of the outer passes' lanes and of the nested passes' lanes.
struct PassScratch {
  LaneScratch pass;
  LaneScratch nested;
};

// A gap between a true code boundary and a lane's record at least this
// long is decoded by a pass of its own rather than by one decoder alone.
constexpr std::uint64_t kNestedPassMinBits = 32 * 64;

// The spacing of the lanes of a pass nested at the true code boundary pos:
// the least common multiple of the lengths of the first few codes there, as
// long as it stays within 64 bits. It decodes those codes into out + g (the
// pass writes them again); 0 when not even the first can be read.
MOX_ALWAYS_INLINE unsigned nestedSpacing(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                         std::uint64_t pos, unsigned char* out, std::uint32_t g, std::uint32_t n) {
  constexpr int kCodes = 4;
  unsigned spacing = 0;
  for (int c = 0; c < kCodes && g + c < n && (pos >> 5) + 3 <= words; ++c) {
    const std::uint64_t from = pos;
    if (!decodeOne(v, stream, words, pos, out + g + c)) break;
    const unsigned length = static_cast<unsigned>(pos - from);
    const unsigned multiple = spacing == 0 ? length : std::lcm(spacing, length);
    if (multiple > 64) break;
    spacing = multiple;
  }
  return spacing;
}

// Goes on from a true code boundary (pos, symbol g) until pos is where the
// lane started a recorded lookup or step: one code at a time near a
// record, so as to visit every code boundary, and in whole steps while
// none of them can pass the next record. That record's index, or -1 when
// pos passes the last record (pos and g then stand on a code boundary
// still).
//
// A lane that starts out of step with the codes usually falls into step
// within a few codes. But in an area whose codes all have lengths that
// share a factor (a uniform grey border with white lettering: codes of 3
// and 6 bits) a lane started off their grid stays out of step for as long
// as the area lasts, and everything up to its next record after that must
// be decoded again. Long gaps of that kind are decoded by a nested pass
// (unless this is one), whose lanes start a multiple of the first codes'
// lengths from pos, and so in step with such an area.
template <bool kSingle>
MOX_ALWAYS_INLINE int syncWith(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                               std::uint64_t& pos, unsigned char* out, std::uint32_t& g, std::uint32_t n,
                               const Lane& lane, const NestedPass& nested) {
  const std::uint64_t maxBits = stepBits(v);
  int j = 0;
  for (;;) {
    while (j < lane.records && lane.recordBit[j] < pos) ++j;
    if (j == lane.records) return -1;
    if (lane.recordBit[j] == pos) return j;
    if (nested.run != nullptr && lane.recordBit[j] - pos >= kNestedPassMinBits + maxBits) {
      const std::uint64_t before = pos;
      const unsigned spacing = nestedSpacing(v, stream, words, pos, out, g, n);
      if (spacing != 0)
        nested.run(v, stream, words, lane.recordBit[j] - maxBits, spacing, out, n, nested.scratch, pos, g);
      if (pos != before) continue;
    }
    if (lane.recordBit[j] - pos > 2 * maxBits) {
      Lane alone = aloneFrom(pos, out, g, n, lane.recordBit[j] - maxBits);
      laneRun<kSingle>(v, stream, words, alone);
      if (alone.bitpos != pos) {
        pos = alone.bitpos;
        g = static_cast<std::uint32_t>(alone.out - out);
        continue;
      }
    }
    if (g >= n || (pos >> 5) + 3 > words) return -1;
    std::uint64_t next = pos;
    if (!decodeOne(v, stream, words, next, out + g)) return -1;
    pos = next;
    ++g;
  }
}

// One step of each lane, written out (the arrays are indexed by constants,
// so that their elements stay in registers); every lane steps, so the
// results are combined without short-circuiting.
template <bool kSingle, int... kLane>
MOX_ALWAYS_INLINE bool stepLanes(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                 std::uint64_t* bitpos, unsigned char** out, std::uint64_t* buf,
                                 std::integer_sequence<int, kLane...>) {
  return (static_cast<unsigned>(laneStepOf<kSingle>(v, stream, words, bitpos[kLane], out[kLane], buf[kLane])) & ...) !=
         0;
}

// Steps of `count` lanes, all with room, taken in turn (their dependency
// chains overlap), in chunks of steps that every lane has room for at
// stepBits() bits and kStepRoom bytes a step, each chunk after a checkpoint
// of every lane; `chunks` counts the pass's chunks so far, which set the
// spacing. Returns when a lane has no room left; false when a code ran past
// the stream. The cursors live in locals, so that stores to the output
// cannot be taken to change them.
template <bool kSingle, int kCount>
MOX_ALWAYS_INLINE bool interleave(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                  Lane* const* active, int& chunks) {
  const DecodeView view = v;
  std::uint64_t bitpos[kCount], buf[kCount], stop[kCount];
  unsigned char* out[kCount];
  const unsigned char* end[kCount];
  for (int k = 0; k < kCount; ++k) {
    bitpos[k] = active[k]->bitpos;
    out[k] = active[k]->out;
    stop[k] = active[k]->stop;
    end[k] = active[k]->end;
    buf[k] = laneWindow<kSingle>(stream, bitpos[k]);
  }
  const std::uint64_t maxBits = stepBits(v);
  auto steps = [&](int k) {
    const std::uint64_t space = std::uint64_t(end[k] - out[k]);
    if (bitpos[k] >= stop[k] || space < kStepRoom) return std::uint64_t{0};
    const std::uint64_t bySpace = (space - kStepRoom) / kStepRoom + 1;
    const std::uint64_t byBits = (stop[k] - bitpos[k] + maxBits - 1) / maxBits;
    return bySpace < byBits ? bySpace : byBits;
  };
  bool ok = true;
  for (;;) {
    std::uint64_t chunk = kCheckpointSteps;
    if (chunks < kEarlyCheckpoints) {
      chunk = 1;
    } else if (chunks < kEarlyCheckpoints + kDoublings) {
      chunk = std::uint64_t{2} << (chunks - kEarlyCheckpoints);
    }
    ++chunks;
    for (int k = 0; k < kCount; ++k) chunk = std::min(chunk, steps(k));
    if (chunk == 0) break;
    for (int k = 0; k < kCount; ++k) checkpoint(*active[k], bitpos[k], out[k]);
    do {
      ok = stepLanes<kSingle>(view, stream, words, bitpos, out, buf, std::make_integer_sequence<int, kCount>());
    } while (--chunk != 0 && ok);
    if (!ok) break;
  }
  for (int k = 0; k < kCount; ++k) {
    active[k]->bitpos = bitpos[k];
    active[k]->out = out[k];
  }
  return ok;
}

// kSingle: one code per lookup (see laneStepSingle).
// One pass of the lanes from the true code boundary pos, with g symbols
// decoded, to about endBit (`words` bounds every read): the lanes share
// that span, starting a multiple of `spacing` bits apart, the first at pos;
// the last starts no step at endBit or within five words of the stream's
// end. pos and g come back at the end of what the stitched lanes decoded.
template <bool kSingle>
MOX_ALWAYS_INLINE void decodePass(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                  std::uint64_t endBit, unsigned spacing, unsigned char* out, std::uint32_t n,
                                  const LaneScratch& scratch, const NestedPass& nested, std::uint64_t& pos,
                                  std::uint32_t& g) {
  const std::uint64_t span = endBit > pos ? (endBit - pos) / spacing : 0;
  const std::uint64_t start = pos;
  Lane lanes[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    Lane& lane = lanes[k];
    lane.first = start + spacing * (span * k / kLanes);
    lane.bitpos = lane.first;
    lane.stop = k + 1 < kLanes ? start + spacing * (span * (k + 1) / kLanes) : std::min(endBit, 32 * (words - 5));
    lane.begin = k == 0 ? out + g : scratch.lanes + (k - 1) * scratch.room;
    lane.end = k == 0 ? out + n : lane.begin + scratch.room;
    lane.out = lane.begin;
    lane.records = 0;
  }
  for (int r = 0; r < kFirstRecords; ++r) {
    for (int k = 1; k < kLanes; ++k) laneRecord<kSingle>(v, stream, words, lanes[k]);
  }
  int chunks = 0;
  // The lanes with room together, until one of them has none: segments
  // differ in how many symbols they hold. Then the others again, fewer.
  for (;;) {
    Lane* active[kLanes];
    int count = 0;
    for (Lane& lane : lanes) {
      if (laneHasRoom(lane)) active[count++] = &lane;
    }
    bool ok = true;
    if (count == 4) {
      ok = interleave<kSingle, 4>(v, stream, words, active, chunks);
    } else if (count == 3) {
      ok = interleave<kSingle, 3>(v, stream, words, active, chunks);
    } else if (count == 2) {
      ok = interleave<kSingle, 2>(v, stream, words, active, chunks);
    } else {
      if (count == 1) laneRun<kSingle>(v, stream, words, *active[0]);
      break;
    }
    if (!ok) {
      // A code ran past the stream in some lane: each alone to its end.
      for (Lane& lane : lanes) laneRun<kSingle>(v, stream, words, lane);
      break;
    }
  }

  pos = lanes[0].bitpos;
  g = static_cast<std::uint32_t>(lanes[0].out - out);
  for (int k = 1; k < kLanes; ++k) {
    const Lane& lane = lanes[k];
    const int j = syncWith<kSingle>(v, stream, words, pos, out, g, n, lane, nested);
    if (j >= 0) {
      const std::uint32_t from = lane.recordCount[j];
      const std::uint32_t count = static_cast<std::uint32_t>(lane.out - lane.begin) - from;
      if (count > n - g) break;
      std::memcpy(out + g, lane.begin + from, count);
      g += count;
      pos = lane.bitpos;
    } else {
      // No common position: this segment by the decoder that is right,
      // up to the next lane's start or this lane's stop.
      Lane alone = aloneFrom(pos, out, g, n, k + 1 < kLanes ? lanes[k + 1].first : lane.stop);
      laneRun<kSingle>(v, stream, words, alone);
      pos = alone.bitpos;
      g = static_cast<std::uint32_t>(alone.out - out);
    }
  }
}

// In trusted mode the stream's length is unknown, and `words` is the part
// of it that n codes of the shortest length must fill. The lanes stay inside
// it; the remaining symbols then again fill a known part beyond where the
// stitched lanes ended, so passes repeat while that part is long enough,
// and the single decoder, under the trusted rules, does the rest.
template <bool kTrusted, bool kSingle>
MOX_ALWAYS_INLINE bool decodeLanes(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                   unsigned char* out, std::uint32_t n, const LaneScratch& scratch,
                                   const NestedPass& nested) {
  std::uint64_t pos = 0;  // where the decoded symbols' codes end
  std::uint32_t g = 0;    // symbols decoded
  std::uint64_t limit = words;
  // Each pass covers the share of the rest that the shortest code length
  // promises; a few passes leave little for the single decoder. Passes
  // after the first go on down to shorter parts: the single decoder is
  // slower than their start.
  constexpr int kMaxPasses = 16;
  for (int pass = 0; pass < kMaxPasses && scratch.lanes != nullptr &&
                     limit >= (pos >> 5) + (pass ? kLaterPassMinWords : HuffmanCompression::kLaneMinWords);
       ++pass) {
    const std::uint32_t before = g;
    decodePass<kSingle>(v, stream, limit, 32 * limit, 32, out, n, scratch, nested, pos, g);
    // A pass that decoded nothing (a damaged stream) would only repeat.
    if (!kTrusted || g == before) break;
    limit = (pos + std::uint64_t{n - g} * v.minCodeLength) / 32;
  }
  return decodeBody<kTrusted, !kSingle>(v, stream, words, out, n, pos, g);
}

// kSingle: one code per lookup. The passes nested in those of decodePlain
// and decodeBmi2 are compiled for the same processor features as they are.
template <bool kSingle>
void nestedPlain(const DecodeView& v, const unsigned char* stream, std::uint64_t words, std::uint64_t endBit,
                 unsigned spacing, unsigned char* out, std::uint32_t n, const LaneScratch& scratch, std::uint64_t& pos,
                 std::uint32_t& g) {
  decodePass<kSingle>(v, stream, words, endBit, spacing, out, n, scratch, NestedPass{}, pos, g);
}
template <bool kTrusted, bool kSingle>
bool decodePlain(const DecodeView& v, const unsigned char* stream, std::uint64_t words, unsigned char* out,
                 std::uint32_t n, const PassScratch& scratch) {
  return decodeLanes<kTrusted, kSingle>(v, stream, words, out, n, scratch.pass,
                                        NestedPass{&nestedPlain<kSingle>, scratch.nested});
}
#if MOX_BMI2_DISPATCH
template <bool kSingle>
MOX_TARGET_BMI2 void nestedBmi2(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                std::uint64_t endBit, unsigned spacing, unsigned char* out, std::uint32_t n,
                                const LaneScratch& scratch, std::uint64_t& pos, std::uint32_t& g) {
  decodePass<kSingle>(v, stream, words, endBit, spacing, out, n, scratch, NestedPass{}, pos, g);
}
template <bool kTrusted, bool kSingle>
MOX_TARGET_BMI2 bool decodeBmi2(const DecodeView& v, const unsigned char* stream, std::uint64_t words,
                                unsigned char* out, std::uint32_t n, const PassScratch& scratch) {
  return decodeLanes<kTrusted, kSingle>(v, stream, words, out, n, scratch.pass,
                                        NestedPass{&nestedBmi2<kSingle>, scratch.nested});
}
#endif

// Scratch room of each lane after the first: no more symbols than n, nor
// than a segment (with the step that may pass its end) holds at the
// shortest code length.
std::size_t laneRoom(std::uint32_t n, std::uint64_t words, unsigned minCodeLength) {
  const std::uint64_t segmentBits = 32 * (words / kLanes + 4);
  const std::uint64_t symbols = segmentBits / (minCodeLength ? minCodeLength : 1) + 16;
  return static_cast<std::size_t>((symbols < n ? symbols : n) + 32);
}

}  // namespace

template <bool kTrusted>
bool HuffmanCompression::decodeStream(const unsigned char* stream, std::uint64_t words, unsigned char* out,
                                      std::uint32_t n, bool oneCodePerLookup) {
  DecodeView view{&m_decode, m_child, m_minCodeLength, m_maxCodeLength, RunCode{}};
  // Run steps for a code of one or two bits, a symbol 0 first (black).
  if (!oneCodePerLookup && m_minCodeLength <= 2) {
    const unsigned length = m_minCodeLength;
    int chosen = -1;
    for (std::uint32_t code = 0; code < (1u << length); ++code) {
      const std::uint32_t index = code << (kDecodeBits - length);
      if (m_decode.firstLength[index] != length) continue;
      if (chosen < 0 || m_decode.firstSymbol[index] == 0) chosen = static_cast<int>(code);
    }
    if (chosen >= 0) {
      const std::uint64_t repeated = length == 1 ? ~std::uint64_t{0} : 0x5555555555555555u;
      view.run.pattern = static_cast<std::uint64_t>(chosen) * repeated;
      view.run.broadcast = m_decode.firstSymbol[static_cast<std::uint32_t>(chosen) << (kDecodeBits - length)] *
                           std::uint64_t{0x0101010101010101u};
      view.run.shift = length - 1;
      view.run.minLead = kRunMinBits;
      view.run.index = static_cast<std::uint32_t>(view.run.pattern >> (64 - kDecodeBits));
    }
  }
  PassScratch scratch{};
  // A trusted stream's length is unknown; its codes fill at least this much.
  if (kTrusted) words = std::uint64_t{n} * m_minCodeLength / 32;
  if (words >= kLaneMinWords) {
    // A nested pass spans no more than a lane of its outer pass and a step.
    scratch.pass.room = laneRoom(n, words, m_minCodeLength);
    scratch.nested.room = laneRoom(n, words / kLanes + 8, m_minCodeLength);
    scratch.pass.lanes = this->scratch((kLanes - 1) * (scratch.pass.room + scratch.nested.room));
    if (scratch.pass.lanes != nullptr) scratch.nested.lanes = scratch.pass.lanes + (kLanes - 1) * scratch.pass.room;
  }
#if MOX_BMI2_DISPATCH
  if (mox::detail::processorHasBmi2()) {
    if (oneCodePerLookup) return decodeBmi2<kTrusted, true>(view, stream, words, out, n, scratch);
    return decodeBmi2<kTrusted, false>(view, stream, words, out, n, scratch);
  }
#endif
  if (oneCodePerLookup) return decodePlain<kTrusted, true>(view, stream, words, out, n, scratch);
  return decodePlain<kTrusted, false>(view, stream, words, out, n, scratch);
}

unsigned int HuffmanCompression::unCompress(const unsigned char* in, unsigned char* out) {
  const std::uint32_t n = loadLE32(in);
  const unsigned int T = loadLE16(in + 4);
  if (n == 0 || !loadDictionary(in + 6, T)) return 0;
  // The stream's length, and so the true average code, is unknown here;
  // the tree's shape stands in for it. The shape overstates the average of
  // skewed buffers (by more than two bits on frames of a few values in long
  // runs), but theirs stays well below the line; on frames near the line it
  // is within a fifth of a bit.
  const bool oneCodePerLookup = m_impliedAverage >= kOneCodeMinAverage;
  if (!buildDecodeTable(!oneCodePerLookup)) return 0;
  return decodeStream<true>(in + 6 + 2 * T, 0, out, n, oneCodePerLookup) ? n : 0;
}

bool HuffmanCompression::uncompress(const unsigned char* in, unsigned char** out, int& outLength) {
  return mox::detail::decodeTrustedBuffer(
      m_mutex, in, out, outLength, [&](unsigned char* buffer, std::uint32_t n) { return unCompress(in, buffer) == n; });
}

bool HuffmanCompression::uncompress(const unsigned char* in, int inLength, unsigned char** out, int& outLength) {
  if (!mox::detail::beginDecode(in, out, outLength) || inLength < 6) return false;
  const std::uint32_t n = loadLE32(in);
  const unsigned int T = loadLE16(in + 4);
  if (n == 0 || n > INT_MAX) return false;
  const std::uint64_t dictionaryEnd = 6 + 2 * std::uint64_t{T};
  if (std::uint64_t(inLength) < dictionaryEnd) return false;
  const std::uint64_t streamBytes = std::uint64_t(inLength) - dictionaryEnd;
  if (streamBytes == 0 || streamBytes % 4 != 0) return false;
  const std::uint64_t words = streamBytes / 4;
  mox::detail::ScopedMutexHold hold(m_mutex);
  if (!loadDictionary(in + 6, T)) return false;
  // Long streams of long codes (on average) go one code per lookup: their
  // table entries would rarely hold two symbols, and it is quicker to build.
  const bool oneCodePerLookup = words >= kLaneMinWords && 32.0 * double(words) >= kOneCodeMinAverage * n;
  if (!buildDecodeTable(!oneCodePerLookup)) return false;
  // Every code takes at least the shortest length: a bound on n before the
  // allocation.
  if (std::uint64_t{n} * m_minCodeLength > 32 * words) return false;
  return mox::detail::decodeIntoNewBuffer(n, out, outLength, [&](unsigned char* buffer) {
    return decodeStream<false>(in + dictionaryEnd, words, buffer, n, oneCodePerLookup);
  });
}
