// File-name masks ("*", "?", "[set]", "[!set]") and the shared name helpers.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/plxConsts.h"

// "'<mask>' is an invalid mask at (<position>)"; the position counts characters from 1.
class EInvalidMask : public win::Exception {
public:
    EInvalidMask(std::string_view mask, int position);
};

[[noreturn]] void InvalidMaskError(std::string_view Mask, int Position);

// A compiled mask. Letters compare without regard to case (Unicode case folding), and a name is
// matched character by character, not byte by byte.
class TInternalMask : public TObject {
public:
    static constexpr int MaxSkipToStates = 30;

    explicit TInternalMask(std::string_view Mask);  // raises EInvalidMask
    // A name without a dot matches as it is or, failing that, with a dot appended, so "*.*" and
    // "*." match it.
    bool Matches(std::string_view Name) const;
    bool EndsWithDot() const { return MaskEndsWithDot; }
    std::size_t StateCount() const { return States.size(); }

private:
    enum TKind : std::uint8_t { mkLiteral, mkAnyChar, mkSet };
    struct TRange {
        char32_t Low, High;  // case-folded
    };
    struct TState {
        bool SkipTo = false;  // one or more "*" stand before this state
        TKind Kind = mkLiteral;
        bool Negate = false;
        char32_t Literal = 0;  // case-folded
        std::uint32_t Set = 0;  // index into Sets
    };

    bool Fits(const TState& state, const std::u32string& name, std::size_t pos) const;
    bool MatchFolded(const std::u32string& name) const;
    std::size_t ParseSet(const std::u32string& mask, std::size_t pos, std::string_view text, TState& state);

    std::vector<TState> States;  // the last one matches the end of the name
    std::vector<std::vector<TRange>> Sets;
    bool MaskEndsWithDot = false;
};

// One mask of a mask list; owns its compiled mask.
class TMultiMask : public TObject {
public:
    explicit TMultiMask(std::string_view Mask) : Compiled(std::make_unique<TInternalMask>(Mask)) {}
    TInternalMask& Mask() const { return *Compiled; }

private:
    std::unique_ptr<TInternalMask> Compiled;
};

// True for an empty mask; otherwise compiles Mask and matches Name.
bool MatchesMask(std::string_view Name, std::string_view Mask);

// Method text of deflate (bzip2 for ZIP methods 11 and 12) by the level bits of the ZIP flags.
std::string CompressMethodName(std::uint16_t Method, std::uint16_t Flags);
