// Choosing the knowledge base: what a text names, the saved choice and the environment's, no
// password ever kept, the store each choice makes, and the network-file warning given once per
// file. No server is needed.
#include "core/store/storechoice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "choicetest.h"
#include "core/store/pgstore.h"
#include "core/store/sqlitestore.h"
#include "kbtool/kbtool.h"

namespace {

using StoreChoiceTest = TChoiceTest;

TEST_F(StoreChoiceTest, ATextNamesTheServerOnlyAsAConnectionStringOrURI) {
    using K = TStoreChoice::TKind;
    const std::pair<const char*, K> cases[] = {
        {"", K::File},
        {"/home/ann/pelloquin.dat", K::File},
        {"pelloquin.dat", K::File},
        {"/srv/share=kb/pelloquin.dat", K::File},
        {"./host=kb", K::File},
        {"backup=old.dat", K::Server},  // no such option: opening it says so
        {"host=localhost dbnme=kb", K::Server},
        {"postgressql://kb.office/kb", K::Server},
        {"service=office", K::Server},
        {"host=kb.office dbname=kb user=ann", K::Server},
        {"postgresql://kb.office/kb", K::Server},
        {"postgres://ann@kb.office:5433/kb?sslmode=require", K::Server},
    };
    for (const auto& [text, kind] : cases) {
        const TStoreChoice choice = ParseChoice(text);
        EXPECT_EQ(choice.kind, kind) << text;
        EXPECT_EQ(choice.where, text);
    }
    EXPECT_EQ(ServerChoice("office").where, "service=office");
    EXPECT_EQ(ServerChoice("host=kb dbname=kb").where, "host=kb dbname=kb");
    EXPECT_THROW(ServerChoice("host=kb colour=blue"), Exception);
}

TEST_F(StoreChoiceTest, TheSavedChoiceHoldsUntilChangedAndTheEnvironmentOverridesIt) {
    EXPECT_EQ(CurrentChoice(), TStoreChoice{});

    SaveChoice(ServerChoice("office"));
    TStoreChoice current = CurrentChoice();
    EXPECT_TRUE(current.IsServer());
    EXPECT_EQ(current.where, "service=office");
    EXPECT_EQ(current.source, TStoreChoice::TSource::Saved);

    // A password is refused and the saved choice stays as it was.
    EXPECT_THROW(SaveChoice(ServerChoice("host=kb password=secret")), Exception);
    EXPECT_THROW(SaveChoice(ServerChoice("postgresql://ann:secret@kb/kb")), Exception);
    EXPECT_EQ(CurrentChoice(), current);

    // A relative path is kept whole, so that it names the same file from anywhere.
    SaveChoice(FileChoice("kb/pelloquin.dat"));
    current = CurrentChoice();
    EXPECT_FALSE(current.IsServer());
    EXPECT_EQ(current.where, (std::filesystem::current_path() / "kb/pelloquin.dat").string());

    setenv("PELLOQUIN_DATABASE", "host=kb dbname=kb", 1);
    current = CurrentChoice();
    EXPECT_TRUE(current.IsServer());
    EXPECT_EQ(current.where, "host=kb dbname=kb");
    EXPECT_EQ(current.source, TStoreChoice::TSource::Environment);
    setenv("PELLOQUIN_DATABASE", "", 1);
    EXPECT_EQ(CurrentChoice().source, TStoreChoice::TSource::Saved);
}

TEST_F(StoreChoiceTest, EachChoiceMakesItsStoreAndAServersPasswordIsNeverShown) {
    const std::string file = dir.File("pelloquin.dat");
    const auto local = MakeStore(FileChoice(file));
    EXPECT_NE(dynamic_cast<TSQLiteStore*>(local.get()), nullptr);
    EXPECT_EQ(local->Location(), file);

    const auto server = MakeServerStore("host=kb.office dbname=kb password=secret");
    EXPECT_NE(dynamic_cast<TPgStore*>(server.get()), nullptr);
    EXPECT_EQ(server->Location().find("secret"), std::string::npos);
    EXPECT_NE(server->Location().find("kb.office"), std::string::npos);
    EXPECT_EQ(MakeServerStore("office")->Location(), "service=office");
}

TEST_F(StoreChoiceTest, AConnectionStringIsNeverAFileAndNoMessageAboutOneShowsItsPassword) {
    const std::string secret = "s3cr3t-pw";
    // Readable strings name a server that is not there (a socket folder that does not exist),
    // so that connecting fails at once.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"host=/nonexistent password=" + secret + " dbname=kb", secret},
        {"host=/nonexistent password = '" + secret + "' dbname=kb", secret},
        {"host=/nonexistent password='" + secret, secret},
        {"host=kb dbnme=kb password=" + secret, secret},
        {"host=kb password=" + secret + " pass word=x", secret},
        {"password=" + secret + " host", secret},
        {"postgresql://ann:" + secret + "@%2Fnonexistent/kb", secret},
        {"postgresql://ann:s3cr%zz3t@kb/kb", "s3cr%zz3t"},
        {"postgresql://ann:" + secret + "@[::1/kb", secret},
        {"postgresql://ann:" + secret + "@kb/kb?colour=blue", secret},
        {"postgresql://kb/kb?password=" + secret + "&colour=blue", secret},
        {"postgresql://kb/kb?password=s3%zzcret", "s3%zzcret"},
        {"postgres://ann:s3cr%2Dpw@%2Fnonexistent/kb", "s3cr-pw"},
        {"postgresql://ann:%00" + secret + "@kb/kb", secret},
    };
    for (const auto& [text, password] : cases) {
        SCOPED_TRACE(text);
        std::vector<std::string> shown;
        auto raised = [&](const std::function<void()>& f) {
            try {
                f();
            } catch (const std::exception& e) {
                shown.push_back(e.what());
            }
        };
        const TStoreChoice choice = ParseChoice(text);
        EXPECT_TRUE(choice.IsServer());
        raised([&] { ServerChoice(text); });
        raised([&] { KeptChoiceText(choice); });
        const auto store = MakeStore(choice);
        shown.push_back(store->Location());
        raised([&] { store->Open(); });
        EXPECT_NE(shown.back(), store->Location()) << "opened";
        std::ostringstream out, err;
        EXPECT_EQ(RunKbTool({"--server", text, "stats"}, out, err), kExitUsage);
        shown.push_back(err.str());
        setenv("PELLOQUIN_DATABASE", text.c_str(), 1);
        std::ostringstream out2, err2;
        EXPECT_EQ(RunKbTool({"stats"}, out2, err2), kExitUsage);
        shown.push_back(err2.str());
        unsetenv("PELLOQUIN_DATABASE");
        for (const std::string& message : shown) {
            EXPECT_EQ(message.find(password), std::string::npos) << message;
            EXPECT_EQ(message.find(secret), std::string::npos) << message;
        }
        EXPECT_FALSE(std::filesystem::exists(text));
    }
    // A misspelt keyword is named.
    try {
        MakeStore(ParseChoice("host=kb dbnme=kb"))->Open();
        ADD_FAILURE() << "opened";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("dbnme"), std::string::npos) << e.what();
    }
}

TEST_F(StoreChoiceTest, TheNetworkFileWarningComesOncePerFile) {
    auto network = [](const std::string&) { return true; };
    auto local = [](const std::string&) { return false; };
    const std::string a = dir.File("a/pelloquin.dat"), b = dir.File("b/pelloquin.dat");
    EXPECT_FALSE(WarnOfNetworkFileNow(a, local));
    EXPECT_TRUE(WarnOfNetworkFileNow(a, network));
    EXPECT_FALSE(WarnOfNetworkFileNow(a, network));
    EXPECT_TRUE(WarnOfNetworkFileNow(b, network));
    EXPECT_FALSE(WarnOfNetworkFileNow(dir.File("a/../a/pelloquin.dat"), network));
    EXPECT_FALSE(WarnOfNetworkFileNow(b, network));
}

}  // namespace
