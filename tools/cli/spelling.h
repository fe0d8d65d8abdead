// "Did you mean": the nearest of the words a command takes to a word that matches none of them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zolvane::cli {

// Edits (a letter added, dropped, changed, or two neighbours swapped) between the two words,
// without regard to case; '-', '_' and ' ' count as one and the same letter.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The candidate nearest to typed, when it is near enough to be what was meant: one edit for
// short words, up to three for long ones. The first of equally near candidates wins.
std::optional<std::string_view> NearestWord(std::string_view typed,
                                            std::span<const std::string_view> candidates);

// "; did you mean 'Brightness'?" for the nearest candidate, empty when none is near.
std::string DidYouMean(std::string_view typed, std::span<const std::string_view> candidates);

}  // namespace zolvane::cli
