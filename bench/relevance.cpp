// Reading the labelled data and scoring a ranking on it.
//
// SemEval (question-question similarity): the knowledge base of a split holds every related
// question of every original question (subject as the problem's first line, body after it), the
// query is the original's subject and body, and the measure follows the task's scorer: the 10
// candidates of the original are ordered as they come in the ranking, those not listed after
// them in the search engine's order; average precision over the first 10 with its relevant ones
// as the denominator, a query without any relevant candidate counting 0 in the mean.
// GitBugs: every report of a project is an entry (summary, then description); each duplicate
// link is a query, the report asking, its duplicate the one to find among all the others.
#include "bench/relevance.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace relevance {
namespace {

std::string ReadGzip(const std::string& path) {
    if (FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        throw std::runtime_error("cannot read " + path);
    }
    const std::string command = "gzip -dc '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    if (pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
    return out;
}

std::string ReadFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + path);
    std::string out;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        out.append(buffer, n);
    std::fclose(f);
    return out;
}

void AppendUtf8(std::string& out, unsigned c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        const size_t semi = s.find(';', i);
        if (semi == std::string_view::npos) {
            out += s[i];
            continue;
        }
        const std::string_view name = s.substr(i + 1, semi - i - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (!name.empty() && name[0] == '#')
            AppendUtf8(out, static_cast<unsigned>(
                                name.size() > 1 && name[1] == 'x'
                                    ? std::stoul(std::string(name.substr(2)), nullptr, 16)
                                    : std::stoul(std::string(name.substr(1)))));
        else {
            out += s[i];
            continue;
        }
        i = semi;
    }
    return out;
}

// The text of the next <tag ...>text</tag> at or after from; from moves past it.
std::string Element(const std::string& xml, const std::string& tag, size_t& from) {
    const size_t open = xml.find("<" + tag, from);
    if (open == std::string::npos) return {};
    const size_t start = xml.find('>', open) + 1;
    const size_t close = xml.find("</" + tag + ">", start);
    from = close + tag.size() + 3;
    return Unescape(std::string_view(xml).substr(start, close - start));
}

std::string Attribute(const std::string& xml, const std::string& name, size_t from) {
    const size_t at = xml.find(name + "=\"", from);
    const size_t start = at + name.size() + 2;
    return xml.substr(start, xml.find('"', start) - start);
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out(1);
    for (const char c : line)
        if (c == '\t')
            out.emplace_back();
        else if (c != '\r')
            out.back() += c;
    return out;
}

// RFC 4180 rows: quoted fields may hold commas, doubled quotes and line breaks.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                rows.back().back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                rows.back().back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\n') {
            rows.emplace_back(1);
        } else if (c != '\r') {
            rows.back().back() += c;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
    return rows;
}

double Median(std::vector<size_t> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? static_cast<double>(v[n / 2]) : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

}  // namespace

TSplit ReadSemEval(const std::string& folder, bool test) {
    const std::string base = folder + "/semeval2016-task3/SemEval2016-Task3-CQA-QL-";
    const std::string xml = ReadGzip(base + (test ? "test-input.xml.gz" : "dev.xml.gz"));
    const std::string gold =
        ReadFile(base + (test ? "test.xml.subtaskB.relevancy" : "dev.xml.subtaskB.relevancy"));
    TSplit split;
    split.name = test ? "SemEval test" : "SemEval dev";
    split.semeval = true;
    std::map<std::string, size_t> entryOf, queryOf;
    size_t at = 0;
    while ((at = xml.find("<OrgQuestion ", at)) != std::string::npos) {
        const std::string orgId = Attribute(xml, "ORGQ_ID", at);
        std::string subject = Element(xml, "OrgQSubject", at);
        std::string body = Element(xml, "OrgQBody", at);
        const size_t rel = xml.find("<RelQuestion ", at);
        const std::string relId = Attribute(xml, "RELQ_ID", rel);
        at = rel;
        std::string relSubject = Element(xml, "RelQSubject", at);
        std::string relBody = Element(xml, "RelQBody", at);
        if (!queryOf.count(orgId)) {
            queryOf[orgId] = split.queries.size();
            TQuery q;
            q.full = subject + "\n" + body;
            q.title = subject;
            split.queries.push_back(q);
        }
        if (!entryOf.count(relId)) {
            entryOf[relId] = split.entries.size();
            split.entries.push_back(TEntry{relId, relSubject + "\n" + relBody, ""});
        }
    }
    // The gold file lists each original's candidates in the search engine's order.
    size_t line = 0;
    while (line < gold.size()) {
        size_t end = gold.find('\n', line);
        if (end == std::string::npos) end = gold.size();
        const std::vector<std::string> f = SplitTabs(gold.substr(line, end - line));
        line = end + 1;
        if (f.size() < 5) continue;
        TQuery& q = split.queries.at(queryOf.at(f[0]));
        q.candidates.push_back(entryOf.at(f[1]));
        q.relevant.push_back(f[4] == "true");
    }
    return split;
}

TSplit ReadGitBugs(const std::string& folder, const std::string& project) {
    const std::vector<std::vector<std::string>> bugs =
        ReadCsv(ReadGzip(folder + "/gitbugs/" + project + "_bugs.csv.gz"));
    const std::vector<std::vector<std::string>> links =
        ReadCsv(ReadFile(folder + "/gitbugs/" + project + "_bugs-combined.csv"));
    TSplit split;
    split.name = "GitBugs " + project;
    const std::vector<std::string>& header = bugs.at(0);
    auto column = [&](const std::string& name) {
        const auto it = std::find(header.begin(), header.end(), name);
        if (it == header.end()) throw std::runtime_error("no column " + name);
        return static_cast<size_t>(it - header.begin());
    };
    const size_t summary = column("Summary"), id = column("Issue id"),
                 description = column("Description");
    std::map<std::string, size_t> entryOf;
    for (size_t r = 1; r < bugs.size(); ++r) {
        const std::vector<std::string>& row = bugs[r];
        if (row.size() != header.size()) continue;
        entryOf[row[id]] = split.entries.size();
        split.entries.push_back(TEntry{row[id], row[summary] + "\n" + row[description], ""});
    }
    // A row may name several duplicates ("a, b"): one query each.
    for (size_t r = 1; r < links.size(); ++r) {
        if (links[r].size() < 2) continue;
        const auto a = entryOf.find(links[r][0]);
        if (a == entryOf.end()) continue;
        std::string list = links[r][1] + ",";
        for (size_t from = 0, comma; (comma = list.find(',', from)) != std::string::npos;
             from = comma + 1) {
            std::string one = list.substr(from, comma - from);
            one.erase(0, one.find_first_not_of(' '));
            const auto b = entryOf.find(one);
            if (b == entryOf.end()) continue;
            TQuery q;
            const TEntry& asking = split.entries[a->second];
            q.full = asking.problem;
            q.title = asking.problem.substr(0, asking.problem.find('\n'));
            q.self = a->second;
            q.duplicate = b->second;
            split.queries.push_back(q);
        }
    }
    return split;
}

TFigures Measure(const TSplit& split, TRanker& ranker, bool titleOnly) {
    TFigures out;
    std::vector<size_t> listed;
    for (const TQuery& q : split.queries) {
        std::vector<size_t> ranked = ranker.Rank(titleOnly ? q.title : q.full);
        if (q.self != SIZE_MAX)
            ranked.erase(std::remove(ranked.begin(), ranked.end(), q.self), ranked.end());
        listed.push_back(ranked.size());
        if (split.semeval) {
            // The candidates as listed, then the unlisted ones in the engine's order.
            std::vector<size_t> order;
            for (const size_t e : ranked)
                for (size_t c = 0; c < q.candidates.size(); ++c)
                    if (q.candidates[c] == e) order.push_back(c);
            for (size_t c = 0; c < q.candidates.size(); ++c)
                if (std::find(order.begin(), order.end(), c) == order.end()) order.push_back(c);
            double found = 0, precisions = 0, reciprocal = 0, at1 = 0, at5 = 0;
            for (size_t i = 0; i < order.size() && i < 10; ++i) {
                if (!q.relevant[order[i]]) continue;
                ++found;
                precisions += found / static_cast<double>(i + 1);
                if (reciprocal == 0) reciprocal = 1.0 / static_cast<double>(i + 1);
                if (i < 1) ++at1;
                if (i < 5) ++at5;
            }
            out.m[0] += found > 0 ? precisions / found : 0;
            out.m[1] += reciprocal;
            out.m[2] += at1;
            out.m[3] += at5 / 5;
        } else {
            const auto it = std::find(ranked.begin(), ranked.end(), q.duplicate);
            if (it != ranked.end()) {
                const size_t rank = static_cast<size_t>(it - ranked.begin()) + 1;
                out.m[0] += 1.0 / static_cast<double>(rank);
                out.m[1] += rank <= 1;
                out.m[2] += rank <= 5;
                out.m[3] += rank <= 10;
            }
        }
    }
    for (double& m : out.m)
        m = 100 * m / static_cast<double>(split.queries.size());
    out.medianListed = Median(listed);
    return out;
}

}  // namespace relevance
