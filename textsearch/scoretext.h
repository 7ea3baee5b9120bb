// The score of a hit as the results list writes it, shared by the list and the command-line
// tool so that both show the same figure for the same hit.
//
// Thread safety: reads the C locale's decimal separator, like every use of the user's formats.
#pragma once

#include <string>

// Round(Proximity * 1000) / 10, halves to even, in the shortest general decimal form of at most
// 15 significant digits, with the user's decimal separator: 0.87549 -> "87.5", 1 -> "100".
std::string ScoreText(float Proximity);
