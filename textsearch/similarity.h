// Vector similarity: the score of a stored term vector for a query vector, the cosine of the two
// restricted to the query's terms. A stored text loses nothing by holding words the query lacks.
//
// Counts are read from the `term=count` lines with "0" put in front (an absent or empty count is
// 0); a count that is then not a valid 32-bit integer raises EConvertError. Lookups in the
// stored vector go by name, ASCII case ignored, and its first line with a name counts. Squares and
// products cannot overflow (see cvrules.h); magnitudes, dot products and scores are 32-bit floats
// computed in a fixed order, so a score is reproducible bit for bit.
//
// The weight arguments are not read: every term weighs 1. Thread safety: pure functions of their
// arguments, callable from any thread while nobody changes those arguments.
#pragma once

#include "textsearch/cvvector.h"

// The Euclidean length of CV restricted to the terms (line names) of Query.
float QueryMagnitude(const TcvVector& Query, const TcvVector& CV,
                     const TcvVector* weight = nullptr);

// The sum over the lines of a, in order, of a's count times b's count of the same term.
float DotProduct(const TcvVector& a, const TcvVector& b, const TcvVector* weight = nullptr);

// The score of b for the query a, normally from 0 to 1: DotProduct / (a.magnitude *
// QueryMagnitude), or 0 when that product is 0. a.magnitude is used as stored (EncodeCV sets
// it); b's is not used. A malformed count of b for a term of a raises even when a.magnitude is 0.
float Proximity(const TcvVector& a, const TcvVector& b, const TcvVector* weight = nullptr);
