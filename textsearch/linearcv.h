// The straightforward versions of EncodeCV and the similarity operations: every term lookup
// scans the lines of the vector, every count is converted from its text with "0" put in front,
// step by step as the algorithms read. The optimised versions in cvvector.cpp, similarity.cpp and
// vectorindex.cpp must agree with these line for line and bit for bit; the tests check that and
// the benchmarks measure against them. Nothing in the program calls them.
//
// Thread safety: pure functions of their arguments.
#pragma once

#include <memory>
#include <string_view>

#include "textsearch/cvvector.h"

std::unique_ptr<TcvVector> EncodeCVLinear(std::string_view text,
                                          const TcvVector* stoplist = nullptr);
float QueryMagnitudeLinear(const TcvVector& Query, const TcvVector& CV);
float DotProductLinear(const TcvVector& a, const TcvVector& b);
float ProximityLinear(const TcvVector& a, const TcvVector& b);
