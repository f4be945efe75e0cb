#include "boards/ProfileReader.h"

#include <cstdint>
#include <map>
#include <optional>

#include "gpu/PciBusIdText.h"

namespace {

using rtx3080ti::Item;

// Whole numbers as people write them: an optional sign, then digits only.
bool IsWholeNumber(const std::wstring& text) {
    std::size_t i = text.size() > 0 && (text[0] == L'+' || text[0] == L'-') ? 1 : 0;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < L'0' || text[i] > L'9') return false;
    return true;
}

std::wstring Number(long long value) {
    const std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}

// "256 (1.60000 V)", "1 (Level 1)", "1 (on)".
std::wstring ValueWithText(const ValueTraits& traits, std::int32_t value) {
    const std::wstring text = traits.kind == ValueTraits::Kind::Flag ? (value != 0 ? L"on" : L"off")
                              : traits.text                         ? traits.text(value)
                                                                    : std::wstring();
    return Number(value) + (text.empty() ? L"" : L" (" + text + L")");
}

// The values an item takes as written: a flag and a switch take 0 and 1, levels and ranges their span.
std::pair<std::int32_t, std::int32_t> Span(const ValueTraits& traits) {
    switch (traits.kind) {
        case ValueTraits::Kind::Flag:
        case ValueTraits::Kind::Switch: return {0, 1};
        case ValueTraits::Kind::Levels:
        case ValueTraits::Kind::Range: return {traits.base, traits.top};
    }
    return {traits.base, traits.top};
}

const ValueTraits& SyncTraits() {
    static const ValueTraits sync{ValueTraits::Kind::Flag, L"Sync"};
    return sync;
}

class Warnings {
public:
    Warnings(std::wstring file, std::vector<ProfileWarning>& out) : file_(std::move(file)), out_(out) {}

    void Add(const ProfileLine& line, const std::wstring& what) {
        const std::wstring where = line.line != 0 ? file_ + L":" + Number(static_cast<long long>(line.line)) : file_;
        const std::wstring written = line.keyed ? line.key + L"=" + line.value : L"\"" + line.value + L"\"";
        out_.push_back({file_, line.line, line.key, line.value, where + L": " + written + L" " + what});
    }

private:
    std::wstring file_;
    std::vector<ProfileWarning>& out_;
};

}  // namespace

Rtx3080TiProfile ReadRtx3080TiProfile(const ProfileStore& store, const std::wstring& sectionName) {
    Rtx3080TiProfile profile;
    profile.sectionName = sectionName;
    std::vector<ProfileLine> lines;
    profile.found = store.ReadLines(sectionName, lines);
    profile.section = ProfileStore::SectionOf(lines);
    profile.stored = Rtx3080TiFamily::FromProfile(profile.section);
    profile.wanted = Rtx3080TiFamily::Table().Held(profile.stored);
    profile.sync = Rtx3080TiFamily::SyncOf(profile.section);

    Warnings warn(store.Path(), profile.warnings);
    std::map<std::wstring, const ProfileLine*, CodeUnitLess> first;
    for (const ProfileLine& line : lines) {
        if (!line.keyed) {
            warn.Add(line, L"is not KEY=value; the line is ignored");
            continue;
        }
        const std::optional<Item> item = Rtx3080TiFamily::ProfileItem(line.key);
        const bool sync = line.key == Rtx3080TiFamily::SyncKey();
        if (!item && !sync) {
            warn.Add(line, L"sets nothing: [" + sectionName + L"] has no key " + line.key + L"; the line is ignored");
            continue;
        }
        const auto [earlier, isFirst] = first.emplace(line.key, &line);
        if (!isFirst) {
            const ProfileLine& used = *earlier->second;
            warn.Add(line, L"repeats " + line.key +
                               (used.line != 0 ? L" of line " + Number(static_cast<long long>(used.line)) : L"") +
                               L"; the first, " + used.value + L", is used and this line ignored");
            continue;
        }
        const ValueTraits& traits = item ? Rtx3080TiFamily::Table().Of(*item).value : SyncTraits();
        // As Load takes it: the store's number, then as the item holds it.
        const auto value = static_cast<std::int32_t>(ProfileStore::Number(line.value));
        const std::int32_t held = traits.Held(value);
        const auto [low, high] = Span(traits);
        if (!IsWholeNumber(line.value)) {
            warn.Add(line, L"is not a whole number; " + ValueWithText(traits, held) + L" is used");
        } else if (value < low || value > high) {
            warn.Add(line, L"lies outside " + ValueWithText(traits, low) + L" to " + ValueWithText(traits, high) +
                               L"; " + ValueWithText(traits, held) + L" is used");
        }
    }
    return profile;
}

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Section names compare as reads compare them: ASCII letters in either case.
bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

std::wstring Joined(const std::vector<std::wstring>& ids) {
    std::wstring text;
    for (const std::wstring& id : ids)
        if (!id.empty()) text += (text.empty() ? L"" : L", ") + id;
    return text;
}

}  // namespace

CardSections::CardSections(const ProfileStore& store, const std::wstring& familySection,
                           const std::vector<std::wstring>& machineBusIds)
    : file_(store.Path()), familySection_(familySection) {
    const std::wstring prefix = familySection + L" ";
    std::vector<profile::SectionHeader> seen;
    for (const profile::SectionHeader& header : store.SectionHeaders()) {
        const bool family = SameName(header.name, familySection);
        const bool card = header.name.size() > prefix.size() && SameName(header.name.substr(0, prefix.size()), prefix);
        if (!family && !card) continue;
        const std::wstring where = file_ + L":" + std::to_wstring(header.line) + L": [" + header.name + L"] ";
        const auto warn = [&](const std::wstring& what) {
            warnings_.push_back({file_, header.line, L"", L"", where + what});
        };
        bool repeated = false;
        for (const profile::SectionHeader& earlier : seen)
            if (SameName(earlier.name, header.name)) {
                warn(L"repeats the section of line " + std::to_wstring(earlier.line) + L"; it is never read");
                repeated = true;
                break;
            }
        seen.push_back(header);
        if (repeated || family) continue;
        const std::optional<std::wstring> id = NormalizedPciBusId(header.name.substr(prefix.size()));
        if (!id) {
            warn(L"names no PCI bus id such as 0000:01:00.0; it is not used");
            continue;
        }
        const Card* same = nullptr;
        for (const Card& c : cards_)
            if (c.busId == *id) same = &c;
        if (same) {
            warn(L"names the card of [" + same->sectionName + L"] on line " + std::to_wstring(same->line) +
                 L" again; it is not used");
            continue;
        }
        bool present = false;
        for (const std::wstring& busId : machineBusIds) present = present || busId == *id;
        if (!present) {
            const std::wstring here = Joined(machineBusIds);
            warn(L"names no GPU of this machine" + (here.empty() ? L"" : L" (its GPUs are " + here + L")") +
                 L"; it is not used");
            continue;
        }
        cards_.push_back({*id, header.name, header.line});
    }
}

std::optional<std::wstring> CardSections::For(const std::wstring& busId) const {
    for (const Card& card : cards_)
        if (card.busId == busId) return card.sectionName;
    return std::nullopt;
}

void CardSections::Empty(const std::wstring& sectionName) {
    for (const Card& card : cards_)
        if (card.sectionName == sectionName)
            warnings_.push_back({file_, card.line, L"", L"",
                                 file_ + L":" + std::to_wstring(card.line) + L": [" + sectionName +
                                     L"] holds no KEY=value line; its card takes [" + familySection_ + L"]"});
}
