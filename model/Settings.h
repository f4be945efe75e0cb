#pragma once
// A board's settings as values: what the window shows and a profile stores, one value per item
// of the board's family, each with whether it was read from the board and, if not, why.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

struct Setting {
    std::int32_t value = 0;
    bool read = false;
    std::string why;  // why it was not read; empty when it was

    static Setting Of(std::int32_t value) { return {value, true, {}}; }
    static Setting NotRead(std::string why) { return {0, false, std::move(why)}; }
};

// Item: the family's enumeration of its items, numbered from 0 and ending in kCount.
template <typename Item>
class Settings {
public:
    static constexpr std::size_t kCount = static_cast<std::size_t>(Item::kCount);

    Setting& operator[](Item item) { return items_[static_cast<std::size_t>(item)]; }
    const Setting& operator[](Item item) const { return items_[static_cast<std::size_t>(item)]; }

    std::size_t ReadCount() const {
        std::size_t n = 0;
        for (const Setting& s : items_) n += s.read ? 1 : 0;
        return n;
    }

private:
    std::array<Setting, kCount> items_{};
};
