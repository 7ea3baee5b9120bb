// PorterStem: reduces one lower-case word to its stem ('connected', 'connecting' -> 'connect').
//
// The stems are part of every stored term vector, so they are fixed for good: this stemmer keeps
// its own variant of the 1980 rules (y after y is a vowel, "ed"/"ing" go even without a vowel
// before them, the short-word test of step 1b2, "bli" -> "ble" and "logi" -> "log" in step 2).
// Changing a single stem would make stored entries stop matching newly typed text.
//
// Ownership: the string form returns a new string; the core works in place on the caller's
// characters. Thread safety: pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

// The stem of s. Upper-case letters, digits and other bytes are consonants that match no suffix.
std::string PorterStem(std::string_view s);

// The core: stems the characters word[first..last] in place and returns the new last index. A
// result below first means the empty stem. The stem is never longer than the word.
int PorterStem(char* word, int first, int last);
