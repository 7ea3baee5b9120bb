#include "core/ranking.h"

#include "core/store/usersettings.h"

namespace {

constexpr std::string_view kSetting = "ranking";

}  // namespace

std::string_view RankingName(TRanking ranking) {
    return ranking == TRanking::Classic ? "classic" : "best";
}

std::optional<TRanking> RankingNamed(std::string_view name) {
    if (name == "best") return TRanking::BestMatch;
    if (name == "classic") return TRanking::Classic;
    return std::nullopt;
}

TRanking SavedRanking() {
    const std::optional<std::string> saved = ReadUserSetting(kSetting);
    if (!saved) return TRanking::BestMatch;
    std::string_view name = *saved;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
        name.remove_suffix(1);
    return RankingNamed(name).value_or(TRanking::BestMatch);
}

void SaveRanking(TRanking ranking) {
    WriteUserSetting(kSetting, RankingName(ranking));
}
