// The stemmer works in place on word[first..last]: every step looks at the end of the word as the
// previous step left it, shortens it by lowering last, and writes replacement letters over the
// suffix it replaces. Replacements are never longer than what they replace, so no step writes
// past the word's original end. A position below first holds no letter: it matches nothing.
//
// A list of suffixes is tried in order and stops at the first one the word ends with, whether
// or not that rule's condition on the measure let it change the word.
#include "textsearch/uPorterStem.h"

#include <cstring>

namespace {

class TStemmer {
public:
    TStemmer(char* word, int first, int last) : b(word), k0(first), k(last) {}

    int Run() {
        if (k - k0 < 2) return k;
        Step1a();
        Step1b();
        Step1c();
        Step2();
        Step3();
        Step4();
        Step5a();
        Step5b();
        return k;
    }

private:
    char* b;
    const int k0;
    int k;

    char At(int i) const { return i >= k0 ? b[i] : '\0'; }

    static bool IsAEIOU(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

    // y after anything but a, e, i, o, u is a vowel, also after another y: stored stems rely on
    // this, although the published definition differs there.
    bool isVowel(int i) const {
        const char c = b[i];
        if (IsAEIOU(c)) return true;
        return c == 'y' && i > k0 && !IsAEIOU(b[i - 1]);
    }

    bool hasVowel(int i) const {
        for (int p = k0; p <= i; ++p) {
            if (isVowel(p)) return true;
        }
        return false;
    }

    // The number of vowel-consonant transitions in k0..i. Callers only ask for 0, 1 or more, so
    // counting stops at 2.
    int getM(int i) const {
        int m = 0;
        for (int p = i - 1; p >= k0 && m < 2; --p) {
            if (isVowel(p) && !isVowel(p + 1)) ++m;
        }
        return m;
    }

    // consonant-vowel-consonant ending at i, the last consonant not w, x or y.
    bool oRule(int i) const {
        if (i < k0 + 2) return false;
        if (isVowel(i) || !isVowel(i - 1) || isVowel(i - 2)) return false;
        const char c = b[i];
        return c != 'w' && c != 'x' && c != 'y';
    }

    bool Ends(const char* s) const {
        const int len = static_cast<int>(std::strlen(s));
        if (len > k - k0 + 1) return false;
        return std::memcmp(b + k - len + 1, s, len) == 0;
    }

    // Replaces the suffix that ends at k and follows position j by t.
    void SetTo(int j, const char* t) {
        const int len = static_cast<int>(std::strlen(t));
        std::memcpy(b + j + 1, t, len);
        k = j + len;
    }

    int SuffixStart(const char* s) const { return k - static_cast<int>(std::strlen(s)); }

    bool CReplace(const char* s, const char* t) {
        if (!Ends(s)) return false;
        const int j = SuffixStart(s);
        if (getM(j) > 0) SetTo(j, t);
        return true;
    }

    bool CTrimIf(const char* s, int minM) {
        if (!Ends(s)) return false;
        const int j = SuffixStart(s);
        if (getM(j) > minM) k = j;
        return true;
    }
    bool CTrim0(const char* s) { return CTrimIf(s, 0); }
    bool CTrim1(const char* s) { return CTrimIf(s, 1); }
    bool CTrim(const char* s) { return CTrimIf(s, -1); }

    void Step1a() {
        if (b[k] != 's') return;
        const int length = k - k0 + 1;
        if ((Ends("ies") && length >= 4) || (Ends("sses") && length >= 5)) {
            k -= 2;
        } else if (b[k - 1] != 's') {
            k -= 1;
        }
    }

    // "ed" and "ing" go whenever the word ends with them; only the tidying of step 1b2 depends
    // on a vowel before them.
    void Step1b() {
        switch (At(k - 1)) {
            case 'e': {
                if (CReplace("eed", "ee")) return;
                const bool v = hasVowel(k - 2);
                if (CTrim("ed") && v) Step1b2();
                return;
            }
            case 'n': {
                const bool v = hasVowel(k - 3);
                if (CTrim("ing") && v) Step1b2();
                return;
            }
            default:
                return;
        }
    }

    void Step1b2() {
        if (k < k0 + 2) return;
        if (Ends("at") || Ends("bl") || Ends("iz")) {
            b[++k] = 'e';
        } else if (b[k] == b[k - 1] && !isVowel(k)) {
            const char c = b[k];
            if (c != 'l' && c != 's' && c != 'z') --k;
        } else if (getM(k) == 1 && oRule(k)) {
            b[++k] = 'e';
        }
    }

    void Step1c() {
        if (At(k) == 'y' && hasVowel(k - 1)) b[k] = 'i';
    }

    void Step2() {
        switch (At(k - 1)) {
            case 'a':
                CReplace("ational", "ate") || CReplace("tional", "tion");
                break;
            case 'c':
                CReplace("enci", "ence") || CReplace("anci", "ance");
                break;
            case 'e':
                CReplace("izer", "ize");
                break;
            case 'g':
                CReplace("logi", "log");
                break;
            case 'l':
                CReplace("bli", "ble") || CReplace("alli", "al") || CReplace("entli", "ent") ||
                    CReplace("eli", "e") || CReplace("ousli", "ous");
                break;
            case 'o':
                CReplace("ization", "ize") || CReplace("ation", "ate") || CReplace("ator", "ate");
                break;
            case 's':
                CReplace("alism", "al") || CReplace("iveness", "ive") ||
                    CReplace("fulness", "ful") || CReplace("ousness", "ous");
                break;
            case 't':
                CReplace("aliti", "al") || CReplace("iviti", "ive") || CReplace("biliti", "ble");
                break;
            default:
                break;
        }
    }

    void Step3() {
        switch (At(k)) {
            case 'e':
                CReplace("icate", "ic") || CTrim0("ative") || CReplace("alize", "al");
                break;
            case 'i':
                CReplace("iciti", "ic");
                break;
            case 'l':
                CTrim0("ful") || CReplace("ical", "ic");
                break;
            case 's':
                CTrim0("ness");
                break;
            default:
                break;
        }
    }

    void Step4() {
        switch (At(k)) {
            case 'c':
                CTrim1("ic");
                break;
            case 'e':
                switch (At(k - 2)) {
                    case 'a':
                        CTrim1("ate");
                        break;
                    case 'b':
                        CTrim1("able") || CTrim1("ible");
                        break;
                    case 'i':
                        CTrim1("ive") || CTrim1("ize");
                        break;
                    case 'n':
                        CTrim1("ance") || CTrim1("ence");
                        break;
                    default:
                        break;
                }
                break;
            case 'i':
                CTrim1("iti");
                break;
            case 'l':
                CTrim1("al");
                break;
            case 'm':
                CTrim1("ism");
                break;
            case 'n':
                if (At(k - 3) == 's' || At(k - 3) == 't') CTrim1("ion");
                break;
            case 'r':
                CTrim1("er");
                break;
            case 's':
                CTrim1("ous");
                break;
            case 't':
                switch (At(k - 2)) {
                    case 'a':
                        CTrim1("ant");
                        break;
                    case 'e':
                        CTrim1("ement") || CTrim1("ment") || CTrim1("ent");
                        break;
                    default:
                        break;
                }
                break;
            case 'u':
                CTrim1("ou");
                break;
            default:
                break;
        }
    }

    void Step5a() {
        if (At(k) != 'e') return;
        const int m = getM(k - 1);
        if (m > 1 || (m == 1 && !oRule(k - 1))) --k;
    }

    void Step5b() {
        if (At(k) == 'l' && At(k - 1) == 'l' && getM(k) > 1) --k;
    }
};

}  // namespace

int PorterStem(char* word, int first, int last) {
    return TStemmer(word, first, last).Run();
}

std::string PorterStem(std::string_view s) {
    std::string word(s);
    const int last = PorterStem(word.data(), 0, static_cast<int>(word.size()) - 1);
    word.resize(static_cast<size_t>(last + 1));
    return word;
}
