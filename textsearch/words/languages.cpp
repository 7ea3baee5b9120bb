// The common words are short lists of the most frequent function words of each language, chosen
// so that few of them are shared between languages of one script; a handful of them in a text
// tells its language. Latin words of one letter are left out: "a", "e", "i", "o" and "y" are
// common words of half the languages, and "e-mail" would make any text Italian. They are kept as
// written and folded to their bare form when the table is built, so that a text typed without its
// accents is told the same way.
#include "textsearch/words/languages.h"

#include <libstemmer.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "textsearch/uPorterStem.h"

namespace {

using G = TScriptGroup;

// Defaults first within their group: the first language of a group with a stemmer is its
// default, and wins a tie.
constexpr TLanguage kLanguages[] = {
    {"English", "english", G::Latin,
     "the and of to is in that it for with was on are this be not have you from by at an or but "
     "which when does can will there what my after if has do how",
     ""},
    {"German", "german", G::Latin,
     "der die und nicht das ist ich es sie mit den von zu sich auf für dem ein eine einen des "
     "auch wird bei nach wenn oder aber noch wie kann nur über beim werden wurde war sind hat "
     "haben kein keine",
     ""},
    {"French", "french", G::Latin,
     "le la les de des du et est un une que qui dans pour pas sur au aux ce cette il elle ne se "
     "avec sont par plus ou mais je nous vous été être",
     ""},
    {"Spanish", "spanish", G::Latin,
     "el la los las de del en que es un una por con no se para lo al su como más pero sus le "
     "ya este esta son entre cuando muy sin sobre también",
     ""},
    {"Italian", "italian", G::Latin,
     "il lo la gli le di del della che un una per non si con sono da nel nella al alla ma "
     "come anche questo più",
     ""},
    {"Portuguese", "portuguese", G::Latin,
     "os as de do da dos das em um uma que não para com por se na no mais ao como mas "
     "foi ele ela seu sua ou",
     ""},
    {"Dutch", "dutch", G::Latin,
     "de het een en van in is dat op te zijn niet met voor die er aan ook als maar bij door om "
     "dan wordt of naar",
     ""},
    {"Swedish", "swedish", G::Latin,
     "och att det som en på är för av med till den inte har om de ett var jag så men kan ska "
     "från eller när",
     ""},
    {"Norwegian", "norwegian", G::Latin,
     "og det som er en på til av med for ikke har de den jeg var et om men så kan vil skal fra "
     "eller når ble hva meg deg noe mye etter",
     ""},
    {"Danish", "danish", G::Latin,
     "og det at en den til er som på de med for af ikke har et var jeg men så kan vil skal fra "
     "eller når blev hvad mig dig noget meget efter",
     ""},
    {"Finnish", "finnish", G::Latin,
     "ja on ei se että oli hän mutta kun tai ovat jos myös niin mitä ole olla joka tämä sen kuin "
     "vain voi",
     ""},
    {"Hungarian", "hungarian", G::Latin,
     "az és hogy nem is egy ez meg van csak de ha már még mint volt vagy ki el azt mert", ""},
    {"Romanian", "romanian", G::Latin,
     "și în de la cu nu pe un că este sunt pentru din mai care ce sau se al ale lui fost", ""},
    {"Turkish", "turkish", G::Latin,
     "ve bir bu da de için ile ne çok daha gibi olan ama en var mı değil sonra kadar ben", ""},
    {"Indonesian", "indonesian", G::Latin,
     "yang dan di itu dengan untuk tidak ini dari dalam akan pada juga ke karena ada bisa atau "
     "adalah oleh",
     ""},
    {"Irish", "irish", G::Latin, "agus an na is ar le go de ag ní sé sí bhí tá atá ach mar seo sin",
     ""},
    {"Catalan", "catalan", G::Latin,
     "el la els les de del que en un una per amb no es és al als més però com aquest aquesta "
     "són",
     ""},
    {"Basque", "basque", G::Latin,
     "eta da ez du bat zen dira ere baina hau hori beste egin izan dute duen dago edo gehiago", ""},
    {"Lithuanian", "lithuanian", G::Latin,
     "ir yra kad tai su ne iš bet kaip nuo jis ji buvo būti taip dar tik apie arba", ""},
    {"Serbian", "serbian", G::Latin,
     "je da se na su za od sa kao ali što to ne koji bio biti ili samo kada", ""},
    {"Polish", "", G::Latin,
     "na się nie jest do to że jak ale po co tak za od czy dla przez jako jego ten", ""},
    {"Czech", "", G::Latin,
     "se na je že to do jako ale pro by jsou jsem tak jeho který když nebo také", ""},

    {"Russian", "russian", G::Cyrillic,
     "и в не на что он я с как это по но из у за от же то все она так его только было к уже "
     "для вы ты мне",
     ""},
    {"Serbian", "serbian", G::Cyrillic,
     "и у да се на је су за од са као али што то не који био бити или само када", "ђјљњћџ"},
    {"Ukrainian", "", G::Cyrillic,
     "і в на що не та з у це до як він але я й за від для ви так його ще є вона бути", "іїєґ"},
    {"Bulgarian", "", G::Cyrillic,
     "и в на да се не за от е са че това като по с към но ще си той тя при които беше", ""},

    {"Greek", "greek", G::Greek, "", ""},
    {"Armenian", "armenian", G::Armenian, "", ""},

    {"Arabic", "arabic", G::Arabic, "من في على إلى عن أن هذا التي الذي كان ما لا مع هذه", ""},
    {"Persian", "", G::Arabic, "را است این که برای می یک", ""},
    {"Urdu", "", G::Arabic, "کے میں کی ہے اور سے کا نہیں", ""},

    {"Hindi", "hindi", G::Devanagari, "है के में की और से का हैं नहीं यह भी पर था", ""},
    {"Nepali", "nepali", G::Devanagari, "छ र मा हो पनि गर्न भएको छन् यो थियो लागि", ""},
    {"Tamil", "tamil", G::Tamil, "", ""},

    {"Hebrew", "", G::Hebrew, "של את על זה לא הוא עם גם כי אני היא אם יש", ""},
    {"Yiddish", "yiddish", G::Hebrew, "און איז דער די דאס ניט נישט מיט פון צו אויף ער זי", ""},
};
constexpr int kLanguageCount = static_cast<int>(std::size(kLanguages));
static_assert(kLanguageCount <= 64, "a TLanguageSet has 64 bits");
constexpr int kEnglish = 0;
static_assert(std::string_view(kLanguages[kEnglish].algorithm) == "english");

uint32_t Fnv1a(std::string_view s) {
    uint32_t h = 2166136261u;
    for (const char c : s)
        h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    return h;
}

// The common words of every language in their bare form, in an open-addressed table.
class TCommonWords {
public:
    TCommonWords() {
        std::vector<std::pair<std::string, TLanguageSet>> words;
        for (int l = 0; l < kLanguageCount; ++l) {
            std::string_view list = kLanguages[l].commonWords;
            while (!list.empty()) {
                const size_t space = list.find(' ');
                const std::string_view word = list.substr(0, space);
                list = space == std::string_view::npos ? "" : list.substr(space + 1);
                std::string folded, bare;
                FoldText(word, folded, bare);
                Insert(bare, TLanguageSet{1} << l);
            }
        }
    }

    TLanguageSet Find(std::string_view bare) const {
        if (bare.size() > fmaxLength) return 0;
        const uint32_t hash = Fnv1a(bare) | 1;
        for (size_t i = hash & kMask;; i = (i + 1) & kMask) {
            if (fhashes[i] == 0) return 0;
            if (fhashes[i] == hash && fslots[i].word == bare) return fslots[i].languages;
        }
    }

private:
    static constexpr size_t kSlots = 2048;  // a power of two, well above the number of words
    static constexpr size_t kMask = kSlots - 1;
    struct TSlot {
        std::string word;
        TLanguageSet languages = 0;
    };

    void Insert(const std::string& bare, TLanguageSet language) {
        const uint32_t hash = Fnv1a(bare) | 1;
        for (size_t i = hash & kMask;; i = (i + 1) & kMask) {
            TSlot& slot = fslots[i];
            if (fhashes[i] == 0 || slot.word == bare) {
                if (fhashes[i] == 0 && ++fcount > kSlots / 2)
                    throw std::logic_error("too many common words for their table");
                fhashes[i] = hash;
                slot.word = bare;
                slot.languages |= language;
                fmaxLength = std::max(fmaxLength, bare.size());
                return;
            }
        }
    }

    // The hashes apart (0: an empty slot), so that a look-up of a word that is none of them,
    // most words, reads only these 8 KB.
    std::array<uint32_t, kSlots> fhashes{};
    std::array<TSlot, kSlots> fslots{};
    size_t fcount = 0;
    size_t fmaxLength = 0;
};

const TCommonWords& CommonWords() {
    static const TCommonWords words;
    return words;
}

// Every thread's own stemmers, made when first asked for.
class TStemmers {
public:
    TStemmers() = default;
    TStemmers(const TStemmers&) = delete;
    TStemmers& operator=(const TStemmers&) = delete;
    ~TStemmers() {
        for (sb_stemmer* s : fstemmers) {
            if (s) sb_stemmer_delete(s);
        }
    }

    sb_stemmer* For(int language) {
        sb_stemmer*& s = fstemmers[static_cast<size_t>(language)];
        if (!s) {
            s = sb_stemmer_new(kLanguages[language].algorithm, "UTF_8");
            if (!s) throw std::runtime_error("libstemmer has no stemmer for a language it lists");
        }
        return s;
    }

private:
    std::array<sb_stemmer*, kLanguageCount> fstemmers{};
};

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<uint8_t>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::span<const TLanguage> Languages() {
    return kLanguages;
}

int DefaultLanguage(TScriptGroup group) {
    for (int l = 0; l < kLanguageCount; ++l) {
        if (kLanguages[l].group == group && *kLanguages[l].algorithm) return l;
    }
    return -1;
}

int LanguageOf(std::string_view algorithm, TScriptGroup group) {
    if (algorithm.empty()) return -1;
    for (int l = 0; l < kLanguageCount; ++l) {
        if (kLanguages[l].group == group && algorithm == kLanguages[l].algorithm) return l;
    }
    return -1;
}

TLanguageSet CommonWordLanguages(std::string_view bare) {
    return CommonWords().Find(bare);
}

TLanguageSet LetterLanguages(char32_t c) {
    // Only Cyrillic languages have letters of their own here: Latin ones would be accents,
    // which a text typed without them must not lose.
    if (c < 0x400 || c > 0x4FF) return 0;
    static const std::array<TLanguageSet, 0x100> table = [] {
        std::array<TLanguageSet, 0x100> t{};
        for (int l = 0; l < kLanguageCount; ++l) {
            std::string_view letters = kLanguages[l].letters;
            for (size_t i = 0; i + 1 < letters.size(); i += 2) {
                // Two-byte UTF-8 letters of the Cyrillic block.
                const auto b0 = static_cast<uint8_t>(letters[i]);
                const auto b1 = static_cast<uint8_t>(letters[i + 1]);
                const char32_t c = ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
                if (c >= 0x400 && c <= 0x4FF) t[c - 0x400] |= TLanguageSet{1} << l;
            }
        }
        return t;
    }();
    return table[c - 0x400];
}

namespace {

void StemUncached(int language, std::string& word) {
    if (language == kEnglish) {  // the term vectors' Porter stems
        if (!IsAscii(word) && word.size() > 1) {
            // Porter treats the bytes of other letters as consonants; take its stem unless it
            // would end inside a character.
            std::string stem = word;
            stem.resize(static_cast<size_t>(
                PorterStem(stem.data(), 0, static_cast<int>(stem.size()) - 1) + 1));
            if (stem.size() < word.size() &&
                (static_cast<uint8_t>(word[stem.size()]) & 0xC0) == 0x80)
                return;
            word = std::move(stem);
            return;
        }
        word.resize(
            static_cast<size_t>(PorterStem(word.data(), 0, static_cast<int>(word.size()) - 1) + 1));
        return;
    }
    thread_local TStemmers stemmers;
    const sb_symbol* stem =
        sb_stemmer_stem(stemmers.For(language), reinterpret_cast<const sb_symbol*>(word.data()),
                        static_cast<int>(word.size()));
    if (!stem) throw std::bad_alloc();
    word.assign(reinterpret_cast<const char*>(stem),
                static_cast<size_t>(sb_stemmer_length(stemmers.For(language))));
}

// The stems of the words stemmed last, per thread, one slot per hash value. Words repeat: a
// knowledge base of 100,000 entries holds some ten thousand distinct words, and a look-up costs
// a fraction of a stem.
class TStemCache {
public:
    TStemCache() : fslots(kSlots) {}

    void Stem(int language, std::string& word) {
        TSlot& slot =
            fslots[(Fnv1a(word) ^ static_cast<uint32_t>(language) * 0x9E3779B9u) & (kSlots - 1)];
        if (slot.language == language && slot.word == word) {
            word = slot.stem;
            return;
        }
        slot.language = -1;  // left empty should stemming throw
        slot.word = word;
        StemUncached(language, word);
        slot.stem = word;
        slot.language = language;
    }

private:
    static constexpr size_t kSlots = 8192;
    struct TSlot {
        int language = -1;
        std::string word, stem;
    };
    std::vector<TSlot> fslots;
};

}  // namespace

void StemInPlace(int language, std::string& word) {
    if (language < 0 || word.empty() || !*kLanguages[language].algorithm) return;
    if (language == kEnglish) {  // the Porter stemmer costs no more than a look-up
        StemUncached(language, word);
        return;
    }
    thread_local TStemCache cache;
    cache.Stem(language, word);
}
