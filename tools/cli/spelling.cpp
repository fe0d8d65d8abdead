#include "spelling.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace zolvane::cli {
namespace {

char Folded(char c) {
    if (c == '-' || c == '_') return ' ';
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::size_t Allowed(std::string_view typed) {
    if (typed.size() <= 4) return 1;
    if (typed.size() <= 8) return 2;
    return 3;
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b) {
    // Three rows of the optimal-string-alignment table: the one before last, the last, this one.
    std::vector<std::size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) last[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = Folded(a[i - 1]) == Folded(b[j - 1]);
            row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && Folded(a[i - 1]) == Folded(b[j - 2]) &&
                Folded(a[i - 2]) == Folded(b[j - 1])) {
                row[j] = std::min(row[j], before[j - 2] + 1);
            }
        }
        std::swap(before, last);
        std::swap(last, row);
    }
    return last[b.size()];
}

std::optional<std::string_view> NearestWord(std::string_view typed,
                                            std::span<const std::string_view> candidates) {
    std::optional<std::string_view> nearest;
    std::size_t best = Allowed(typed) + 1;
    for (std::string_view candidate : candidates) {
        const std::size_t distance = EditDistance(typed, candidate);
        if (distance < best) {
            best = distance;
            nearest = candidate;
        }
    }
    return nearest;
}

std::string DidYouMean(std::string_view typed, std::span<const std::string_view> candidates) {
    const std::optional<std::string_view> nearest = NearestWord(typed, candidates);
    if (!nearest) return {};
    return "; did you mean '" + std::string(*nearest) + "'?";
}

}  // namespace zolvane::cli
