// The vocabulary is a few hundred words of help-desk English in rough order of frequency,
// followed by made-up product names, error codes and the like, which fill the long tail. A word
// whose stem an earlier word already has is skipped, so every rank is a term of its own and the
// term frequencies are the Zipf weights (exponent 1) of the ranks (a word with an apostrophe,
// such as "can't", also brings a one-letter term that a few such words share). Texts are drawn word
// by word and cut into sentences; the file is written through kb::SaveEntry on a connection that
// neither syncs nor keeps a journal on disk, which only a throw-away file may do.
#include "bench/kbgen.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include <unistd.h>

#include "core/knowledgebase.h"
#include "sqlite/sqlitedb.h"
#include "textsearch/cvvector.h"

namespace kbgen {
namespace {

// Bumped whenever the texts a seed gives change, so cached files of the old texts are not reused.
constexpr int kVersion = 1;

// clang-format off
constexpr std::string_view kCommonWords[] = {
    "the", "to", "i", "a", "and", "is", "it", "not", "on", "of", "in", "my", "when", "with",
    "printer", "error", "for", "this", "that", "can't", "computer", "after", "from", "user",
    "email", "we", "be", "network", "was", "password", "at", "server", "have", "no", "it's",
    "windows", "file", "open", "does", "but", "screen", "again", "then", "check", "restart", "new",
    "all", "working", "message", "set", "up", "by", "office", "access", "account", "install",
    "update", "driver", "login", "shows", "out", "so", "an", "or", "if", "are", "laptop",
    "connect", "keyboard", "mouse", "monitor", "system", "folder", "drive", "backup", "settings",
    "click", "button", "fixed", "problem", "reboot", "cable", "wifi", "internet", "slow", "crash",
    "freezes", "start", "version", "program", "outlook", "excel", "word", "document", "paper",
    "jam", "tray", "toner", "scanner", "phone", "mobile", "sync", "calendar", "share",
    "permission", "admin", "reset", "lost", "missing", "cannot", "won't", "doesn't", "every",
    "morning", "monday", "still", "only", "some", "other", "after", "before", "because", "now",
    "old", "right", "left", "menu", "option", "select", "save", "saved", "delete", "deleted",
    "copy", "paste", "print", "printed", "page", "pages", "line", "blank", "black", "white", "red",
    "light", "power", "battery", "charger", "usb", "port", "socket", "router", "switch",
    "firewall", "proxy", "vpn", "remote", "desktop", "icon", "taskbar", "browser", "chrome",
    "firefox", "website", "page", "link", "download", "upload", "attachment", "inbox", "spam",
    "virus", "antivirus", "scan", "license", "key", "expired", "renew", "invoice", "accounting",
    "database", "report", "template", "font", "size", "display", "resolution", "sound", "speaker",
    "headset", "microphone", "camera", "meeting", "video", "call", "conference", "room",
    "projector", "hdmi", "adapter", "dock", "station", "fan", "noise", "hot", "disk", "full",
    "space", "memory", "cpu", "task", "manager", "service", "stopped", "running", "queue",
    "spooler", "job", "stuck", "cancel", "retry", "timeout", "address", "ip", "dns", "dhcp",
    "lease", "cache", "cookies", "clear", "history", "profile", "roaming", "domain", "group",
    "policy", "mapped", "offline", "online", "sharepoint", "onedrive", "dropbox", "cloud",
    "storage", "quota", "mailbox", "archive", "pst", "rules", "signature", "contact", "list",
    "address", "book", "shortcut", "registry", "regedit", "boot", "bios", "safe", "mode", "blue",
    "crashes", "dump", "log", "event", "viewer", "warning", "replaced", "replace", "toner",
    "cartridge", "ink", "label", "envelope", "manual", "feed", "duplex", "colour", "tried",
    "worked", "works", "helped", "turned", "off", "unplugged", "plugged", "back", "wait",
    "minutes", "seconds", "hours", "days", "week", "yesterday", "today", "tomorrow", "customer",
    "client", "staff", "boss", "colleague", "reception", "warehouse", "shop", "till", "receipt",
    "barcode", "scanner", "tablet", "ipad", "android", "iphone", "charging", "screenshot",
    "attached", "below", "above", "see", "please", "thanks", "help", "urgent", "asap", "ticket",
    "call", "vendor", "support", "warranty", "hardware", "software", "firmware", "patch",
    "upgrade", "downgrade", "rollback", "uninstall", "reinstall", "compatibility", "legacy",
    "32bit", "64bit", "win7", "win10", "win11"};
// clang-format on

// A made-up word of two or three syllables, or now and then a code of letters and digits.
std::string MadeUpWord(std::mt19937_64& rng) {
    static constexpr std::string_view kOnsets[] = {
        "b", "c", "d", "f",  "g",  "h",  "j",  "k",  "l",  "m",  "n",  "p",  "r",  "s",  "t",
        "v", "w", "z", "br", "cl", "dr", "fl", "gr", "pl", "pr", "sk", "sl", "sp", "st", "tr"};
    static constexpr std::string_view kNuclei[] = {"a", "e", "i", "o", "u", "ai", "ea", "ou"};
    static constexpr std::string_view kCodas[] = {"", "", "", "n", "r", "s", "t", "l", "x", "m"};
    static constexpr std::string_view kCodePrefixes[] = {"kb", "err", "v", "x", "hp", "id"};
    auto pick = [&rng](const auto& list) {
        return list[std::uniform_int_distribution<size_t>(0, std::size(list) - 1)(rng)];
    };
    std::string w;
    if (std::uniform_int_distribution<int>(0, 19)(rng) == 0) {
        w = pick(kCodePrefixes);
        const int digits = std::uniform_int_distribution<int>(2, 7)(rng);
        for (int i = 0; i < digits; ++i)
            w += static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(rng));
        return w;
    }
    const int syllables = std::uniform_int_distribution<int>(2, 3)(rng);
    for (int s = 0; s < syllables; ++s) {
        w += pick(kOnsets);
        w += pick(kNuclei);
        w += pick(kCodas);
    }
    return w;
}

// The stem a word is counted under, as EncodeCV makes it for each of its tokens.
std::string StemKey(std::string_view word) {
    std::string key;
    size_t start = 0;
    for (size_t i = 0; i <= word.size(); ++i) {
        const bool split = i == word.size() || !std::isalnum(static_cast<unsigned char>(word[i]));
        if (!split) continue;
        if (i > start) {
            if (!key.empty()) key += ' ';
            key += Prepared(word.substr(start, i - start));
        }
        start = i + 1;
    }
    return key;
}

}  // namespace

TTextGenerator::TTextGenerator(uint64_t seed) : frng(seed) {
    std::unordered_set<std::string> stems;
    auto add = [&](std::string word) {
        if (stems.insert(StemKey(word)).second) fwords.push_back(std::move(word));
    };
    for (const std::string_view w : kCommonWords)
        add(std::string(w));
    std::mt19937_64 wordRng(seed ^ 0x5EED0F70CAB0ULL);
    while (fwords.size() < kVocabulary)
        add(MadeUpWord(wordRng));
    double sum = 0;
    fcumulative.reserve(fwords.size());
    for (size_t r = 0; r < fwords.size(); ++r) {
        sum += 1.0 / static_cast<double>(r + 1);
        fcumulative.push_back(sum);
    }
}

double TTextGenerator::Probability(size_t rank) const {
    return 1.0 / static_cast<double>(rank + 1) / fcumulative.back();
}

size_t TTextGenerator::DrawRank() {
    const double u = std::uniform_real_distribution<double>(0, fcumulative.back())(frng);
    const auto it = std::lower_bound(fcumulative.begin(), fcumulative.end(), u);
    return std::min(static_cast<size_t>(it - fcumulative.begin()), fwords.size() - 1);
}

std::string TTextGenerator::Text(size_t words) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::string text;
    size_t left = words;
    while (left > 0) {
        const size_t sentence = std::min(left, std::uniform_int_distribution<size_t>(4, 14)(frng));
        if (!text.empty()) text += percent(frng) < 20 ? "\r\n" : " ";
        for (size_t i = 0; i < sentence; ++i) {
            if (i > 0) text += percent(frng) < 6 ? ", " : " ";
            std::string word = fwords[DrawRank()];
            if (i == 0)
                word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
            text += word;
        }
        const int end = percent(frng);
        text += end < 85 ? "." : end < 95 ? "?" : "!";
        left -= sentence;
    }
    fwordsMade += words;
    return text;
}

std::string TTextGenerator::StoredText() {
    return Text(std::uniform_int_distribution<size_t>(kMinWords, kMaxWords)(frng));
}

TGenerated Generate(const std::string& file, size_t entries, uint64_t seed) {
    namespace fs = std::filesystem;
    if (fs::exists(file)) throw std::runtime_error("kbgen: " + file + " exists already");
    const std::string partial = file + ".part" + std::to_string(getpid());
    fs::remove(partial);
    const auto start = std::chrono::steady_clock::now();
    TGenerated made;
    try {
        TSQLiteDatabase DB(partial);
        // A file that a crash would spoil is simply made again, so nothing needs to reach the
        // disk before the end.
        DB.GetTable("PRAGMA journal_mode=MEMORY");
        DB.ExecSQL("PRAGMA synchronous=OFF");
        kb::CreateMissingTables(DB);
        TTextGenerator generator(seed);
        for (size_t e = 0; e < entries; ++e) {
            const std::string problem = generator.StoredText();
            const std::string solution = generator.StoredText();
            kb::SaveEntry(DB, problem, solution);
        }
        made.words = generator.WordsMade();
        made.entries = entries;
    } catch (...) {
        fs::remove(partial);
        throw;
    }
    fs::rename(partial, file);
    made.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return made;
}

std::string CachedKnowledgeBase(const std::string& dir, size_t entries, uint64_t seed) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(dir) / ("kb-v" + std::to_string(kVersion) + "-" +
                                             std::to_string(entries) + "-" + std::to_string(seed));
    fs::create_directories(folder);
    const std::string file = kb::KnowledgeBaseFile(folder.string());
    if (!fs::exists(file)) Generate(file, entries, seed);
    return file;
}

}  // namespace kbgen
