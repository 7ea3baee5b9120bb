// The two rankings of the hits and the user's choice between them. Classic scores every stored
// text by the cosine of its term counts with the typed problem's, as earlier versions did; Best
// match ranks entries by how well their words answer it (bestsearch.h). The choice is the user's
// own (usersettings.h), Best match unless Classic was chosen.
//
// Thread safety: plain functions; the choice is read from and written to the settings files.
#pragma once

#include <optional>
#include <string_view>

enum class TRanking { Classic, BestMatch };

// "best" and "classic", as the command line and the settings file write them.
std::string_view RankingName(TRanking ranking);
std::optional<TRanking> RankingNamed(std::string_view name);

// The user's choice; Best match when none was made or it cannot be read.
TRanking SavedRanking();
// Raises Exception when the choice cannot be written.
void SaveRanking(TRanking ranking);
