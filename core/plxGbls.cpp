#include "core/plxGbls.h"

#include "platform/win/Utf8.h"

#include <iterator>
#include <memory>

namespace {

// The dot tried after a dotless name. Only a literal "." takes it: "?" and sets never match the
// end of a name, so "a?" still refuses "a".
constexpr char32_t AppendedDot = 0x110000;

}  // namespace

EInvalidMask::EInvalidMask(std::string_view mask, int position)
    : win::Exception("'" + std::string(mask) + "' is an invalid mask at (" + std::to_string(position) + ")")
{}

void InvalidMaskError(std::string_view Mask, int Position)
{
    throw EInvalidMask(Mask, Position);
}

TInternalMask::TInternalMask(std::string_view Mask)
{
    const std::u32string mask = win::DecodeUtf8(Mask);
    MaskEndsWithDot = !mask.empty() && mask.back() == U'.';
    bool skipTo = false;
    int skipToCount = 0;
    auto add = [&](TState state, std::size_t at) {
        state.SkipTo = skipTo;
        if (skipTo && ++skipToCount > MaxSkipToStates)
            InvalidMaskError(Mask, int(at) + 1);
        skipTo = false;
        States.push_back(state);
    };
    std::size_t i = 0;
    while (i < mask.size()) {
        const char32_t c = mask[i];
        TState state;
        if (c == U'*') {
            skipTo = true;
            ++i;
            continue;
        }
        std::size_t at = i;
        if (c == U'?') {
            state.Kind = mkAnyChar;
            ++i;
        } else if (c == U'[') {
            i = ParseSet(mask, i + 1, Mask, state);
        } else {
            state.Literal = win::FoldCase(c);
            ++i;
        }
        add(state, at);
    }
    add(TState(), mask.size());  // matches the end of the name
    TakesAll = States.size() == 1 && States.front().SkipTo;
}

std::size_t TInternalMask::ParseSet(const std::u32string& mask, std::size_t pos, std::string_view text, TState& state)
{
    state.Kind = mkSet;
    state.Set = std::uint32_t(Sets.size());
    std::vector<TRange>& set = Sets.emplace_back();
    if (pos < mask.size() && mask[pos] == U'!') {
        state.Negate = true;
        ++pos;
    }
    auto addRange = [&set](char32_t from, char32_t to) {
        const char32_t low = win::FoldCase(from), high = win::FoldCase(to);
        if (low <= high)
            set.push_back({low, high});
    };
    bool haveLast = false;
    char32_t last = 0;
    while (pos < mask.size() && mask[pos] != U']') {
        if (mask[pos] == U'-') {
            // "-" continues a range from the last character: "[a-c-e]" is a to e.
            if (!haveLast)
                InvalidMaskError(text, int(pos) + 1);
            if (++pos >= mask.size())
                break;
            addRange(last, mask[pos]);
            ++pos;
            continue;
        }
        last = mask[pos];
        haveLast = true;
        if (pos + 2 < mask.size() && mask[pos + 1] == U'-') {
            // The start of a range is not a member on its own: "[z-a]" is empty.
            addRange(last, mask[pos + 2]);
            pos += 3;
        } else {
            addRange(last, last);
            ++pos;
        }
    }
    if (pos >= mask.size() || set.empty())
        InvalidMaskError(text, int(pos) + 1);
    return pos + 1;
}

bool TInternalMask::Fits(const TState& state, const std::u32string& name, std::size_t pos) const
{
    if (&state == &States.back())
        return pos == name.size();
    if (pos >= name.size())
        return false;
    if (name[pos] == AppendedDot)
        return state.Kind == mkLiteral && state.Literal == U'.';
    switch (state.Kind) {
    case mkLiteral:
        return name[pos] == state.Literal;
    case mkAnyChar:
        return true;
    case mkSet:
        for (const TRange& r : Sets[state.Set])
            if (name[pos] >= r.Low && name[pos] <= r.High)
                return !state.Negate;
        return state.Negate;
    }
    return false;
}

// Every state takes one character, so on a failure it is enough to let the last "*" take one
// more character and retry from there: time stays proportional to name length times states,
// however many "*" the mask holds.
bool TInternalMask::MatchFolded(const std::u32string& name) const
{
    constexpr std::size_t None = std::size_t(-1);
    std::size_t s = 0, n = 0;
    std::size_t starState = None, starName = 0;
    for (;;) {
        const TState& state = States[s];
        if (state.SkipTo) {
            starState = s;
            starName = n;
        }
        if (Fits(state, name, n)) {
            if (s + 1 == States.size())
                return true;
            ++s;
            ++n;
            continue;
        }
        if (starState == None || starName >= name.size())
            return false;
        s = starState;
        n = ++starName;
    }
}

bool TInternalMask::Matches(std::string_view Name) const
{
    if (TakesAll)
        return true;
    std::u32string name = win::DecodeUtf8(Name);
    for (char32_t& c : name)
        c = win::FoldCase(c);
    if (MatchFolded(name))
        return true;
    if (name.find(U'.') != std::u32string::npos)
        return false;
    name.push_back(AppendedDot);
    return MatchFolded(name);
}

// Called per archive entry with the same few masks: each is compiled once, and the masks that take
// every name ("*" and "*.*": a dotless name is tried with a dot) are not run at all.
bool MatchesMask(std::string_view Name, std::string_view Mask)
{
    if (Mask.empty() || Mask == "*" || Mask == "*.*")
        return true;
    struct TCompiled {
        std::string Text;
        std::unique_ptr<TInternalMask> Mask;
    };
    thread_local TCompiled recent[4];
    thread_local std::size_t next = 0;
    for (const TCompiled& c : recent)
        if (c.Mask && c.Text == Mask)
            return c.Mask->Matches(Name);
    auto compiled = std::make_unique<TInternalMask>(Mask);  // raises before anything is kept
    TCompiled& slot = recent[next++ % std::size(recent)];
    slot.Text = std::string(Mask);
    slot.Mask = std::move(compiled);
    return slot.Mask->Matches(Name);
}

std::string CompressMethodName(std::uint16_t Method, std::uint16_t Flags)
{
    static const char* const DeflateNames[] = {"DFLT-N", "", "DFLT-X", "", "DFLT-F", "", "DFLT-S"};
    static const char* const BZip2Names[] = {"BZip2-N", "", "BZip2-X", "", "BZip2-F", "", "BZip2-S"};
    const char* const* table = (Method == 11 || Method == 12) ? BZip2Names : DeflateNames;
    std::string text = table[Flags >= 7 ? 0 : (Flags & 6)];
    return text.empty() ? "Deflate" : text;
}
