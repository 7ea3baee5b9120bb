// Best match in nine languages, as a user types: each entry comes first for inflected forms of
// its words and for its words typed without their accents, among entries of every other language.
#include <gtest/gtest.h>

#include "core/knowledgebase.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "tempdir.h"

namespace {

struct TCase {
    const char* problem;
    const char* solution;
    std::vector<const char*> queries;  // each must list this entry first
};

const TCase kCases[] = {
    {"Der Zähler zeigt falsche Werte", "Zählerstand neu einlesen",
     {"Zählers", "zahler", "Zählern Kopie"}},
    {"Принтер не печатает документы", "Переустановить драйвер принтера",
     {"принтеры", "принтера", "документов"}},
    {"Le réseau de l'imprimante est coupé", "Redémarrer le routeur",
     {"reseau", "réseaux", "redemarrer"}},
    {"Ο εκτυπωτής δεν λειτουργεί", "Επανεκκίνηση του υπολογιστή",
     {"εκτυπωτές", "εκτυπωτης", "λειτουργει"}},
    {"La impresora no imprime las páginas", "Cambiar el cartucho de tinta",
     {"impresoras", "pagina", "cartuchos"}},
    {"Zażółć gęślą jaźń drukarka", "Wymień toner w drukarce", {"zazolc", "gesla", "drukarka"}},
    {"打印机无法打印文件", "重新安装驱动程序", {"打印", "驱动程序", "文件"}},
    {"プリンターが印刷できません", "ドライバーを再インストールする", {"プリンター", "印刷"}},
    {"The scanner keeps jamming", "Clean the rollers of the scanner",
     {"scanners", "jammed", "roller"}},
};

TEST(Multilingual, EveryEntryComesFirstForItsInflectedAndUnaccentedWords) {
    TTempDir dir;
    const std::string file = kb::KnowledgeBaseFile(dir.Path());
    TSQLiteStore store(file);
    store.Open();
    std::vector<std::string> IDs;
    for (const TCase& c : kCases)
        IDs.push_back(store.SaveEntry(StoredFromUtf8(c.problem), StoredFromUtf8(c.solution), nullptr));

    TSearchIndex index(TRanking::BestMatch);
    store.LoadAll(index);
    index.Settle();
    for (size_t i = 0; i < std::size(kCases); ++i) {
        for (const char* query : kCases[i].queries) {
            for (const bool typing : {false, true}) {
                const auto pass = index.SearchBest(StoredFromUtf8(query), typing);
                ASSERT_GT(pass->tree->Count(), 0) << query;
                const TcvResults& first = *pass->tree->Items(pass->tree->Count() - 1)->data;
                EXPECT_EQ(first.ID, IDs[i]) << query << (typing ? " (typing)" : "");
            }
        }
    }
}

}  // namespace
