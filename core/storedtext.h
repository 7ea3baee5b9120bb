// The stored form of a text: what goes into the knowledge base's 8-bit text columns for a text
// typed in any language, and what such a column shows.
//
// A text that Windows-1252 can hold is stored as its Windows-1252 bytes, exactly as knowledge
// bases have always held it (the five bytes the code page leaves undefined stand for the C1
// controls of the same code, so every byte string reads back as itself). Any other text is
// stored as the UTF-8 byte-order mark followed by its UTF-8 bytes; so is a text that begins with
// "ï»¿", whose Windows-1252 bytes would look like that mark. Reading, a text that begins with the
// mark and is valid UTF-8 after it is UTF-8; every other stored text is Windows-1252, so an old or
// damaged text still shows as well as its bytes allow.
//
// Term vectors are made from the stored bytes: every byte of 128 or more separates words, so both
// forms of a text give the same terms.
//
// Thread safety: plain functions of their arguments.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The mark that opens a text stored in UTF-8.
inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Appends code point c in UTF-8. A lone surrogate is written as if it were a character, which
// leaves the text ill-formed (callers that read escapes rely on that to reject it).
void AppendUtf8(std::string& out, char32_t c);

// The stored form of a UTF-8 text. Ill-formed UTF-8 in the argument becomes U+FFFD (one for each
// maximal ill-formed part), which only the UTF-8 form can hold.
std::string StoredFromUtf8(std::string_view utf8);
// The text a stored form holds, as valid UTF-8.
std::string Utf8FromStored(std::string_view stored);

// Most stored texts are what StoredFromUtf8 makes of the text they hold; a file from elsewhere
// may hold others: marked UTF-8 that Windows-1252 could hold ("\xEF\xBB\xBFhello"), or a text
// that begins with the mark and is no UTF-8 after it (read as Windows-1252). So that such a text
// travels as UTF-8 and comes back byte for byte, its form goes with it.
enum class TStoredForm { Usual, Utf8, Windows1252 };
// Usual when StoredFromUtf8(Utf8FromStored(stored)) gives stored back; otherwise the form it is in.
TStoredForm OddFormOf(std::string_view stored);
// The stored text of a UTF-8 text in a form: Usual is StoredFromUtf8, Utf8 the mark and the
// text, Windows1252 its Windows-1252 bytes. None when utf8 is ill-formed or Windows-1252 cannot
// hold it.
std::optional<std::string> StoredInForm(std::string_view utf8, TStoredForm form);
// Whether a stored text is in the UTF-8 form (begins with the mark, valid UTF-8 after it).
bool IsMarkedUtf8(std::string_view stored);
// The characters of a text as a server's text column counts them, or -1 when the column cannot
// hold it (not valid UTF-8, or a NUL inside).
long Utf8Characters(std::string_view text);
// A value that is no user's text (an entry ID, a created value) as UTF-8: as it is when it is
// UTF-8 already, as this program writes them, and read as Windows-1252 otherwise.
std::string LabelUtf8(std::string_view value);
// Whether text is well-formed UTF-8 (no surrogates, overlong forms or code points above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// A hit shows the first kHitTitleLength characters of its text followed by "...", and an excerpt
// of the next kHitExcerptLength characters with blanks and control characters (codes up to 32)
// trimmed from both ends. The text is cut at its first NUL, as text columns read back, and counted
// in the characters of its form: bytes of a Windows-1252 text, code points of a UTF-8 one.
inline constexpr std::size_t kHitTitleLength = 40;
inline constexpr std::size_t kHitExcerptLength = 100;
// The leading bytes of a stored text that decide its title and excerpt: HitTitleUtf8(s) equals
// HitTitleUtf8(s.substr(0, kHitTextBytes)), and the same for the excerpt, so a loader may read
// only that much. The form of a longer text is judged on that prefix alone, where a character cut
// in two at its end lies beyond what a hit shows.
inline constexpr std::size_t kHitTextBytes =
    kUtf8Mark.size() + (kHitTitleLength + kHitExcerptLength) * 4;

// The title and excerpt of a hit on a stored text, as valid UTF-8.
std::string HitTitleUtf8(std::string_view stored);
std::string HitExcerptUtf8(std::string_view stored);
