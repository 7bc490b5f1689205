// The matcher: a 64 KiB window that slides by 32 KiB, hash chains over
// 3-byte strings, and the choice between literals and matches (greedy at
// levels 1-3, lazy at 4-9). Every decision goes to the block encoder
// (DeflateBlock.h), which ends blocks and writes the bits.
//
// Window positions, lengths and chain links are 16-bit quantities; where
// their arithmetic can wrap, it is done modulo 65536 on purpose.
#include "zip/codec/Deflate.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "zip/codec/DeflateBlock.h"

namespace nuva {

namespace {

using deflate::TBlockEncoder;

constexpr uint32_t kWindowSize = 65536;  // bytes: two halves of kHistory
constexpr uint32_t kHistory = 32768;     // largest distance the format allows
constexpr uint32_t kWindowPadding = 64;  // zero bytes after the window for wide compares
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr uint32_t kMaxDistance = kHistory - kMinLookahead;    // 32506: farthest searched
constexpr uint32_t kSlidePosition = kHistory + kMaxDistance;   // 65274
constexpr uint32_t kHashSize = 32768;                          // chains (15-bit hash)
constexpr uint32_t kHashMask = kHashSize - 1;
constexpr uint32_t kHashShift = 5;  // bits per byte
constexpr uint32_t kLinkMask = kHistory - 1;
constexpr uint32_t kNoPosition = 0x10000;  // no window position has this value
constexpr uint32_t kTooFar = 4096;         // a 3-byte match farther back is not worth it (lazy)
constexpr uint32_t kFirstRead = 32768;     // bytes asked for at the start of an entry
constexpr uint32_t kWindowZeroBytes = kWindowSize - 1;  // zeroed after an entry
// Up to this many window positions, an entry's chain heads are cleared one by
// one (rehashing the window) instead of clearing the whole table.
constexpr uint32_t kRehashClearLimit = 8192;

// Per level: good length (search less once the previous match is this long),
// lazy limit (levels 1-3: insert limit), nice length (stop searching at this
// length), chain limit (candidates examined).
struct TLevelRow {
    uint16_t goodLength;
    uint16_t lazyLimit;
    uint16_t niceLength;
    uint16_t chainLimit;
};
constexpr TLevelRow kLevelTable[10] = {
    {0, 0, 0, 0},         {4, 4, 8, 4},         {4, 5, 16, 8},     {4, 6, 32, 32},
    {4, 4, 16, 16},       {8, 16, 32, 32},      {8, 16, 128, 128}, {8, 32, 128, 256},
    {32, 128, 258, 1024}, {32, 258, 258, 4096},
};
constexpr int kLastFastLevel = 3;

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "EqualPrefix finds the first unequal byte from the lowest set bit");

// How many of the `limit` bytes at a and b are equal, counted from the start.
// Both ranges may extend up to 8 bytes past `limit` rounded up (the window
// has padding for that).
inline uint32_t EqualPrefix(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    for (uint32_t n = 0; n < limit; n += 8) {
        const uint64_t diff = Load64(a + n) ^ Load64(b + n);
        if (diff != 0) {
            // Little-endian: the lowest set bit belongs to the first unequal byte.
            n += static_cast<uint32_t>(__builtin_ctzll(diff)) >> 3;
            return n < limit ? n : limit;
        }
    }
    return limit;
}

// The bytes 0..length of an 8-byte load (all 8 from length 7 on).
inline uint64_t HeadMask(uint32_t length) {
    return length >= 7 ? ~uint64_t{0} : (uint64_t{1} << (8 * (length + 1))) - 1;
}

// How far past the current position the matcher reads: a full-length
// compare in 8-byte words from there.
constexpr uint32_t kMatchReach = kMaxMatch + 8;

struct TFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The matcher's working memory. Nothing is zeroed in advance: the window and
// the chain links are cleared just ahead of the bytes that reads bring in
// (an entry of a few bytes touches a few pages), and the heads come from
// calloc, whose fresh pages need no clearing of ours.
struct TMatchMemory {
    TMatchMemory()
        : window(new uint8_t[kWindowSize + kWindowPadding]),
          heads(static_cast<uint16_t*>(std::calloc(kHashSize, sizeof(uint16_t)))) {
        if (!heads) throw std::bad_alloc();
    }

    // Every entry starts from a zeroed window and empty chain heads, however
    // the last one ended (the bytes past an entry's end take part in choosing
    // between equally long matches). Only the bytes that reads reached need
    // zeroing; the last byte is never read while matching and is left alone.
    void FinishEntry() {
        ClearHeads();
        std::memset(window.get(), 0, std::min(windowUsed, kWindowZeroBytes));
        windowUsed = 0;
        slid = false;
    }

    // Before the window slides, every head set in an entry belongs to a
    // position below windowUsed whose 3 bytes are still in the window as they
    // were when it was inserted (bytes past the input are zero), so
    // rehashing those positions finds every head that is set.
    void ClearHeads() {
        if (windowUsed == 0) {
            // Nothing was read, nothing inserted.
        } else if (slid || windowUsed > kRehashClearLimit) {
            std::memset(heads.get(), 0, kHashSize * sizeof(uint16_t));
        } else {
            // The matcher's hash over every position read, each position's
            // worked out from its own 3 bytes (what rolling it along gives:
            // earlier bytes are shifted out of the 15 bits).
            const uint8_t* const bytes = window.get();
            for (uint32_t pos = 0; pos < windowUsed; ++pos) {
                const uint32_t hash = ((uint32_t{bytes[pos]} << (2 * kHashShift)) ^
                                       (uint32_t{bytes[pos + 1]} << kHashShift) ^ bytes[pos + 2]) &
                                      kHashMask;
                heads[hash] = 0;
            }
        }
#ifndef NDEBUG
        for (uint32_t h = 0; h < kHashSize; ++h) assert(heads[h] == 0);
#endif
    }

    // The links of the levels about to run (allocated on first use).
    template <typename TLink>
    TLink* Links();

    // Called whenever windowUsed grows: clears the window bytes the matcher
    // may read from there and the links of the positions it may insert.
    template <typename TLink>
    void Reach(uint32_t used);

    std::unique_ptr<uint8_t[]> window;
    std::unique_ptr<uint16_t[], TFreeDeleter> heads;  // most recent position per hash; 0 = none
    // By position & 0x7FFF, the previous position with the same hash: one per
    // position for levels 1-3; for levels 4-9 the next four positions of the
    // chain, nearest in the lowest 16 bits, so that one load of the chain
    // walk moves four steps.
    std::unique_ptr<uint16_t[]> shortLinks;
    std::unique_ptr<uint64_t[]> longLinks;
    uint32_t windowZeroed = 0;      // window bytes known to be zero from 0 (past windowUsed)
    uint32_t shortLinksZeroed = 0;  // links set (zero or written) from slot 0
    uint32_t longLinksZeroed = 0;
    uint32_t windowUsed = 0;  // window bytes that reads have written since the last zeroing
    bool slid = false;        // the window has slid during this entry
};

template <>
uint16_t* TMatchMemory::Links<uint16_t>() {
    if (!shortLinks) shortLinks.reset(new uint16_t[kHistory]);
    return shortLinks.get();
}

template <>
uint64_t* TMatchMemory::Links<uint64_t>() {
    if (!longLinks) longLinks.reset(new uint64_t[kHistory]);
    return longLinks.get();
}

template <typename TLink>
void TMatchMemory::Reach(uint32_t used) {
    windowUsed = std::max(windowUsed, used);
    // Below windowUsed lie the entry's bytes, which reads have just written.
    const uint32_t windowEnd = std::min(windowUsed + kMatchReach, kWindowSize + kWindowPadding);
    const uint32_t windowFrom = std::max(windowZeroed, windowUsed);
    if (windowFrom < windowEnd) {
        std::memset(window.get() + windowFrom, 0, windowEnd - windowFrom);
        windowZeroed = windowEnd;
    }
    // The slide rebases every slot, so none may stay unset.
    uint32_t& linksZeroed = sizeof(TLink) == sizeof(uint16_t) ? shortLinksZeroed : longLinksZeroed;
    const uint32_t linksEnd = std::min(windowUsed, kHistory);
    if (linksZeroed < linksEnd) {
        std::memset(Links<TLink>() + linksZeroed, 0, (linksEnd - linksZeroed) * sizeof(TLink));
        linksZeroed = linksEnd;
    }
}

}  // namespace

struct TDeflater::TState {
    TState()
        : literals(new uint8_t[deflate::kSymbolBufferSize]),
          distances(new uint16_t[deflate::kSymbolBufferSize]),
          encoder(literals.get(), distances.get()) {}

    TMatchMemory memory;
    std::unique_ptr<uint8_t[]> literals;
    std::unique_ptr<uint16_t[]> distances;
    TBlockEncoder encoder;
};

namespace {

// One entry's matching state; lives for one TDeflater::Run. Made for each
// level, so that its limits are constants of the search. TLink is the links'
// type: uint16_t for levels 1-3, uint64_t for levels 4-9.
template <int kLevel>
class TMatcher {
  public:
    static constexpr bool kFourLinks = kLevel > kLastFastLevel;
    using TLink = std::conditional_t<kFourLinks, uint64_t, uint16_t>;
    static constexpr uint32_t kGoodLength = kLevelTable[kLevel].goodLength;
    static constexpr uint32_t kLazyLimit = kLevelTable[kLevel].lazyLimit;
    static constexpr int32_t kNiceLength = kLevelTable[kLevel].niceLength;
    static constexpr uint32_t kChainLimit = kLevelTable[kLevel].chainLimit;

    TMatcher(TMatchMemory& memory, TBlockEncoder& encoder, TCodecInput& source)
        : window_(memory.window.get()),
          memory_(memory),
          links_(memory.Links<TLink>()),
          heads_(memory.heads.get()),
          encoder_(encoder),
          source_(source) {}

    // The heads must be all zero on entry (the owner clears them after each
    // entry).
    int64_t Run() {
        const size_t first = source_.Read(window_, kFirstRead);
        if (first == 0) {
            endOfInput_ = true;
            lookahead_ = 0;
        } else {
            lookahead_ = static_cast<uint32_t>(std::min<size_t>(first, kFirstRead));
            memory_.template Reach<TLink>(lookahead_);
            if (lookahead_ < kMinLookahead) Fill();
            hash_ = window_[0];
            hash_ = ((hash_ << kHashShift) ^ window_[1]) & kHashMask;
        }
        if constexpr (kLevel > kLastFastLevel)
            return LazyLoop();
        else
            return FastLoop();
    }

  private:
    // Adds the string at `pos` to its chain; returns the chain's previous head.
    // `prefetch`: after a search, the next position's head candidate and
    // the head of the one after are wanted, which their loads would otherwise
    // wait for (on data without matches most of the time per byte); inside a
    // match the next insert follows at once.
    template <bool prefetch = true>
    uint32_t Insert(uint32_t pos) {
        hash_ = ((hash_ << kHashShift) ^ window_[pos + 2]) & kHashMask;
        if constexpr (prefetch) {
            const uint32_t next = ((hash_ << kHashShift) ^ window_[pos + 3]) & kHashMask;
            __builtin_prefetch(heads_ + (((next << kHashShift) ^ window_[pos + 4]) & kHashMask));
            __builtin_prefetch(window_ + heads_[next]);
        }
        const uint16_t head = heads_[hash_];
        if constexpr (kFourLinks) {
            // The head's own links were set when it was inserted and stay as
            // they are (up to rebasing, which treats every field alike). In a
            // run of one byte the head is the position just inserted: its
            // links are taken from here, not loaded back from the store that
            // is still on its way.
            const uint64_t headLinks =
                head == lastInserted_ ? lastLinks_ : links_[head & kLinkMask];
            lastLinks_ = head | (headLinks << 16);
            lastInserted_ = pos;
            links_[pos & kLinkMask] = lastLinks_;
        } else {
            links_[pos & kLinkMask] = head;
        }
        heads_[hash_] = static_cast<uint16_t>(pos);
        return head;
    }

    // 1 when the chain's head `candidate` may be searched (computed without
    // a branch).
    uint32_t CandidateInRange(uint32_t candidate) const {
        return static_cast<uint32_t>(candidate != 0) &
               static_cast<uint32_t>(static_cast<uint16_t>(strStart_ - candidate) <= kMaxDistance);
    }

    // Levels 1-3: whether the walk from `candidate` can find a match, that
    // is, whether one of the candidates it would test starts with the 3
    // bytes at strStart_ (checked for the first four; past them, whether the
    // chain goes on). Without branches: on data with few matches whether
    // the chain goes on is a coin toss per position, which the walk's own
    // branches would mispredict.
    bool MayMatch(uint32_t candidate) const {
        static_assert(!kFourLinks);
        constexpr uint32_t kScreened = kChainLimit < 4 ? kChainLimit : 4;
        const uint8_t* const window = window_;
        const uint32_t wanted = Load32(window + strStart_) & 0xFFFFFF;
        const uint32_t limit = strStart_ > kMaxDistance ? strStart_ - kMaxDistance : 0;
        uint32_t c = candidate;
        uint32_t live = CandidateInRange(c);
        uint32_t found = live & ((Load32(window + c) & 0xFFFFFF) == wanted);
        if (found) return true;
#pragma GCC unroll 4
        for (uint32_t n = 1; n < kScreened; ++n) {
            c = links_[c & kLinkMask];
            live &= c > limit;
            found |= live & ((Load32(window + c) & 0xFFFFFF) == wanted);
        }
        if constexpr (kChainLimit > kScreened) found |= live;
        return found != 0;
    }

    // Levels 4-9: whether the walk from `candidate` can find a match longer
    // than prevLength_: whether one of the first candidates it would test
    // passes its first test, or the chain goes on past them. Without
    // branches after the first candidate, for the reason MayMatch gives.
    bool MayBeat(uint32_t candidate) const {
        static_assert(kFourLinks);
        const uint8_t* const window = window_;
        const uint32_t best = prevLength_;
        const uint32_t chain = prevLength_ >= kGoodLength ? kChainLimit >> 2 : kChainLimit;
        const uint32_t limit = strStart_ > kMaxDistance ? strStart_ - kMaxDistance : 0;
        const uint8_t* const scan = window + strStart_;
        const uint64_t scanHead = Load64(scan);
        const uint64_t headMask = HeadMask(best);
        const uint16_t scanEnd = Load16(scan + best - 1);
        auto passes = [&](uint32_t c) -> uint32_t {
            return ((((Load64(window + c) ^ scanHead) & headMask) |
                     static_cast<uint16_t>(Load16(window + c + best - 1) ^ scanEnd)) == 0);
        };
        uint32_t live = CandidateInRange(candidate);
        if (live & passes(candidate)) return true;
        const uint64_t next = links_[candidate & kLinkMask];
        const uint32_t c2 = static_cast<uint32_t>(next & 0xFFFF);
        const uint32_t c3 = static_cast<uint32_t>((next >> 16) & 0xFFFF);
        live &= (c2 > limit) & (chain > 1);
        uint32_t found = live & passes(c2);
        live &= (c3 > limit) & (chain > 2);
        found |= live & passes(c3);
        return (found | (live & (chain > 3))) != 0;
    }

    // Walks the chain from `candidate`; returns the best length (at least
    // prevLength_) and sets matchStart_ when it found a longer one. The
    // length may count bytes past the lookahead; callers clamp it.
    //
    // A candidate can only beat `best` if its bytes 0..best all equal the
    // scan's, so one test of its first 8 bytes (those up to best) and of the
    // 2 bytes ending at best rejects almost every candidate that would not
    // win, with a single branch; the rest are measured in full.
    uint32_t LongestMatch(uint32_t candidate) {
        const uint8_t* const window = window_;
        const TLink* const links = links_;
        uint32_t best = prevLength_;
        uint32_t bestStart = matchStart_;
        const uint32_t limit = strStart_ > kMaxDistance ? strStart_ - kMaxDistance : 0;
        const uint8_t* const scan = window + strStart_;
        const uint64_t scanHead = Load64(scan);
        uint64_t headMask = HeadMask(best);
        uint16_t scanEnd = Load16(scan + best - 1);
        const uint8_t* windowAtEnd =
            window + best - 1;  // + candidate: the candidate's 2 bytes ending at best
        // Tests one candidate; true when the search must stop at it.
        auto test = [&](uint32_t c) {
            const uint8_t* const match = window + c;
            if ((((Load64(match) ^ scanHead) & headMask) |
                 static_cast<uint16_t>(Load16(windowAtEnd + c) ^ scanEnd)) != 0)
                return false;
            const uint32_t length = EqualPrefix(scan, match, kMaxMatch);
            if (length <= best) return false;
            bestStart = c;
            best = length;
            if (static_cast<int32_t>(best) >= kNiceLength) return true;
            headMask = HeadMask(best);
            scanEnd = Load16(scan + best - 1);
            windowAtEnd = window + best - 1;
            return false;
        };
        if constexpr (!kFourLinks) {
            // The greedy levels search before any match is pending, so with
            // the level's whole chain limit: a fixed count, unrolled.
            assert(prevLength_ < kGoodLength);
#pragma GCC unroll 8
            for (uint32_t n = 1; n <= kChainLimit; ++n) {
                if (test(candidate) || n == kChainLimit) break;
                candidate = links[candidate & kLinkMask];
                if (candidate <= limit) break;
            }
            matchStart_ = bestStart;
            return best;
        }
        // Four candidates per load: the walk's dependent loads are what a
        // long chain waits on.
        uint32_t chain = prevLength_ >= kGoodLength ? kChainLimit >> 2 : kChainLimit;
        for (;;) {
            if (test(candidate)) break;
            uint64_t next = links[candidate & kLinkMask];
            candidate = static_cast<uint32_t>(next & 0xFFFF);
            if (candidate <= limit || --chain == 0 || test(candidate)) break;
            candidate = static_cast<uint32_t>((next >> 16) & 0xFFFF);
            if (candidate <= limit || --chain == 0 || test(candidate)) break;
            candidate = static_cast<uint32_t>((next >> 32) & 0xFFFF);
            if (candidate <= limit || --chain == 0 || test(candidate)) break;
            candidate = static_cast<uint32_t>(next >> 48);
            if (candidate <= limit || --chain == 0) break;
        }
        matchStart_ = bestStart;
        return best;
    }

    int64_t FlushBlock(bool last) {
        const uint8_t* data = blockStart_ >= 0 ? window_ + blockStart_ : nullptr;
        return encoder_.FlushBlock(data, static_cast<int64_t>(strStart_) - blockStart_, last);
    }

    int64_t BlockInput() const { return static_cast<int64_t>(strStart_) - blockStart_; }

    // Levels 4-9: a match is taken only if the next position does not start
    // a longer one.
    int64_t LazyLoop() {
        uint32_t candidate = 0;
        uint32_t matchLength = kMinMatch - 1;
        bool matchAvailable = false;
        while (lookahead_ != 0) {
            if (lookahead_ >= kMinMatch) candidate = Insert(strStart_);
            prevLength_ = matchLength;
            const uint32_t prevMatch = matchStart_;
            matchLength = kMinMatch - 1;
            if (prevLength_ < kLazyLimit && MayBeat(candidate)) {
                matchLength = std::min(LongestMatch(candidate), lookahead_);
                if (matchLength == kMinMatch &&
                    static_cast<uint16_t>(strStart_ - matchStart_) > kTooFar)
                    matchLength = kMinMatch - 1;
            }
            if (prevLength_ >= kMinMatch && matchLength <= prevLength_) {
                const bool flush = encoder_.RecordMatch(strStart_ - 1 - prevMatch,
                                                        prevLength_ - kMinMatch, BlockInput());
                lookahead_ -= prevLength_ - 1;
                for (uint32_t n = prevLength_ - 2; n != 0; --n) Insert<false>(++strStart_);
                matchAvailable = false;
                matchLength = kMinMatch - 1;
                ++strStart_;
                if (flush) {
                    FlushBlock(false);
                    blockStart_ = strStart_;
                }
            } else if (matchAvailable) {
                if (encoder_.RecordLiteral(window_[strStart_ - 1], BlockInput())) {
                    FlushBlock(false);
                    blockStart_ = strStart_;
                }
                ++strStart_;
                --lookahead_;
            } else {
                matchAvailable = true;
                ++strStart_;
                --lookahead_;
            }
            if (lookahead_ < kMinLookahead) Fill();
        }
        if (matchAvailable) encoder_.RecordLiteral(window_[strStart_ - 1], BlockInput());
        return FlushBlock(true);
    }

    // Levels 1-3: every match found is taken; the strings inside a match are
    // inserted only when it is no longer than the level's insert limit.
    int64_t FastLoop() {
        uint32_t candidate = 0;
        uint32_t matchLength = 0;
        prevLength_ = kMinMatch - 1;
        while (lookahead_ != 0) {
            if (lookahead_ >= kMinMatch) candidate = Insert(strStart_);
            if (MayMatch(candidate))
                matchLength = std::min(LongestMatch(candidate), lookahead_);
            bool flush;
            if (matchLength >= kMinMatch) {
                flush = encoder_.RecordMatch(strStart_ - matchStart_, matchLength - kMinMatch,
                                             BlockInput());
                lookahead_ -= matchLength;
                if (matchLength <= kLazyLimit) {
                    for (uint32_t n = matchLength - 1; n != 0; --n) Insert<false>(++strStart_);
                    ++strStart_;
                } else {
                    strStart_ += matchLength;
                    hash_ = window_[strStart_];
                    hash_ = ((hash_ << kHashShift) ^ window_[strStart_ + 1]) & kHashMask;
                }
                matchLength = 0;
            } else {
                flush = encoder_.RecordLiteral(window_[strStart_], BlockInput());
                --lookahead_;
                ++strStart_;
            }
            if (flush) {
                FlushBlock(false);
                blockStart_ = strStart_;
            }
            if (lookahead_ < kMinLookahead) Fill();
        }
        return FlushBlock(true);
    }

    // Moves the upper half of the window down and rebases every position.
    void Slide() {
        memory_.slid = true;
        lastInserted_ = kNoPosition;
        std::memcpy(window_, window_ + kHistory, kHistory);
        matchStart_ = (matchStart_ - kHistory) & 0xFFFF;
        strStart_ -= kHistory;
        blockStart_ -= static_cast<int64_t>(kHistory);
        auto rebase = [](uint16_t* table, uint32_t count) {
            for (uint32_t i = 0; i < count; ++i)
                table[i] = table[i] >= kHistory ? static_cast<uint16_t>(table[i] - kHistory) : 0;
        };
        rebase(heads_, kHashSize);
        if constexpr (kFourLinks) {
            // Each 16-bit field rebased alike: kept less 32768 when its top
            // bit is set, else 0.
            constexpr uint64_t kLow15 = 0x7FFF7FFF7FFF7FFF;
            constexpr uint64_t kFieldLowBit = 0x0001000100010001;
            for (uint32_t i = 0; i < kHistory; ++i) {
                const uint64_t chain = links_[i];
                links_[i] = chain & kLow15 & (((chain >> 15) & kFieldLowBit) * 0xFFFF);
            }
        } else {
            rebase(links_, kHistory);
        }
    }

    // Reads until at least kMinLookahead bytes lie ahead or the input ends,
    // sliding the window once the current position passes kSlidePosition.
    void Fill() {
        do {
            uint32_t free = (kWindowSize - lookahead_ - strStart_) & 0xFFFF;
            if (free == 0xFFFF) {
                free = 0xFFFE;
            } else if (strStart_ >= kSlidePosition) {
                Slide();
                free += kHistory;
            }
            if (endOfInput_ || free == 0) return;
            const size_t got = source_.Read(window_ + strStart_ + lookahead_, free);
            if (got == 0)
                endOfInput_ = true;
            else
                lookahead_ += static_cast<uint32_t>(std::min<size_t>(got, free));
            memory_.template Reach<TLink>(strStart_ + lookahead_);
        } while (lookahead_ < kMinLookahead && !endOfInput_);
    }

    uint8_t* window_;
    TMatchMemory& memory_;
    TLink* links_;
    uint16_t* heads_;
    TBlockEncoder& encoder_;
    TCodecInput& source_;

    uint32_t strStart_ = 0;                // window index of the string being examined
    uint32_t lookahead_ = 0;               // valid bytes from strStart_ on
    uint32_t matchStart_ = 0;              // start of the best match of the last search
    uint32_t prevLength_ = kMinMatch - 1;  // length a new search must beat
    uint32_t hash_ = 0;                    // hash of the 3 bytes at the next insertion
    int64_t blockStart_ = 0;  // window index where the block's input begins; < 0 once slid out
    uint32_t lastInserted_ = kNoPosition;  // levels 4-9: the last position inserted
    uint64_t lastLinks_ = 0;               // and its links
    bool endOfInput_ = false;
};

template <int kLevel>
int64_t RunAt(TMatchMemory& memory, TBlockEncoder& encoder, TCodecInput& source) {
    return TMatcher<kLevel>(memory, encoder, source).Run();
}

int64_t RunLevel(TMatchMemory& memory, TBlockEncoder& encoder, TCodecInput& source, int level) {
    using TRun = int64_t (*)(TMatchMemory&, TBlockEncoder&, TCodecInput&);
    static constexpr TRun kRuns[] = {RunAt<1>, RunAt<2>, RunAt<3>, RunAt<4>, RunAt<5>,
                                     RunAt<6>, RunAt<7>, RunAt<8>, RunAt<9>};
    return kRuns[level - 1](memory, encoder, source);
}

}  // namespace

TDeflater::TDeflater() : state_(std::make_unique<TState>()) {}

TDeflater::~TDeflater() = default;

int64_t TDeflater::Run(TCodecInput& source, TCodecOutput& out, int level, TDeflateEntry& entry) {
    level = std::clamp(level, 1, 9);
    if (level <= 2) entry.flags |= 4;
    if (level >= 8) entry.flags |= 2;
    state_->encoder.StartEntry(out, entry, level);
    int64_t written;
    try {
        written = RunLevel(state_->memory, state_->encoder, source, level);
    } catch (...) {
        // An entry cut short leaves the window as a finished one does, or the
        // next entry's bytes would depend on this one.
        state_->memory.FinishEntry();
        throw;
    }
    state_->memory.FinishEntry();
    return written;
}

}  // namespace nuva
