// The text size: the menu, what it applies to, what it stores and when, and the stored values
// that a start-up cannot use.
#include <QAction>
#include <QPlainTextEdit>
#include <string>

#include "textsearch/renderpanel/vrenderpanel.h"
#include "uitest.h"

namespace {

class TextSizeTest : public MainWindowTest {
protected:
    std::string Stored() {
        return FileDB().GetTableString("select value from settings where ID='FONTSIZE'");
    }

    // Counts every write to the settings table from here on (a trigger in the file itself, so
    // it also counts the writes of main windows opened later on the same file).
    void CountWrites() {
        FileDB().ExecSQL("create table sizewrites (n integer)");
        FileDB().ExecSQL("insert into sizewrites values (0)");
        FileDB().ExecSQL(
            "create trigger countsizewrites after update on settings begin update sizewrites set "
            "n = n + 1; end");
    }
    int Writes() { return std::stoi(FileDB().GetTableString("select n from sizewrites")); }

    // A knowledge base whose settings were then changed by statement; the window is reopened.
    TForm1& OpenWith(const std::string& sql) {
        Open();
        FileDB().ExecSQL(sql);
        return Open();
    }

    // The size shown by both text boxes and the results list, when they agree; -1 otherwise.
    int ShownSize() {
        const int size = form->ProblemText->font().pointSize();
        if (form->SolutionText->font().pointSize() != size) return -1;
        if (form->Results->font().pointSize() != size) return -1;
        return size;
    }
};

TEST_F(TextSizeTest, ANewKnowledgeBaseShowsTenPointsAndStoresItAtOnce) {
    TForm1& f = Open();
    EXPECT_EQ(dialogs->shown.size(), 0u);
    EXPECT_EQ(f.FontSize(), 10);
    EXPECT_EQ(f.ProblemTextSize(), 10);
    EXPECT_EQ(ShownSize(), 10);
    EXPECT_EQ(Stored(), "10");

    // Every start writes the size it read back at once.
    CountWrites();
    Open();
    EXPECT_EQ(Writes(), 1);
    EXPECT_EQ(Stored(), "10");
}

TEST_F(TextSizeTest, LargerGrowsWithoutLimitAndEveryStepIsStoredForTheNextStart) {
    TForm1& f = Open();
    CountWrites();
    f.Larger1->trigger();
    EXPECT_EQ(f.FontSize(), 11);
    EXPECT_EQ(f.ProblemTextSize(), 11);
    EXPECT_EQ(ShownSize(), 11);
    EXPECT_EQ(Stored(), "11");
    EXPECT_EQ(Writes(), 1);

    TForm1& again = Open();
    EXPECT_EQ(again.FontSize(), 11);
    EXPECT_EQ(ShownSize(), 11);

    for (int i = 0; i < 30; ++i)
        again.Larger1->trigger();
    EXPECT_EQ(again.FontSize(), 41);
    EXPECT_EQ(ShownSize(), 41);
    EXPECT_EQ(Stored(), "41");
    EXPECT_EQ(Writes(), 1 + 1 + 30);  // the first Larger, the reopening, thirty more
}

TEST_F(TextSizeTest, LargerStopsAtTheLargestStorableSize) {
    // One more would not fit the size's 32 bits: it would wrap to a negative size that the next
    // start could not read back.
    TForm1& f = OpenWith("update settings set value='2147483647' where ID='FONTSIZE'");
    ASSERT_EQ(f.FontSize(), 2147483647);
    CountWrites();
    f.Larger1->trigger();
    EXPECT_EQ(f.FontSize(), 2147483647);
    EXPECT_EQ(Stored(), "2147483647");
    EXPECT_EQ(Writes(), 0);
    f.Smaller1->trigger();
    EXPECT_EQ(f.FontSize(), 2147483646);
}

TEST_F(TextSizeTest, SmallerStopsAtSixWithoutWriting) {
    TForm1& f = OpenWith("update settings set value='7' where ID='FONTSIZE'");
    ASSERT_EQ(f.FontSize(), 7);
    CountWrites();
    f.Smaller1->trigger();
    EXPECT_EQ(f.FontSize(), 6);
    EXPECT_EQ(ShownSize(), 6);
    EXPECT_EQ(Stored(), "6");
    EXPECT_EQ(Writes(), 1);

    f.Smaller1->trigger();
    f.Smaller1->trigger();
    EXPECT_EQ(f.FontSize(), 6);
    EXPECT_EQ(ShownSize(), 6);
    EXPECT_EQ(Writes(), 1);

    f.Larger1->trigger();
    EXPECT_EQ(f.FontSize(), 7);
    EXPECT_EQ(Stored(), "7");
}

TEST_F(TextSizeTest, AStoredZeroOrEmptyValueIsSizeZero) {
    for (const char* value : {"0", "", "00"}) {
        SCOPED_TRACE(std::string("stored '") + value + "'");
        TForm1& f =
            OpenWith(std::string("update settings set value='") + value + "' where ID='FONTSIZE'");
        EXPECT_EQ(dialogs->shown.size(), 0u);
        EXPECT_EQ(f.FontSize(), 0);
        EXPECT_EQ(f.ProblemTextSize(), 0);
        EXPECT_EQ(Stored(), "0");  // written back in decimal at once

        f.Smaller1->trigger();
        EXPECT_EQ(f.FontSize(), 0);
        EXPECT_EQ(Stored(), "0");

        f.Larger1->trigger();
        EXPECT_EQ(f.FontSize(), 1);
        EXPECT_EQ(f.ProblemTextSize(), 1);
        EXPECT_EQ(ShownSize(), 1);
        EXPECT_EQ(Stored(), "1");
    }
}

TEST_F(TextSizeTest, AStoredSizeThatCannotBeReadIsReportedAndLeftAsItWas) {
    struct TCase {
        const char* setup;
        const char* message;
    };
    const TCase cases[] = {
        {"delete from settings", "Table is at End of File."},
        {"update settings set value='abc' where ID='FONTSIZE'",
         "'0abc' is not a valid integer value."},
        {"update settings set value='-3' where ID='FONTSIZE'",
         "'0-3' is not a valid integer value."},
        {"update settings set value=' 12' where ID='FONTSIZE'",
         "'0 12' is not a valid integer value."},
        {"update settings set value='1.5' where ID='FONTSIZE'",
         "'01.5' is not a valid integer value."},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.setup);
        Open();
        // One file for all cases: each starts from the one row a new file has.
        FileDB().ExecSQL("delete from settings");
        FileDB().ExecSQL("insert into settings values ('FONTSIZE','10')");
        FileDB().ExecSQL(c.setup);
        const std::string before =
            FileDB().GetTable("select group_concat(value, '|') from settings")->FieldAsString(0);
        dialogs->shown.clear();
        TForm1& f = Open();
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_TRUE(dialogs->shown[0].error);
        EXPECT_EQ(dialogs->shown[0].title.toStdString(), "Pelloquin?!?! Tromsel Veru v1.0");
        EXPECT_EQ(dialogs->shown[0].text.toStdString(), c.message);
        // Nothing was applied, so nothing was written over the stored value.
        EXPECT_EQ(f.FontSize(), 0);
        EXPECT_EQ(
            FileDB().GetTable("select group_concat(value, '|') from settings")->FieldAsString(0),
            before);
    }
}

TEST_F(TextSizeTest, AFailedWriteIsReportedAfterTheSizeIsApplied) {
    TForm1& f = Open();
    FileDB().ExecSQL(
        "create trigger readonlysettings before update on settings begin select "
        "raise(abort, 'settings are read-only'); end");
    EXPECT_FALSE(RunHandler([&] { f.Larger1Click(); }));
    ASSERT_EQ(dialogs->Errors(), 1);
    const QString text = dialogs->shown[0].text;
    EXPECT_TRUE(text.contains("update settings set value='11' where ID='FONTSIZE'"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("settings are read-only")) << text.toStdString();
    EXPECT_EQ(f.FontSize(), 11);
    EXPECT_EQ(ShownSize(), 11);
    EXPECT_EQ(Stored(), "10");
}

}  // namespace
